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

// The name a site gives the picture it shows instead of the real one once the
// visitor's download limit is used up.
constexpr char16_t kLimitPictureName[] = u"509.gif";

// The last segment of an address: the text after its last '/'.
std::u16string_view LastSegment(std::u16string_view url) {
  const std::size_t slash = url.rfind(u'/');
  return slash == std::u16string_view::npos ? url : url.substr(slash + 1);
}

// `folder` + `fileName` from `url`, with the transfer tried again by `retry`; a
// DownloadPicture result. `failure`, when given, learns why a picture failed.
int StoreInFolder(Session& session, std::u16string_view url, std::u16string_view fileName,
                  std::u16string_view folder, const RetryPolicy& retry,
                  const std::function<void(std::uint64_t, std::int64_t)>& progress,
                  FailureReason* failure) {
  if (folder.size() + fileName.size() > kPathCapacity - 1 ||
      fileName.find(u'\0') != std::u16string_view::npos) {
    if (failure) *failure = FailureReason{FailureKind::kDiskFull, 0};  // no file can have it
    return kPictureFailed;
  }
  std::u16string fullPath(folder);
  fullPath.append(fileName);

  PictureResult result = PictureResult::kFailed;
  TransferOutcome last;
  WithRetries(retry, session.Cancel(), [&] {
    const PictureOutcome outcome = FetchPictureFile(session, url, fullPath, progress);
    result = outcome.result;
    last = outcome.transfer;
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
  if (failure) *failure = ReasonOf(last);
  return kPictureFailed;
}

}  // namespace

int DownloadPicture(Session& session, std::u16string_view url, std::u16string_view fileName,
                    char16_t* folder, UserPrompt& ui) {
  return DownloadPicture(session, url, fileName, folder, ui, RetryPolicy{{}, {}});
}

int DownloadPicture(Session& session, std::u16string_view url, std::u16string_view fileName,
                    char16_t* folder, UserPrompt& ui, const RetryPolicy& retry,
                    const std::function<void(std::uint64_t, std::int64_t)>& progress,
                    FailureReason* failure) {
  if (!session.Valid()) return kPictureStop;
  // The site's limit picture, recognised by the name in its address (what the caller
  // names the file after its own renaming is irrelevant), before any file or network work.
  if (IsLimitPicture(url)) {
    ui.ShowMessage(Message{MessageKind::kLimitReached, {}});
    return kPictureStop;
  }
  std::u16string_view folderText;
  if (folder) {
    PrepareSaveFolder(folder, ui);
    folderText = WideView(folder, kPathCapacity);
  }
  return StoreInFolder(session, url, fileName, folderText, retry, progress, failure);
}

int DownloadPictureQuietly(Session& session, std::u16string_view url, std::u16string_view fileName,
                           std::u16string_view folder, const RetryPolicy& retry,
                           FailureReason* failure) {
  if (!session.Valid() || IsLimitPicture(url)) return kPictureStop;
  return StoreInFolder(session, url, fileName, folder, retry, {}, failure);
}

bool IsLimitPicture(std::u16string_view url) { return LastSegment(url) == kLimitPictureName; }

}  // namespace pageloom
