// What a download step works with: the session it fetches with (its switch stops the
// step), the calling worker's page buffer, the user to ask, the sites' names, how
// transfers that fail for a passing reason are tried again, and the worker's script
// helper (none: each evaluation starts one of its own).
#pragma once

#include "net/page_buffer.h"

namespace pageloom {

class ScriptHost;
class Session;
class UserPrompt;
struct RetryPolicy;
struct SiteNames;

struct StepContext {
  Session& session;
  PageBuffer& page;
  UserPrompt& ui;
  const SiteNames& sites;
  const RetryPolicy& retry;
  ScriptHost* scripts = nullptr;
};

}  // namespace pageloom
