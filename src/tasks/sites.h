// The address markers of the two sites the program serves. They are defined here once;
// tests point them at a local fixture site with ScopedSiteNames.
#pragma once

#include <string>

namespace pageloom {

struct SiteNames {
  std::u16string ehHostMarker;     // found in every EH address
  std::u16string ehMirrorMarker;   // found in the addresses of the EH low-bandwidth mirror
  std::u16string dmzjHost;         // found in every DMZJ address
  std::string dmzjSiteRoot;        // scheme and host of the DMZJ site, no trailing slash
  std::u16string dmzjPictureHost;  // scheme and host of the DMZJ picture server, with '/'
};

// The markers in force. Read from any thread; replaced only by ScopedSiteNames.
const SiteNames& Sites();

// Replaces the markers for the lifetime of the object (tests; no thread may run
// adapters while one is created or destroyed).
class ScopedSiteNames {
 public:
  explicit ScopedSiteNames(SiteNames names);
  ~ScopedSiteNames();
  ScopedSiteNames(const ScopedSiteNames&) = delete;
  ScopedSiteNames& operator=(const ScopedSiteNames&) = delete;

 private:
  const SiteNames* m_previous;
  SiteNames m_names;
};

}  // namespace pageloom
