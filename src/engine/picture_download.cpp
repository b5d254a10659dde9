#include "engine/picture_download.h"

#include <string>

#include "base/fixed_text.h"
#include "engine/retry.h"
#include "engine/save_folder_prompt.h"
#include "engine/user_prompt.h"
#include "net/picture.h"
#include "net/session.h"

namespace pageloom {

namespace {

constexpr char16_t kLimitReached[] = u"已到达下载上限。请清空cookie，换IP后重试。";
// The name a site gives the picture it shows instead of the real one once the
// visitor's download limit is used up.
constexpr char16_t kLimitPictureName[] = u"509.gif";
constexpr char16_t kPathTooLong[] = u"文件路径过长，图片未保存：";

// The last segment of an address: the text after its last '/'.
std::u16string_view LastSegment(std::u16string_view url) {
  const std::size_t slash = url.rfind(u'/');
  return slash == std::u16string_view::npos ? url : url.substr(slash + 1);
}

// `folder` + `fileName` from `url`, with the transfer tried again by `retry`; a
// DownloadPicture result.
int StoreInFolder(Session& session, std::u16string_view url, std::u16string_view fileName,
                  std::u16string_view folder, const RetryPolicy& retry,
                  const std::function<void(std::uint64_t, std::int64_t)>& progress) {
  if (!PictureFits(folder, fileName)) return kPictureFailed;
  std::u16string fullPath(folder);
  fullPath.append(fileName);

  PictureResult result = PictureResult::kFailed;
  WithRetries(retry, session.Cancel(), [&] {
    const PictureOutcome outcome = FetchPictureFile(session, url, fullPath, progress);
    result = outcome.result;
    if (result == PictureResult::kFailed) return outcome.transfer;
    TransferOutcome settled;  // stored, there already or cancelled: nothing to try again
    settled.result =
        result == PictureResult::kCancelled ? TransferResult::kCancelled : TransferResult::kOk;
    return settled;
  });
  switch (result) {
    case PictureResult::kStored:
    case PictureResult::kAlreadyThere:
      return kPictureStored;
    case PictureResult::kCancelled:
      return kPictureStop;
    case PictureResult::kFailed:
      break;
  }
  return kPictureFailed;
}

}  // namespace

int DownloadPicture(Session& session, std::u16string_view url, std::u16string_view fileName,
                    char16_t* folder, UserPrompt& ui) {
  return DownloadPicture(session, url, fileName, folder, ui, RetryPolicy{{}, {}});
}

int DownloadPicture(Session& session, std::u16string_view url, std::u16string_view fileName,
                    char16_t* folder, UserPrompt& ui, const RetryPolicy& retry,
                    const std::function<void(std::uint64_t, std::int64_t)>& progress) {
  if (!session.Valid()) return kPictureStop;
  // The site's limit picture, recognised by the name in its address (what the caller
  // names the file after its own renaming is irrelevant), before any file or network work.
  if (IsLimitPicture(url)) {
    ui.ShowMessage(kLimitReached);
    return kPictureStop;
  }
  std::u16string_view folderText;
  if (folder) {
    PrepareSaveFolder(folder, ui);
    folderText = WideView(folder, kPathCapacity);
    // A task's picture goes into its folder or nowhere, never beside the program.
    if (folderText.empty()) return kPictureFailed;
  }
  if (!PictureFits(folderText, fileName)) {
    // Said, not only counted: the picture would fail this way at every Start.
    ui.ShowMessage(kPathTooLong + std::u16string(folderText) + std::u16string(fileName));
    return kPictureFailed;
  }
  return StoreInFolder(session, url, fileName, folderText, retry, progress);
}

int DownloadPictureQuietly(Session& session, std::u16string_view url, std::u16string_view fileName,
                           std::u16string_view folder, const RetryPolicy& retry) {
  if (!session.Valid() || IsLimitPicture(url)) return kPictureStop;
  return StoreInFolder(session, url, fileName, folder, retry, {});
}

bool PictureFits(std::u16string_view folder, std::u16string_view fileName) {
  return folder.size() + fileName.size() <= kPathCapacity - 1 &&
         fileName.find(u'\0') == std::u16string_view::npos;
}

bool IsLimitPicture(std::u16string_view url) { return LastSegment(url) == kLimitPictureName; }

}  // namespace pageloom
