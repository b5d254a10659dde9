#include "cli/run_settings.h"

#include <charconv>
#include <fstream>
#include <string_view>
#include <utility>

#include "base/fixed_text.h"
#include "cli/command_line.h"

namespace pageloom::cli {

namespace {

// Sets one site name; false when `name` is none.
bool SetSiteName(SiteNames& sites, std::string_view name, std::string_view value) {
  if (name == "eh-host-marker") {
    sites.ehHostMarker = FromUtf8(value);
  } else if (name == "eh-mirror-marker") {
    sites.ehMirrorMarker = FromUtf8(value);
  } else if (name == "dmzj-host") {
    sites.dmzjHost = FromUtf8(value);
  } else if (name == "dmzj-site-root") {
    sites.dmzjSiteRoot = std::string(value);
  } else if (name == "dmzj-picture-host") {
    sites.dmzjPictureHost = FromUtf8(value);
  } else {
    return false;
  }
  return true;
}

std::string ReadSites(const std::filesystem::path& file, SiteNames& sites) {
  std::ifstream in(file);
  if (!in) return "cannot read the sites file " + file.string();
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    const std::string_view text = Trimmed(line);
    if (text.empty() || text.front() == '#') continue;
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos ||
        !SetSiteName(sites, Trimmed(text.substr(0, equals)), Trimmed(text.substr(equals + 1))))
      return file.string() + ":" + std::to_string(number) + ": not a site name";
  }
  return {};
}

std::string ReadPauses(std::string_view text, RetryPolicy& retry) {
  retry.pauses.clear();
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    const std::string_view item = Trimmed(text.substr(0, comma));
    long long ms = 0;
    const auto [end, error] = std::from_chars(item.data(), item.data() + item.size(), ms);
    if (error != std::errc() || end != item.data() + item.size() || ms < 0 || ms > 3600000)
      return "PAGELOOM_RETRY_PAUSES_MS: not a list of milliseconds";
    retry.pauses.emplace_back(ms);
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
  }
  return {};
}

}  // namespace

SettingsReading ReadRunSettings(const char* sitesFile, const char* retryPauses,
                                std::filesystem::path dataFolder) {
  SettingsReading reading;
  reading.settings.dataFolder = std::move(dataFolder);
  if (sitesFile != nullptr && *sitesFile != 0)
    reading.error = ReadSites(sitesFile, reading.settings.sites);
  if (reading.error.empty() && retryPauses != nullptr)
    reading.error = ReadPauses(retryPauses, reading.settings.retry);
  return reading;
}

}  // namespace pageloom::cli
