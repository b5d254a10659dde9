// One picture from its address into a file.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "net/picture_signature.h"
#include "net/session.h"
#include "net/transfer_outcome.h"

namespace pageloom {

enum class PictureResult {
  kStored,        // downloaded now
  kAlreadyThere,  // something exists at the path already: nothing was fetched
  kFailed,        // this picture failed; no file of this call is left
  kCancelled,     // the session's switch ended it; no file of this call is left
  kNotPicture,    // the answer does not begin with a picture signature (or is empty)
  kTurnedDown,    // a picture the caller's check turned down; not stored
};

struct PictureOutcome {
  PictureResult result = PictureResult::kFailed;
  TransferOutcome transfer;                  // how the transfer ended, when one was made
  std::string contentType;                   // as the answer named it ("" when it did not)
  PictureKind kind = PictureKind::kUnknown;  // what its first bytes are
  std::uint64_t bodyBytes = 0;               // bytes of the body received
  // The first bytes (at most kAnswerTextKept) of an answer that is no picture, or of an
  // error answer: what the site said instead.
  std::string answerText;
};

// The most bytes of a non-picture answer kept as its text.
inline constexpr std::size_t kAnswerTextKept = 16 * 1024;

// How far a download has come: the bytes received so far and the size the server
// announced (-1 when it did not).
using PictureProgress = std::function<void(std::uint64_t received, std::int64_t total)>;

// A complete picture the caller may turn down before it is stored: false keeps it off
// the disk (kTurnedDown).
using PictureCheck = std::function<bool(PictureKind kind, std::uint64_t bytes)>;

// Downloads `url` into the file `path` (UTF-16, absolute or relative). The body goes to
// a temporary file beside it and is renamed into place only when complete and flushed to
// disk. An answer with an error status (400 and up) and an answer of exactly 28 bytes (a
// site's refusal) are failures; so is a picture larger than the session's pictureMaxBytes
// (kTooLarge) or slower than its floor (kTimedOut). An answer whose first bytes are no
// picture signature, an empty one included, is kNotPicture: it is judged as its first
// bytes arrive, and read no further than its text needs.
// `progress`, when given, is called on the calling thread while the body arrives, at
// most about ten times a second, and once more when the transfer has ended, with the
// final count.
[[nodiscard]] PictureOutcome FetchPictureFile(Session& session, std::u16string_view url,
                                              std::u16string_view path,
                                              const PictureProgress& progress = {},
                                              const PictureCheck& check = {});

}  // namespace pageloom
