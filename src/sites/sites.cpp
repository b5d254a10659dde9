#include "sites/sites.h"

#include "sites/dmzj/dmzj_site.h"
#include "sites/eh/eh_site.h"

namespace pageloom {

SiteNames DefaultSiteNames() {
  return SiteNames{
      u"e-hentai.org",              // EH host marker
      u"lofi.",                     // EH low-bandwidth mirror marker
      u"dmzj.com",                  // DMZJ host
      "https://manhua.dmzj.com",    // DMZJ site root
      u"https://images.dmzj.com/",  // DMZJ picture host
  };
}

std::vector<std::unique_ptr<SiteAdapter>> MakeSiteAdapters(const SiteNames& names) {
  std::vector<std::unique_ptr<SiteAdapter>> adapters;
  adapters.push_back(std::make_unique<DmzjAdapter>(names));
  adapters.push_back(std::make_unique<EhAdapter>(names));
  return adapters;
}

}  // namespace pageloom
