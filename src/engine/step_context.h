// What a download step works with: the session it fetches with (its switch stops the
// step), the calling worker's page buffer, the user to ask, the sites' names, how
// transfers that fail for a passing reason are tried again, and the worker's script
// helper (none: each evaluation starts one of its own), who hears of a picture's bytes, and
// the worker's helpers that work ahead of the step (none: the steps go one after the other).
#pragma once

#include <cstdint>
#include <functional>

#include "net/page_buffer.h"

namespace pageloom {

class BanClock;
class PageAhead;
class PictureRange;
class PictureAhead;
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
  // Hears of the bytes of the picture in flight (total -1 when unknown); may be empty.
  std::function<void(std::uint64_t received, std::int64_t total)> pictureProgress;
  // EH: the next picture page is fetched while the step's picture downloads.
  PageAhead* pageAhead = nullptr;
  // DMZJ: the next picture of the list is stored while the step's picture is.
  PictureAhead* pictureAhead = nullptr;
  // The pictures to store, by their number in their task; none: all. The others are
  // named and counted as pictures on disk are, without a transfer.
  const PictureRange* range = nullptr;
  // The ban of the worker's site: a step that meets one sets it (none: not kept).
  BanClock* ban = nullptr;
};

}  // namespace pageloom
