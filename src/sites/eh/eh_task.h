// The EH gallery task: it walks the gallery's picture pages one by one, one picture a
// step, reading the next page ahead while a picture downloads. Its step is defined
// beside the site (eh_site.cpp).
#pragma once

#include <set>
#include <string>
#include <string_view>

#include "engine/task.h"

namespace pageloom {

class Comic : public Task {
 public:
  // The most pages one task walks: a gallery whose pages never end stops here.
  static constexpr int kMaxPages = 20000;

  Comic() = default;
  // One picture page per call, until a page links to itself (or to a page walked before);
  // once the walk is done, a later run tries the missing pictures again.
  int DownloadNext(StepContext& context) override;
  void Restore(const TaskRecord& record) override;

 protected:
  // Picture addresses of this site do not last: the picture's page is read again.
  int StoreMissing(StepContext& context, const MissingPicture& picture,
                   FailureReason& failure) override;

 private:
  // Starts fetching `next`, the page the next step reads, while this step downloads
  // `picture` of page `current` (when the context has a page ahead and the walk goes on).
  void ReadNextPageAhead(StepContext& context, std::u16string_view current,
                         const std::u16string& next, std::u16string_view picture) const;
  // Ends the walk and forgets the pages walked. Returns 0.
  int EndGallery();

  std::set<std::u16string> m_visited;  // pages walked in this run
};

}  // namespace pageloom
