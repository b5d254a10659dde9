// What a download step works with: the session it fetches with (its switch stops the
// step), the calling worker's page buffer, the user to ask, and the sites' names.
#pragma once

#include "net/page_buffer.h"

namespace pageloom {

class Session;
class UserPrompt;
struct SiteNames;

struct StepContext {
  Session& session;
  PageBuffer& page;
  UserPrompt& ui;
  const SiteNames& sites;
};

}  // namespace pageloom
