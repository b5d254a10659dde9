// The EH gallery site: gallery addresses (main and low-bandwidth mirror form) become one
// task each, which walks the gallery's picture pages one by one. The task's step is
// Comic::DownloadNext (eh_task.h).
#pragma once

#include "engine/site_adapter.h"
#include "sites/sites.h"

namespace pageloom {

class EhAdapter : public SiteAdapter {
 public:
  explicit EhAdapter(SiteNames names) : m_names(std::move(names)) {}

  int Kind() const override { return SITE_EH; }
  std::u16string Name() const override { return u"EH"; }
  Ahead WorksAhead() const override { return Ahead::kNextPage; }
  bool Recognises(std::u16string_view address) const override;
  // A gallery address becomes the address of its first picture page; an address whose
  // last '-' stands among its last five characters (or that has none) names a picture
  // page already and is not fetched.
  std::optional<std::u16string> FirstPage(std::u16string_view address,
                                          PageReader& reader) const override;
  // A picture page gives the task, titled after the page; an empty page gives the login
  // message and no task; a ban page gives "被封禁，X分钟后重试" and no task; a page without a
  // title gives neither.
  PageReading ReadPage(std::u16string_view address, PageReader& reader) const override;
  std::shared_ptr<Task> NewTask() const override;
  // The gallery's number: from ".../g/<number>/..." or a picture page's ".../<number>-<page>".
  std::u16string TaskTag(std::u16string_view address) const override;
  // The gallery's number, from ".../g/<number>/<token>/" (main or mirror host) or from a
  // picture page's ".../s/<token>/<number>-<page>".
  std::optional<std::u16string> Identity(std::u16string_view address) const override;

 private:
  bool IsMirror(std::u16string_view address) const;
  SiteNames m_names;
};

}  // namespace pageloom
