// Adding an EH gallery: from a gallery or picture-page address to a registered task.
#include <memory>
#include <string_view>

#include "app/task_controller.h"
#include "net/internet.h"
#include "net/save_folder.h"
#include "tasks/eh_pages.h"
#include "tasks/sites.h"
#include "text/encoding.h"
#include "text/fixed_text.h"

namespace pageloom {

namespace {

constexpr char16_t kLoginMessage[] =
    u"解析网址失败，可能由于已经过了9点，需要登录才能下载。请到e绅士论坛注册并用ie登录后重试";

// The address names a picture page already when its last '-' stands among its last
// five characters (".../123-1", ".../123-12"), or when it has no '-' at all.
bool NamesPicturePage(std::u16string_view address) {
  const std::size_t dash = address.rfind(u'-');
  if (dash == std::u16string_view::npos) return true;
  return dash + 5 >= address.size();
}

bool IsMirror(std::u16string_view address) {
  const std::u16string& marker = Sites().ehMirrorMarker;
  return !marker.empty() && address.find(marker) != std::u16string_view::npos;
}

}  // namespace

int TaskController::FindEHFirstPage(char16_t* address) {
  const std::u16string_view url = WideView(address, kUrlCapacity);
  if (NamesPicturePage(url)) return 1;

  PageBuffer& page = WindowPageBuffer();
  char* firstPage = nullptr;
  if (IsMirror(url)) {
    FetchPage(url, page);
    firstPage = ParseEHMirrorGallery(page);
  } else {
    FetchPage(url, page);
    firstPage = ParseEHMainGallery(page);
  }
  if (firstPage == nullptr) return 0;
  ToWide(address, kUrlCapacity, firstPage);
  return 1;
}

int TaskController::AddEHTask(const char16_t* address) {
  const std::u16string_view url = WideView(address, kUrlCapacity);
  PageBuffer& page = WindowPageBuffer();
  FetchPage(url, page);
  if (page[0] == 0) {
    Window().ShowMessage(kLoginMessage);
    return 0;
  }
  char* title = ParseEHTitle(page);
  if (title == nullptr) return 0;

  char16_t folder[kPathCapacity];
  MakeTaskFolderPath(folder, title);
  PrepareSaveFolder(folder, Window());

  auto task = std::make_shared<Comic>();
  task->SetUrl(url);
  task->SetFolder(WideView(folder, kPathCapacity));
  task->SetRenameFiles(AutoRename());
  task->SetSiteKind(SITE_EH);
  RegisterTask(std::move(task), WideView(folder, kPathCapacity));
  return 1;
}

}  // namespace pageloom
