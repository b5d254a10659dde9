// A site's ban as its worker keeps it: when it ends, read before every request, and a
// wait for its end that closing cuts short. Thread-safe.
#pragma once

#include <chrono>
#include <mutex>
#include <optional>
#include <string>

namespace pageloom {

class Cancellation;

class BanClock {
 public:
  using Clock = std::chrono::steady_clock;

  // The site has banned the visitor for `length` from now (a later end than the one
  // known wins).
  void Ban(std::chrono::seconds length);
  // What is left of the ban, rounded up to the second; nothing when there is none.
  [[nodiscard]] std::optional<std::chrono::seconds> Left() const;
  // The same in whole minutes, rounded up (at least 1); 0 when there is no ban.
  [[nodiscard]] int MinutesLeft() const;
  // Waits until the ban has ended or `cancel` is set. True when it has ended.
  bool WaitOut(const Cancellation& cancel) const;

 private:
  mutable std::mutex m_mutex;
  std::optional<Clock::time_point> m_until;
};

}  // namespace pageloom
