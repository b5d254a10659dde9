// Adding DMZJ chapters: a series address becomes the address of its first chapter, and
// each chapter page becomes one ComicDMZJ task, optionally along the next-chapter links.
// Runs on the window thread, with the window thread's page buffer.
#include <cstring>
#include <memory>
#include <set>
#include <string>

#include "app/task_controller.h"
#include "net/internet.h"
#include "net/save_folder.h"
#include "tasks/dmzj_pages.h"
#include "tasks/sites.h"
#include "text/debug_line.h"
#include "text/encoding.h"
#include "text/fixed_text.h"

namespace pageloom {

namespace {

// Makes sure the page text ends inside the buffer and returns its length.
std::size_t TerminatedLength(PageBuffer& page) {
  std::size_t length = PageTextLength(page.data(), page.size());
  if (length == page.size()) {
    length = page.size() - 1;
    page[length] = 0;
  }
  return length;
}

}  // namespace

int TaskController::FindDMZJFirstChapter(char16_t* address) {
  const std::u16string_view typed = WideView(address, kUrlCapacity);
  if (typed.find(kDmzjChapterAddressMarker) != std::u16string_view::npos) return 1;

  PageBuffer& page = WindowPageBuffer();
  FetchPage(typed, page);
  const std::size_t length = TerminatedLength(page);
  const std::string_view link = ParseDmzjSeriesLink(page.data(), length);
  if (link.data() == nullptr) return 0;

  const std::string& root = Sites().dmzjSiteRoot;
  if (root.size() + link.size() > kDmzjSeriesLinkCapacity - 1) {
    DebugLine(std::string_view("DMZJ series link too long; address left as typed"));
    return 0;
  }
  char series[kDmzjSeriesLinkCapacity];
  std::memcpy(series, root.data(), root.size());
  std::memcpy(series + root.size(), link.data(), link.size());
  series[root.size() + link.size()] = 0;
  // The page's bytes are taken as ANSI text, not re-encoded from UTF-8.
  ToWide(address, kUrlCapacity, series);
  return 1;
}

int TaskController::AddDMZJTask(char16_t* address) {
  PageBuffer& page = WindowPageBuffer();
  FetchPage(WideView(address, kUrlCapacity), page);
  const std::size_t length = TerminatedLength(page);

  // The whole page is read before anything is created, so that a page lacking a piece
  // leaves no half-filled task behind.
  DmzjChapterPage chapter;
  const DmzjChapterParse parsed = ParseDmzjChapterPage(page.data(), length, chapter);
  if (parsed != DmzjChapterParse::kComplete) {
    if (parsed == DmzjChapterParse::kIncomplete) {
      DebugLine(u"DMZJ chapter page incomplete, no task: " +
                std::u16string(WideView(address, kUrlCapacity)));
    }
    return 0;
  }

  char title[kDmzjTitleCapacity];
  JoinDmzjTitle(title, chapter.comicName, chapter.chapterName);
  char nextLink[kDmzjNextLinkCapacity] = {};
  if (chapter.next == DmzjNextLink::kLink) {
    std::memcpy(nextLink, chapter.nextLink.data(), chapter.nextLink.size());
    nextLink[chapter.nextLink.size()] = 0;
  }

  auto task = std::make_shared<ComicDMZJ>();
  task->SetUrl(WideView(address, kUrlCapacity));

  char16_t folder[kPathCapacity];
  MakeTaskFolderPath(folder, title);
  // The task keeps the path as made; the row shows the prepared copy, which may be a
  // folder the user picked instead.
  task->SetFolder(WideView(folder, kPathCapacity));
  char16_t shown[kPathCapacity];
  CopyWide(shown, kPathCapacity, WideView(folder, kPathCapacity));
  PrepareSaveFolder(shown, Window());

  task->SetPictureCount(chapter.pictureCount);
  task->SetRenameFiles(AutoRename());
  task->SetSiteKind(SITE_DMZJ);
  RegisterTask(task, WideView(shown, kPathCapacity));

  if (chapter.next == DmzjNextLink::kNone) return 0;
  if (chapter.next == DmzjNextLink::kTooLong) {
    DebugLine(std::string_view("DMZJ next-chapter link too long; chain ends"));
    return 0;
  }

  // The link is relative to the page: it goes behind the address's last '/'.
  const std::u16string_view current = WideView(address, kUrlCapacity);
  const std::size_t slash = current.rfind(u'/');
  if (slash == std::u16string_view::npos) return 0;
  address[slash + 1] = 0;

  std::string ansi;
  CodeConverter converter;
  converter.Utf8ToAnsi(ansi, nextLink, static_cast<int>(std::strlen(nextLink)));
  char16_t wideLink[kPathCapacity];
  wideLink[0] = 0;
  ToWide(wideLink, kPathCapacity, ansi.c_str());
  const std::u16string_view link = WideView(wideLink, kPathCapacity);
  if (slash + 1 + link.size() > kUrlCapacity - 1) {
    // A cut address would name some other page: the chain ends here instead.
    DebugLine(std::string_view("DMZJ next-chapter address too long; chain ends"));
    return 0;
  }
  AppendWide(address, kUrlCapacity, link);
  return 1;
}

int TaskController::AddDMZJTaskChain(char16_t* address) {
  // Addresses queued by this chain: a chain that leads back to one of them stops there.
  std::set<std::u16string> queued;
  while (queued.insert(std::u16string(WideView(address, kUrlCapacity))).second) {
    if (AddDMZJTask(address) == 0) break;
  }
  return 1;
}

}  // namespace pageloom
