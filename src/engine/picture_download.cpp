#include "engine/picture_download.h"

#include <string>

#include "base/fixed_text.h"
#include "engine/retry.h"
#include "engine/save_folder_prompt.h"
#include "engine/user_prompt.h"
#include "net/session.h"

namespace pageloom {

namespace {

// The name a site gives the picture it shows instead of the real one once the
// visitor's download limit is used up, and the size that picture stays under.
constexpr char16_t kLimitPictureName[] = u"509.gif";
constexpr std::uint64_t kLimitPictureBelow = 30 * 1024;

// The last segment of an address: the text after its last '/'.
std::u16string_view LastSegment(std::u16string_view url) {
  const std::size_t slash = url.rfind(u'/');
  return slash == std::u16string_view::npos ? url : url.substr(slash + 1);
}

// What one try of a download came to, beyond its DownloadPicture result.
enum class Ending { kResult, kLimit, kBan };

// The answer of the limit picture's address that is the limit: a small GIF, or nothing.
bool IsLimitAnswer(const PictureOutcome& outcome) {
  if (outcome.result == PictureResult::kTurnedDown) return true;
  return outcome.result == PictureResult::kNotPicture && outcome.bodyBytes == 0 &&
         outcome.transfer.status < 400;
}

// Reads what a try gave: the limit, a ban, or a result as it stands.
Ending Judge(std::u16string_view url, const PictureOutcome& outcome, PictureRequest& request) {
  if (IsLimitPicture(url) && IsLimitAnswer(outcome)) return Ending::kLimit;
  const bool textual = outcome.result == PictureResult::kNotPicture ||
                       (outcome.result == PictureResult::kFailed && !outcome.answerText.empty());
  if (!textual || !request.readAnswer) return Ending::kResult;
  const AnswerReading reading = request.readAnswer(outcome.answerText);
  if (reading.kind == AnswerReading::Kind::kLimit) return Ending::kLimit;
  if (reading.kind != AnswerReading::Kind::kBan) return Ending::kResult;
  request.banFor = reading.banFor;
  return Ending::kBan;
}

int ResultOf(PictureResult result) {
  switch (result) {
    case PictureResult::kStored:
    case PictureResult::kAlreadyThere:
      return kPictureStored;
    case PictureResult::kCancelled:
      return kPictureStop;
    default:
      return kPictureFailed;
  }
}

// `folder` + `fileName` from `url`, with the transfer tried again by the request's
// policy; a DownloadPicture result, the limit as kPictureStop with `limit` set.
int StoreInFolder(Session& session, std::u16string_view url, std::u16string_view fileName,
                  std::u16string_view folder, PictureRequest& request, bool& limit) {
  if (!PictureFits(folder, fileName)) {
    request.failure = FailureReason{FailureKind::kPathTooLong, 0};  // no file can have it
    return kPictureFailed;
  }
  std::u16string fullPath(folder);
  fullPath.append(fileName);
  PictureCheck check;
  if (IsLimitPicture(url))
    check = [](PictureKind kind, std::uint64_t bytes) {
      return kind != PictureKind::kGif || bytes >= kLimitPictureBelow;
    };

  Ending ending = Ending::kResult;
  const RetryPolicy once{{}, {}};
  WithRetries(request.retry ? *request.retry : once, session.Cancel(), [&] {
    request.last = FetchPictureFile(session, url, fullPath, request.progress, check);
    ending = Judge(url, request.last, request);
    if (ending == Ending::kResult && request.last.result == PictureResult::kFailed)
      return request.last.transfer;
    TransferOutcome settled;  // nothing to try again
    settled.result = request.last.result == PictureResult::kCancelled ? TransferResult::kCancelled
                                                                      : TransferResult::kOk;
    return settled;
  });
  limit = ending == Ending::kLimit;
  if (limit) {
    request.failure = FailureReason{FailureKind::kLimitReached, request.last.transfer.status};
    return kPictureStop;
  }
  if (ending == Ending::kBan) return kPictureBanned;
  request.failure = ReasonOf(request.last);
  return ResultOf(request.last.result);
}

}  // namespace

int DownloadPicture(Session& session, std::u16string_view url, std::u16string_view fileName,
                    char16_t* folder, UserPrompt& ui) {
  PictureRequest request;
  return DownloadPicture(session, url, fileName, folder, ui, request);
}

int DownloadPicture(Session& session, std::u16string_view url, std::u16string_view fileName,
                    char16_t* folder, UserPrompt& ui, const RetryPolicy& retry,
                    const std::function<void(std::uint64_t, std::int64_t)>& progress,
                    FailureReason* failure) {
  PictureRequest request;
  request.retry = &retry;
  request.progress = progress;
  const int result = DownloadPicture(session, url, fileName, folder, ui, request);
  if (failure && result != kPictureStored) *failure = request.failure;
  return result;
}

int DownloadPicture(Session& session, std::u16string_view url, std::u16string_view fileName,
                    char16_t* folder, UserPrompt& ui, PictureRequest& request) {
  if (!session.Valid()) return kPictureStop;
  std::u16string_view folderText;
  if (folder) {
    PrepareSaveFolder(folder, ui);
    folderText = WideView(folder, kPathCapacity);
    // A task's picture goes into its folder or nowhere, never beside the program.
    if (folderText.empty()) return kPictureFailed;
  }
  if (!PictureFits(folderText, fileName)) {
    // Said, not only counted: the picture would fail this way at every Start.
    ui.ShowMessage(Message{MessageKind::kPathTooLong,
                           {std::u16string(folderText) + std::u16string(fileName)}});
    request.failure = FailureReason{FailureKind::kPathTooLong, 0};  // no file can have it
    return kPictureFailed;
  }
  bool limit = false;
  const int result = StoreInFolder(session, url, fileName, folderText, request, limit);
  if (limit) ui.ShowMessage(Message{MessageKind::kLimitReached, {}});
  return result;
}

int DownloadPictureQuietly(Session& session, std::u16string_view url, std::u16string_view fileName,
                           std::u16string_view folder, const RetryPolicy& retry,
                           FailureReason* failure) {
  if (!session.Valid() || IsLimitPicture(url)) return kPictureStop;
  PictureRequest request;
  request.retry = &retry;
  bool limit = false;
  const int result = StoreInFolder(session, url, fileName, folder, request, limit);
  if (failure && result != kPictureStored) *failure = request.failure;
  return result;
}

FailureReason ReasonOf(const PictureOutcome& outcome) {
  if (outcome.result == PictureResult::kNotPicture ||
      outcome.result == PictureResult::kTurnedDown) {
    FailureReason reason{FailureKind::kNotAPicture, outcome.transfer.status};
    reason.contentType = outcome.contentType;
    return reason;
  }
  return ReasonOf(outcome.transfer);
}

bool PictureFits(std::u16string_view folder, std::u16string_view fileName) {
  return folder.size() + fileName.size() <= kPathCapacity - 1 &&
         fileName.find(u'\0') == std::u16string_view::npos;
}

bool IsLimitPicture(std::u16string_view url) { return LastSegment(url) == kLimitPictureName; }

}  // namespace pageloom
