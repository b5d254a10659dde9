// The DMZJ chapter task: its picture list comes from a script on the chapter's page;
// one picture a step, the next one stored ahead meanwhile. Its step is defined beside
// the site (dmzj_site.cpp).
#pragma once

#include <list>
#include <string>
#include <string_view>

#include "engine/task.h"

namespace pageloom {

class ComicDMZJ : public Task {
 public:
  ComicDMZJ() = default;
  int DownloadNext(StepContext& context) override;
  // Fetches the chapter page and builds m_pictureUrls from its packed script. Returns
  // 1 when the list holds pictures now, 0 otherwise (the list is then empty).
  int LoadPictureList(StepContext& context);

  const std::list<std::u16string>& PictureUrls() const { return m_pictureUrls; }

 protected:
  int PicturePlace() const override { return m_listTaken; }
  bool CountAnnounced() const override { return true; }

 private:
  // Starts storing the next picture of the list under the name it will get, while this
  // step stores `current` (when the context has a picture ahead and nothing needs asking).
  void StoreNextPictureAhead(StepContext& context, std::u16string_view current) const;
  // The step of a picture outside `range`: named and counted without a transfer; past the
  // range's end, the rest of the list with it.
  int SkipOutOfRange(const PictureRange& range);
};

}  // namespace pageloom
