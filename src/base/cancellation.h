// A cancellation switch shared by everything one owner starts: transfers, script
// evaluations, pauses between retries. Cancel() is seen at once by Cancelled(), wakes
// every waiter, and runs the wake-up callbacks of the current subscribers (a transfer's
// poll, a child process to kill). Thread-safe.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>

namespace pageloom {

class Cancellation {
 public:
  Cancellation() = default;
  Cancellation(const Cancellation&) = delete;
  Cancellation& operator=(const Cancellation&) = delete;

  // Sets the switch and wakes everyone: waiters return, subscribers' callbacks run (on
  // the calling thread, under the switch's lock: they must be short and never call back).
  void Cancel();
  // Clears the switch; later work runs again.
  void Reset();
  [[nodiscard]] bool Cancelled() const;

  // Waits for `span` or until cancelled. True when cancelled.
  [[nodiscard]] bool WaitFor(std::chrono::milliseconds span) const;

  // While a Subscription lives, `wake` runs on every Cancel(); once its destructor has
  // returned, it never runs again. A subscription made while cancelled runs `wake` at
  // once.
  class Subscription {
   public:
    Subscription() = default;
    Subscription(const Cancellation& owner, std::function<void()> wake);
    ~Subscription();
    Subscription(Subscription&& other) noexcept;
    Subscription& operator=(Subscription&& other) noexcept;
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;

   private:
    void Release();
    const Cancellation* m_owner = nullptr;
    std::uint64_t m_id = 0;
  };

 private:
  friend class Subscription;
  mutable std::mutex m_mutex;
  mutable std::condition_variable m_changed;
  bool m_cancelled = false;
  mutable std::uint64_t m_nextId = 1;
  mutable std::map<std::uint64_t, std::function<void()>> m_wakers;
};

}  // namespace pageloom
