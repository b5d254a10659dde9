// How a transfer ended, as the network layer saw it. The layers above decide what to do
// about it (try again, tell the user, go on).
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace pageloom {

enum class TransferResult {
  kOk,             // the answer arrived whole
  kCancelled,      // the session's switch ended it
  kConnectFailed,  // no connection to the server (name, refused, unreachable)
  kTimedOut,       // a time limit ran out
  kHttpError,      // the server answered with an error status (pictures only)
  kTooLarge,       // the answer passed its size limit
  kWriteFailed,    // the body could not be stored
  kRefused,        // the address or the server's certificate is refused; trying again won't help
  kFailed,         // anything else (a broken transfer)
};

struct TransferOutcome {
  TransferResult result = TransferResult::kFailed;
  // HTTP status of the last answer (after redirects), whatever the result; 0 when none
  // arrived.
  long status = 0;
  // The wait the last answer asked for in Retry-After, when it had one: its seconds, or
  // the time until its HTTP date (0 for a date passed). Any status may carry it.
  std::optional<std::chrono::seconds> retryAfter;
  std::string detail;  // for the debug output

  [[nodiscard]] bool Ok() const { return result == TransferResult::kOk; }
  // The failure may pass when tried again later: no connection, a time-out, a broken
  // transfer, or an answer 5xx, 408 or 429.
  [[nodiscard]] bool MayPass() const {
    if (result == TransferResult::kCancelled || result == TransferResult::kTooLarge ||
        result == TransferResult::kWriteFailed || result == TransferResult::kRefused)
      return false;
    if (status >= 500 && status <= 599) return true;
    if (status == 408 || status == 429) return true;
    // A transfer that broke: before any answer, or in the middle of one that was fine.
    return result == TransferResult::kConnectFailed || result == TransferResult::kTimedOut ||
           (result == TransferResult::kFailed && status < 400);
  }
};

}  // namespace pageloom
