// One picture of a task into the task's folder, as both site steps store their pictures:
// the site's limit picture recognised and reported, the folder prepared (with the user as
// the fallback), pictures already on disk skipped.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "net/failure_reason.h"

namespace pageloom {

class Session;
class UserPrompt;
struct RetryPolicy;

// Results of DownloadPicture.
constexpr int kPictureStored = 1;   // on disk: downloaded now, or there already
constexpr int kPictureFailed = -1;  // this picture failed; no file of this call is left
constexpr int kPictureStop = 0;     // downloading cannot go on (no session, limit reached, aborted)

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

// The same for a picture fetched ahead on a helper thread: into `folder` (its text, a
// folder that exists; it is not prepared) without a word to the user and without
// progress. The site's limit picture stops it before any file or network work.
int DownloadPictureQuietly(Session& session, std::u16string_view url, std::u16string_view fileName,
                           std::u16string_view folder, const RetryPolicy& retry,
                           FailureReason* failure = nullptr);

// True when `url` names the site's limit picture, which a site shows instead of the real
// one once the visitor's download limit is used up.
[[nodiscard]] bool IsLimitPicture(std::u16string_view url);

}  // namespace pageloom
