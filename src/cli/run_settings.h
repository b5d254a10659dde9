// The controller settings of a pageloom-cli run. The real sites and pauses unless the
// environment says otherwise, which the tests do to point the program at a local server:
//   PAGELOOM_SITES_FILE       a file of "name=value" lines naming the sites (see below)
//   PAGELOOM_RETRY_PAUSES_MS  the pauses before the retries, e.g. "1,1,1"
// Neither is meant for users; --help does not show them.
#pragma once

#include <filesystem>
#include <string>

#include "app/controller_settings.h"

namespace pageloom::cli {

struct SettingsReading {
  ControllerSettings settings;
  std::string error;  // empty: read
};

// The settings with the overrides applied; `sitesFile` and `retryPauses` are the values of
// the variables above (null when unset). The sites file's names are eh-host-marker,
// eh-mirror-marker, dmzj-host, dmzj-site-root and dmzj-picture-host; a name it leaves out
// keeps its real value. `dataFolder` is where the queue and cookies last (empty: nothing
// lasts).
[[nodiscard]] SettingsReading ReadRunSettings(const char* sitesFile, const char* retryPauses,
                                              std::filesystem::path dataFolder);

}  // namespace pageloom::cli
