#include "engine/retry.h"

#include <algorithm>

#include "net/page_fetch.h"
#include "net/session.h"

namespace pageloom {

std::chrono::milliseconds PauseBefore(const RetryPolicy& policy, std::size_t retry,
                                      const TransferOutcome& last) {
  if (last.retryAfter) {
    const std::chrono::milliseconds asked = *last.retryAfter;
    return std::clamp(asked, std::chrono::milliseconds(0), policy.longestRetryAfter);
  }
  if (policy.pauses.empty()) return std::chrono::milliseconds(0);
  return policy.pauses[std::min(retry, policy.pauses.size() - 1)];
}

TransferOutcome WithRetries(const RetryPolicy& policy, const Cancellation& cancel,
                            const std::function<TransferOutcome()>& attempt) {
  TransferOutcome outcome = attempt();
  for (std::size_t retry = 0; retry < policy.pauses.size(); ++retry) {
    // An answer with an error status arrives "ok" from a page fetch: its status decides.
    const bool passed = outcome.Ok() && outcome.status < 400;
    if (passed || !outcome.MayPass() || cancel.Cancelled()) break;
    if (cancel.WaitFor(PauseBefore(policy, retry, outcome))) break;
    outcome = attempt();
  }
  return outcome;
}

TransferOutcome FetchPageRetrying(Session& session, std::u16string_view url, PageBuffer& page,
                                  const RetryPolicy& policy) {
  return WithRetries(policy, session.Cancel(), [&] { return FetchPageText(session, url, page); });
}

}  // namespace pageloom
