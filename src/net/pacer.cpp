#include "net/pacer.h"

#include <algorithm>
#include <atomic>

#include "base/cancellation.h"

namespace pageloom {

namespace {

// Whole milliseconds of "S", "S.d", "S.dd" or "S.ddd" seconds; nothing for anything else.
std::optional<long long> Milliseconds(std::string_view text) {
  const std::size_t dot = text.find('.');
  const std::string_view whole = text.substr(0, dot);
  const std::string_view part =
      dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
  if (whole.empty() || whole.size() > 5 || part.size() > 3 ||
      (dot != std::string_view::npos && part.empty()))
    return std::nullopt;
  long long ms = 0;
  for (const char c : whole) {
    if (c < '0' || c > '9') return std::nullopt;
    ms = ms * 10 + (c - '0');
  }
  ms *= 1000;
  long long scale = 100;
  for (const char c : part) {
    if (c < '0' || c > '9') return std::nullopt;
    ms += (c - '0') * scale;
    scale /= 10;
  }
  return ms;
}

std::string SecondsText(std::chrono::milliseconds ms) {
  std::string text = std::to_string(ms.count() / 1000);
  const long long rest = ms.count() % 1000;
  if (rest != 0) {
    std::string digits = std::to_string(1000 + rest).substr(1);
    while (digits.back() == '0') digits.pop_back();
    text += "." + digits;
  }
  return text;
}

}  // namespace

std::optional<Pacing> ParsePacing(std::string_view text) {
  const std::size_t dash = text.find('-');
  const std::optional<long long> least = Milliseconds(text.substr(0, dash));
  const std::optional<long long> most =
      dash == std::string_view::npos ? least : Milliseconds(text.substr(dash + 1));
  if (!least || !most || *least > *most || *most > kLongestPacing.count()) return std::nullopt;
  return Pacing{std::chrono::milliseconds(*least), std::chrono::milliseconds(*most)};
}

std::string PacingText(const Pacing& pacing) {
  if (pacing.Off()) return {};
  if (pacing.least == pacing.most) return SecondsText(pacing.least);
  return SecondsText(pacing.least) + "-" + SecondsText(pacing.most);
}

Pacer::Pacer() : m_random(std::random_device{}()) {}

Pacing Pacer::Get() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_pacing;
}

void Pacer::Set(Pacing pacing) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pacing = pacing;
    if (pacing.Off()) m_next.clear();
  }
  m_changed.notify_all();
}

void Pacer::Hold(bool held) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_held = held;
  }
  m_changed.notify_all();
}

void Pacer::ExemptFromHold(std::thread::id thread, bool exempt) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (exempt)
      m_exempt.insert(thread);
    else
      m_exempt.erase(thread);
  }
  m_changed.notify_all();
}

Pacer::Clock::duration Pacer::NextInterval() {
  const long long least = m_pacing.least.count();
  const long long most = std::max(least, static_cast<long long>(m_pacing.most.count()));
  std::uniform_int_distribution<long long> pick(least, most);
  return std::chrono::milliseconds(pick(m_random));
}

bool Pacer::WaitTurn(const std::string& host, const Cancellation& cancel) {
  // The switch wakes the wait below. Its callback runs under the switch's own lock, so
  // the switch is never asked while m_mutex is held: the flag says it.
  std::atomic<bool> stopped{false};
  const Cancellation::Subscription wake(cancel, [this, &stopped] {
    stopped = true;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_changed.notify_all();
  });
  std::unique_lock<std::mutex> lock(m_mutex);
  if (m_pacing.Off()) return !stopped;
  const auto now = Clock::now();
  auto [slot, fresh] = m_next.try_emplace(host, now);
  (void)fresh;
  const Clock::time_point turn = std::max(now, slot->second);
  slot->second = turn + NextInterval();
  const std::thread::id self = std::this_thread::get_id();
  for (;;) {
    if (stopped) return false;
    if (m_pacing.Off()) return true;
    const bool held = m_held && m_exempt.count(self) == 0;
    if (!held && Clock::now() >= turn) return true;
    if (held)
      m_changed.wait(lock);
    else
      m_changed.wait_until(lock, turn);
  }
}

std::string HostOf(std::string_view url) {
  const std::size_t scheme = url.find("://");
  if (scheme == std::string_view::npos) return {};
  std::string_view rest = url.substr(scheme + 3);
  rest = rest.substr(0, rest.find_first_of("/?#"));
  const std::size_t at = rest.rfind('@');
  if (at != std::string_view::npos) rest.remove_prefix(at + 1);
  return std::string(rest);
}

}  // namespace pageloom
