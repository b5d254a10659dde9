// One picture of a task into the task's folder, as both site steps store their pictures:
// the site's limit picture recognised and reported, the folder prepared (with the user as
// the fallback), pictures already on disk skipped.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "net/failure_reason.h"
#include "net/picture.h"

namespace pageloom {

class Session;
class UserPrompt;
struct RetryPolicy;

// Results of DownloadPicture.
constexpr int kPictureStored = 1;   // on disk: downloaded now, or there already
constexpr int kPictureFailed = -1;  // this picture failed; no file of this call is left
constexpr int kPictureStop = 0;     // downloading cannot go on (no session, limit reached, aborted)
constexpr int kPictureBanned = 2;   // the site has banned the visitor: nothing more until it ends

// What a site makes of the text of an answer that is no picture.
struct AnswerReading {
  enum class Kind { kNothing, kLimit, kBan } kind = Kind::kNothing;
  std::chrono::seconds banFor{0};  // kBan: how long the ban lasts
};
using AnswerReader = std::function<AnswerReading(std::string_view text)>;

// A download as a site step asks for it, and what it saw.
struct PictureRequest {
  const RetryPolicy* retry = nullptr;  // none: tried once
  std::function<void(std::uint64_t, std::int64_t)> progress;
  // Reads the text of an answer that is no picture (or an error answer): the site's limit
  // or ban. None: such an answer is a failure like another.
  AnswerReader readAnswer;
  // Filled in: the last try's outcome, the ban's length on kPictureBanned, and why the
  // picture was not stored when it was not.
  PictureOutcome last;
  std::chrono::seconds banFor{0};
  FailureReason failure;
};

// Downloads `url` into `folder` + `fileName`. `folder` is a task's folder buffer of
// kPathCapacity units (or null: the bare file name); it is prepared with
// PrepareSaveFolder and may be changed by it. A picture whose address ends in the
// site's limit picture tells the user that the download limit is reached and stops, before any
// file or network work.
int DownloadPicture(Session& session, std::u16string_view url, std::u16string_view fileName,
                    char16_t* folder, UserPrompt& ui);
// The same, with a transfer that fails for a reason that may pass tried again by `retry`
// (the session's switch ends the pauses), `progress` told of the bytes as they come, and
// `failure` (when given) told why a picture failed.
int DownloadPicture(Session& session, std::u16string_view url, std::u16string_view fileName,
                    char16_t* folder, UserPrompt& ui, const RetryPolicy& retry,
                    const std::function<void(std::uint64_t, std::int64_t)>& progress = {},
                    FailureReason* failure = nullptr);

// The same, as `request` asks; kPictureBanned when its reader finds a ban.
int DownloadPicture(Session& session, std::u16string_view url, std::u16string_view fileName,
                    char16_t* folder, UserPrompt& ui, PictureRequest& request);

// The same for a picture fetched ahead on a helper thread: into `folder` (its text, a
// folder that exists; it is not prepared) without a word to the user and without
// progress. An address of the site's limit picture stops it before any file or network
// work (the step itself then fetches it).
int DownloadPictureQuietly(Session& session, std::u16string_view url, std::u16string_view fileName,
                           std::u16string_view folder, const RetryPolicy& retry,
                           FailureReason* failure = nullptr);

// True when `folder` + `fileName` makes a path this program can store a picture under.
[[nodiscard]] bool PictureFits(std::u16string_view folder, std::u16string_view fileName);

// Why a try failed: no picture (with the type the answer named), or the transfer's reason.
[[nodiscard]] FailureReason ReasonOf(const PictureOutcome& outcome);

// True when `url` names the site's limit picture, which a site shows instead of the real
// one once the visitor's download limit is used up. Only its answer tells: a GIF of under
// 30 KB, or none.
[[nodiscard]] bool IsLimitPicture(std::u16string_view url);

}  // namespace pageloom
