// Polite pacing: a least interval between two requests to one host, with an optional
// random part, as a session keeps it for all its transfers. Thread-safe.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <thread>

namespace pageloom {

class Cancellation;

// The interval between two requests to one host: at least `least`, at most `most`
// (random in between). Zero: no pause at all.
struct Pacing {
  std::chrono::milliseconds least{0};
  std::chrono::milliseconds most{0};
  [[nodiscard]] bool Off() const { return most.count() <= 0; }
  bool operator==(const Pacing& other) const { return least == other.least && most == other.most; }
};

// The longest interval a setting may ask for.
inline constexpr std::chrono::milliseconds kLongestPacing{std::chrono::hours(1)};

// "2" (seconds), "2-5" (from 2 to 5 seconds), "0.5": seconds with up to three decimals,
// at most an hour. "0" is no pause. Nothing for anything else.
[[nodiscard]] std::optional<Pacing> ParsePacing(std::string_view text);
// The setting as ParsePacing reads it back: "" when off.
[[nodiscard]] std::string PacingText(const Pacing& pacing);

class Pacer {
 public:
  Pacer();
  Pacing Get() const;
  void Set(Pacing pacing);
  // While held, a request waiting for its turn keeps waiting (nothing is sent); when let
  // go, it goes as its turn allows.
  void Hold(bool held);
  // Requests of `thread` are never held while it is exempt (a thread that reads pages for
  // Add, not for a worker).
  void ExemptFromHold(std::thread::id thread, bool exempt);
  // Waits for the turn of a request to `host` and takes it: the pacing's interval after
  // the turn taken before for that host. False when `cancel` ended the wait.
  bool WaitTurn(const std::string& host, const Cancellation& cancel);

 private:
  using Clock = std::chrono::steady_clock;
  Clock::duration NextInterval();  // m_mutex held

  mutable std::mutex m_mutex;
  std::condition_variable m_changed;
  Pacing m_pacing;
  bool m_held = false;
  std::set<std::thread::id> m_exempt;
  std::map<std::string, Clock::time_point, std::less<>> m_next;  // each host's next turn
  std::minstd_rand m_random;
};

// The host of an absolute address ("" when it has none).
[[nodiscard]] std::string HostOf(std::string_view url);

}  // namespace pageloom
