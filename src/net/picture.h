// One picture from its address into a file.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "net/session.h"
#include "net/transfer_outcome.h"

namespace pageloom {

enum class PictureResult {
  kStored,        // downloaded now
  kAlreadyThere,  // something exists at the path already: nothing was fetched
  kFailed,        // this picture failed; no file of this call is left
  kCancelled,     // the session's switch ended it; no file of this call is left
};

struct PictureOutcome {
  PictureResult result = PictureResult::kFailed;
  TransferOutcome transfer;  // how the transfer ended, when one was made
};

// How far a download has come: the bytes received so far and the size the server
// announced (-1 when it did not).
using PictureProgress = std::function<void(std::uint64_t received, std::int64_t total)>;

// Downloads `url` into the file `path` (UTF-16, absolute or relative). The body goes to
// a temporary file beside it and is renamed into place only when complete and flushed to
// disk. An answer with an error status (400 and up), an empty answer and an answer of
// exactly 28 bytes (a site's refusal) are failures; so is a picture larger than the
// session's pictureMaxBytes (kTooLarge) or slower than its floor (kTimedOut).
// `progress`, when given, is called on the calling thread while the body arrives, at
// most about ten times a second, and once more when the transfer has ended, with the
// final count.
[[nodiscard]] PictureOutcome FetchPictureFile(Session& session, std::u16string_view url,
                                              std::u16string_view path,
                                              const PictureProgress& progress = {});

}  // namespace pageloom
