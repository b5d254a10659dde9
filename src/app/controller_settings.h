// What a controller is made with: the sites it serves, the time limits of its transfers,
// and the folder where what outlives a run is kept. The program uses the defaults with
// DataFolder(); tests point the sites at a local server, shorten the limits and keep
// nothing (or keep it in a temporary folder).
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "engine/picture_range.h"
#include "engine/retry.h"
#include "engine/site_adapter.h"
#include "net/session.h"
#include "sites/sites.h"

namespace pageloom {

// Makes the adapters of the sites a controller serves, in the order in which an address is
// offered to them.
using SiteRegistry =
    std::function<std::vector<std::unique_ptr<SiteAdapter>>(const SiteNames& names)>;

struct ControllerSettings {
  SiteNames sites = DefaultSiteNames();
  // The sites: one worker each. The real ones by default.
  SiteRegistry registry = MakeSiteAdapters;
  NetTimeouts timeouts;
  // How pages and pictures that fail for a passing reason are tried again.
  RetryPolicy retry;
  // Whether a worker works one picture ahead: the EH worker fetches the next picture page
  // while a picture downloads, the DMZJ worker the next picture while one is stored. At
  // most two requests of one site are then in flight; rows and files are as without.
  bool overlap = true;
  // The User-Agent of every request; empty: the session's own (PAGELOOM_USER_AGENT, or
  // "pageLoom").
  std::string userAgent;
  // A worker banned by its site waits until the ban ends and goes on by itself; a ban
  // longer than this ends its walk instead (none: every ban is waited out).
  std::optional<std::chrono::seconds> longestBanWait;
  // The least interval between two requests to one site, with its random part; off by
  // default. With a data folder, the one the window set last is taken instead of none.
  Pacing pacing;
  // The most chapters one Add follows along next-chapter links.
  int maxChain = 5000;
  // The queue and the cookies are kept here; empty: nothing outlives the controller.
  std::filesystem::path dataFolder;
  // The download record: this file; empty: record.sqlite in the data folder, or none
  // without a data folder.
  std::filesystem::path recordFile;
  // Add makes tasks of what the record knows as downloaded, without asking.
  bool downloadAgain = false;
  // Only these pictures of each task are stored this run; nothing: all.
  std::optional<PictureRange> range;
  // Runs on the add thread with each task folder name just before it is claimed (tests
  // line up two programs' claims with it).
  std::function<void(std::u16string_view folder)> beforeFolderClaim;
  // Makes the threads of the workers; throws std::system_error when it cannot. Empty: a
  // std::thread (tests see a failed creation with their own).
  std::function<std::thread(std::function<void()>)> threadStarter;
  // Runs on a worker each time it has reached the end of its walk, before it decides
  // whether to end (tests press Start at that moment).
  std::function<void(int siteKind)> walkEndHook;
};

}  // namespace pageloom
