// The sites pageLoom serves: the names that tell their addresses apart, and the list of
// their adapters. A value owned by whoever runs the adapters; tests make their own that
// point at a local fixture site.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace pageloom {

// The numbers of the two sites (SiteAdapter::Kind), carried by their tasks.
enum SiteKind : int { SITE_NONE = 0, SITE_EH = 1, SITE_DMZJ = 2 };

class SiteAdapter;

struct SiteNames {
  std::u16string ehHostMarker;     // found in every EH address
  std::u16string ehMirrorMarker;   // found in the addresses of the EH low-bandwidth mirror
  std::u16string dmzjHost;         // found in every DMZJ address
  std::string dmzjSiteRoot;        // scheme and host of the DMZJ site, no trailing slash
  std::u16string dmzjPictureHost;  // scheme and host of the DMZJ picture server, with '/'
};

// The real sites.
SiteNames DefaultSiteNames();

// One adapter per site, in the order in which an address is offered to them (the first
// that recognises it takes it): DMZJ first, then EH. Each keeps a copy of `names`.
std::vector<std::unique_ptr<SiteAdapter>> MakeSiteAdapters(const SiteNames& names);

}  // namespace pageloom
