#include "tasks/sites.h"

#include <atomic>
#include <utility>

namespace pageloom {

namespace {

const SiteNames kDefaultSites{
    u"e-hentai.org",               // EH host marker
    u"lofi.",                      // EH low-bandwidth mirror marker
    u"dmzj.com",                   // DMZJ host
    "https://manhua.dmzj.com",     // DMZJ site root
    u"https://images.dmzj.com/",   // DMZJ picture host
};

std::atomic<const SiteNames*> g_sites{&kDefaultSites};

}  // namespace

const SiteNames& Sites() { return *g_sites.load(); }

ScopedSiteNames::ScopedSiteNames(SiteNames names)
    : m_previous(g_sites.load()), m_names(std::move(names)) {
  g_sites.store(&m_names);
}

ScopedSiteNames::~ScopedSiteNames() { g_sites.store(m_previous); }

}  // namespace pageloom
