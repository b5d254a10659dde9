// Controller settings for tests: the given sites, short time limits, and retries that
// pause for a millisecond instead of seconds.
#pragma once

#include <chrono>

#include "app/controller_settings.h"

namespace pageloom::test {

inline ControllerSettings TestSettings(SiteNames sites, NetTimeouts timeouts = {2, 2}) {
  ControllerSettings settings;
  settings.sites = std::move(sites);
  settings.timeouts = timeouts;
  settings.retry.pauses.assign(3, std::chrono::milliseconds(1));
  return settings;
}

}  // namespace pageloom::test
