// Trying a transfer again when its failure may pass: no connection, a time-out, a broken
// transfer, an answer 5xx, 408 or 429. Other failures are final at once.
#pragma once

#include <chrono>
#include <functional>
#include <string_view>
#include <vector>

#include "base/cancellation.h"
#include "net/page_buffer.h"
#include "net/transfer_outcome.h"

namespace pageloom {

struct RetryPolicy {
  // The pauses before the second, third, ... try; their number is the number of retries.
  std::vector<std::chrono::milliseconds> pauses{std::chrono::seconds(2), std::chrono::seconds(8),
                                                std::chrono::seconds(30)};
  // A server's Retry-After is honoured up to this long; beyond it the pause is this long.
  std::chrono::milliseconds longestRetryAfter{std::chrono::minutes(5)};
};

// The pause before retry number `retry` (0 for the first retry) after `last` failed: the
// server's Retry-After when it gave one (capped), else the policy's pause.
[[nodiscard]] std::chrono::milliseconds PauseBefore(const RetryPolicy& policy, std::size_t retry,
                                                    const TransferOutcome& last);

// Runs `attempt` until its outcome is ok, or fails for a reason that does not pass, or the
// pauses are used up, or `cancel` is set (a pause ends at once then). Returns the last
// outcome.
TransferOutcome WithRetries(const RetryPolicy& policy, const Cancellation& cancel,
                            const std::function<TransferOutcome()>& attempt);

class Session;

// A page fetch (FetchPageText) tried again by `policy`; the session's switch ends it.
TransferOutcome FetchPageRetrying(Session& session, std::u16string_view url, PageBuffer& page,
                                  const RetryPolicy& policy);

}  // namespace pageloom
