// What a controller is made with: the sites it serves, the time limits of its transfers,
// and the folder where what outlives a run is kept. The program uses the defaults with
// DataFolder(); tests point the sites at a local server, shorten the limits and keep
// nothing (or keep it in a temporary folder).
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

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
  // The most chapters one Add follows along next-chapter links.
  int maxChain = 5000;
  // The queue and the cookies are kept here; empty: nothing outlives the controller.
  std::filesystem::path dataFolder;
};

}  // namespace pageloom
