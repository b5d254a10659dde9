// One picture from its address into a file.
#pragma once

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

// Downloads `url` into the file `path` (UTF-16, absolute or relative). The body goes to
// a temporary file beside it and is renamed into place only when complete and flushed to
// disk. An answer with an error status, an empty answer and an answer of exactly 28 bytes
// (a site's refusal) are failures.
[[nodiscard]] PictureOutcome FetchPictureFile(Session& session, std::u16string_view url,
                                              std::u16string_view path);

}  // namespace pageloom
