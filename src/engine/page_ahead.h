// A worker's page read ahead: while a step downloads its picture, the page the next step
// will read is fetched on a helper thread, so that the next step finds it read. One page
// at a time: with the step's own transfer, at most two requests of the worker's site are
// in flight. Used by one worker thread; the session's switch ends a fetch in flight.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "engine/helper_thread.h"
#include "net/page_buffer.h"

namespace pageloom {

class Session;
struct RetryPolicy;

class PageAhead {
 public:
  // A page older than this is not handed over: addresses on it may have expired.
  static constexpr std::chrono::milliseconds kFreshFor{std::chrono::seconds(60)};

  // `session` and `retry` must outlive the object.
  PageAhead(Session& session, const RetryPolicy& retry,
            std::chrono::milliseconds freshFor = kFreshFor);
  // Waits for the fetch in flight (the session's switch ends it early).
  ~PageAhead() = default;
  PageAhead(const PageAhead&) = delete;
  PageAhead& operator=(const PageAhead&) = delete;

  // How a page is fetched on the helper thread (its session, policy and buffer are the
  // caller's to capture, the page buffer is the helper's).
  using Fetch = std::function<void(std::u16string_view url, PageBuffer& page)>;
  // Begins fetching `url` on the helper thread, with `fetch` or else as FetchPageRetrying
  // does; a page fetched or being fetched before is dropped first.
  void Start(std::u16string url, Fetch fetch = {});
  // Waits for the fetch in flight. When it was `url`'s and its page is fresh, copies the
  // page into `into` and returns true; otherwise returns false and leaves `into` alone.
  // Either way nothing is held or in flight afterwards.
  [[nodiscard]] bool Take(std::u16string_view url, PageBuffer& into);
  // Waits for the fetch in flight, if any, and forgets the page.
  void Drop();

 private:
  using Clock = std::chrono::steady_clock;

  Session& m_session;
  const RetryPolicy& m_retry;
  const std::chrono::milliseconds m_freshFor;
  std::u16string m_url;  // the page fetched or being fetched; empty: none
  // Written by the helper while a fetch is in flight, read by the owner after Wait.
  std::unique_ptr<PageBuffer> m_page = std::make_unique<PageBuffer>();
  std::optional<Clock::time_point> m_fetched;  // when the fetch ended; none before
  HelperThread m_helper;                       // last: ends before the rest goes
};

}  // namespace pageloom
