// The DMZJ chapter step: the first call builds the chapter's picture list from the
// page's packed script, every call downloads the front picture of the list.
// Runs on the DMZJ worker thread, with that worker's page buffer.
#include <string>
#include <utility>

#include "net/internet.h"
#include "net/picture.h"
#include "tasks/comic.h"
#include "tasks/dmzj_pages.h"
#include "text/script_eval.h"

namespace pageloom {

int ComicDMZJ::DownloadNext(PageBuffer& page, UserPrompt& ui) {
  if (m_state == STATE_FINISHED) return 0;
  if (m_state == STATE_PREPARING) {
    m_state = STATE_DOWNLOADING;
    const int loaded = LoadPictureList(page);
    // A fetch or an evaluation cut short by shutdown is not the page's fault: the list is
    // built again the next time the task runs, instead of the chapter finishing without
    // pictures.
    if (TransfersAborted() && m_pictureUrls.empty()) {
      m_state = STATE_PREPARING;
      return 0;
    }
    if (loaded != 1) return 0;
  }
  m_state = STATE_DOWNLOADING;  // the states 1 and 3 carry on like 2
  if (m_pictureUrls.empty()) {
    m_state = STATE_FINISHED;
    return 0;
  }

  std::u16string entry = std::move(m_pictureUrls.front());
  m_pictureUrls.pop_front();
  const int numberBefore = m_fileNumber;
  const std::u16string fileName = PictureFileName(entry);
  // A failed picture is skipped, not retried. Only a download stopped because the
  // transfers are being aborted (the window closing) is undone: the entry goes back to
  // the front with its sequence number, so closing never loses a picture of the list.
  if (DownloadPicture(entry, fileName, m_folder, ui) == kPictureStop && TransfersAborted()) {
    m_pictureUrls.push_front(std::move(entry));
    m_fileNumber = numberBefore;
    return 0;
  }
  return 1;
}

int ComicDMZJ::LoadPictureList(PageBuffer& page) {
  FetchPage(GetStartUrl(), page);
  std::size_t length = PageTextLength(page.data(), page.size());
  if (length == page.size()) {
    length = page.size() - 1;
    page[length] = 0;
  }
  const char* script = FindDmzjScript(page.data(), length);
  if (script == nullptr) return 0;
  EvalPictureList(script, m_pictureUrls);
  return 1;
}

}  // namespace pageloom
