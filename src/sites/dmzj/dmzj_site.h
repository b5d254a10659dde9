// The DMZJ comic site: one task per chapter, optionally along the chain of next-chapter
// links; a series address stands for its first chapter. The task's step is
// ComicDMZJ::DownloadNext (dmzj_task.h).
#pragma once

#include "engine/site_adapter.h"
#include "sites/sites.h"

namespace pageloom {

class DmzjAdapter : public SiteAdapter {
 public:
  explicit DmzjAdapter(SiteNames names) : m_names(std::move(names)) {}

  int Kind() const override { return SITE_DMZJ; }
  std::u16string Name() const override { return u"DMZJ"; }
  Ahead WorksAhead() const override { return Ahead::kNextPicture; }
  bool Recognises(std::u16string_view address) const override;
  bool FollowsChains() const override { return true; }
  // A chapter address (it contains "shtml") stays; a series address becomes the site
  // root followed by the first link of the page's chapter list.
  std::optional<std::u16string> FirstPage(std::u16string_view address,
                                          PageReader& reader) const override;
  // A chapter page gives its task, titled comic '\\' chapter, with the announced number
  // of pictures, and the address of the next chapter when the page links one.
  PageReading ReadPage(std::u16string_view address, PageReader& reader) const override;
  std::shared_ptr<Task> NewTask() const override;
  // The chapter's number, the last number of a chapter address ("/comic/12345.shtml");
  // nothing for a series address.
  std::optional<std::u16string> Identity(std::u16string_view address) const override;

 private:
  SiteNames m_names;
};

}  // namespace pageloom
