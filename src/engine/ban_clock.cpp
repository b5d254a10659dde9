#include "engine/ban_clock.h"

#include <algorithm>
#include <string>

#include "base/cancellation.h"
#include "base/fixed_text.h"

namespace pageloom {

void BanClock::Ban(std::chrono::seconds length) {
  const Clock::time_point until = Clock::now() + length;
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_until || *m_until < until) m_until = until;
}

std::optional<std::chrono::seconds> BanClock::Left() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_until) return std::nullopt;
  const Clock::duration left = *m_until - Clock::now();
  if (left <= Clock::duration::zero()) return std::nullopt;
  return std::chrono::ceil<std::chrono::seconds>(left);
}

int BanClock::MinutesLeft() const {
  const std::optional<std::chrono::seconds> left = Left();
  if (!left) return 0;
  return static_cast<int>((left->count() + 59) / 60);
}

bool BanClock::WaitOut(const Cancellation& cancel) const {
  for (;;) {
    Clock::duration left;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      left = m_until ? *m_until - Clock::now() : Clock::duration::zero();
    }
    if (left <= Clock::duration::zero()) return !cancel.Cancelled();
    // In steps, so that a ban made longer meanwhile is seen.
    const auto step = std::min<std::chrono::milliseconds>(
        std::chrono::ceil<std::chrono::milliseconds>(left), std::chrono::seconds(1));
    if (cancel.WaitFor(step)) return false;
  }
}

}  // namespace pageloom
