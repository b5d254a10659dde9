// What a controller is made with: the sites it serves and the time limits of its
// transfers. The program uses the defaults; tests point the sites at a local server and
// shorten the limits.
#pragma once

#include "net/session.h"
#include "tasks/sites.h"

namespace pageloom {

struct ControllerSettings {
  SiteNames sites = DefaultSiteNames();
  NetTimeouts timeouts;
};

}  // namespace pageloom
