// The sites an engine serves, in the order in which an address is offered to them.
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "engine/site_adapter.h"

namespace pageloom {

class SiteList {
 public:
  explicit SiteList(std::vector<std::unique_ptr<SiteAdapter>> sites) : m_sites(std::move(sites)) {}

  [[nodiscard]] const std::vector<std::unique_ptr<SiteAdapter>>& All() const { return m_sites; }
  // The first site that takes `address`, or null.
  [[nodiscard]] const SiteAdapter* For(std::u16string_view address) const {
    for (const auto& site : m_sites)
      if (site->Recognises(address)) return site.get();
    return nullptr;
  }
  [[nodiscard]] const SiteAdapter* OfKind(int kind) const {
    for (const auto& site : m_sites)
      if (site->Kind() == kind) return site.get();
    return nullptr;
  }
  [[nodiscard]] const SiteAdapter* Named(std::u16string_view name) const {
    for (const auto& site : m_sites)
      if (site->Name() == name) return site.get();
    return nullptr;
  }

 private:
  std::vector<std::unique_ptr<SiteAdapter>> m_sites;
};

}  // namespace pageloom
