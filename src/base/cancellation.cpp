#include "base/cancellation.h"

#include <utility>

namespace pageloom {

void Cancellation::Cancel() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_cancelled = true;
  for (auto& entry : m_wakers) entry.second();
  m_changed.notify_all();
}

void Cancellation::Reset() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_cancelled = false;
}

bool Cancellation::Cancelled() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_cancelled;
}

bool Cancellation::WaitFor(std::chrono::milliseconds span) const {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_changed.wait_for(lock, span, [this] { return m_cancelled; });
}

Cancellation::Subscription::Subscription(const Cancellation& owner, std::function<void()> wake)
    : m_owner(&owner) {
  std::lock_guard<std::mutex> lock(owner.m_mutex);
  m_id = owner.m_nextId++;
  if (owner.m_cancelled) wake();
  owner.m_wakers.emplace(m_id, std::move(wake));
}

Cancellation::Subscription::~Subscription() { Release(); }

Cancellation::Subscription::Subscription(Subscription&& other) noexcept
    : m_owner(std::exchange(other.m_owner, nullptr)), m_id(std::exchange(other.m_id, 0)) {}

Cancellation::Subscription& Cancellation::Subscription::operator=(Subscription&& other) noexcept {
  if (this != &other) {
    Release();
    m_owner = std::exchange(other.m_owner, nullptr);
    m_id = std::exchange(other.m_id, 0);
  }
  return *this;
}

void Cancellation::Subscription::Release() {
  if (m_owner == nullptr) return;
  std::lock_guard<std::mutex> lock(m_owner->m_mutex);
  m_owner->m_wakers.erase(m_id);
  m_owner = nullptr;
}

}  // namespace pageloom
