#include "engine/page_ahead.h"

#include <cstring>
#include <utility>

#include "engine/retry.h"
#include "net/session.h"

namespace pageloom {

PageAhead::PageAhead(Session& session, const RetryPolicy& retry, std::chrono::milliseconds freshFor)
    : m_session(session), m_retry(retry), m_freshFor(freshFor) {}

void PageAhead::Start(std::u16string url, Fetch fetch) {
  Drop();
  m_url = std::move(url);
  m_fetched.reset();
  m_helper.Run([this, url = m_url, fetch = std::move(fetch)] {
    if (fetch)
      fetch(url, *m_page);
    else
      (void)FetchPageRetrying(m_session, url, *m_page, m_retry);
    m_fetched = Clock::now();
  });
}

bool PageAhead::Take(std::u16string_view url, PageBuffer& into) {
  m_helper.Wait();
  const bool wanted =
      !m_url.empty() && m_url == url && m_fetched && Clock::now() - *m_fetched <= m_freshFor;
  m_url.clear();
  if (!wanted) return false;
  // The text and its terminator; the rest of the buffer is never read.
  const void* end = std::memchr(m_page->data(), 0, m_page->size());
  const std::size_t copied =
      end ? static_cast<const char*>(end) - m_page->data() + 1 : m_page->size();
  std::memcpy(into.data(), m_page->data(), copied);
  return true;
}

void PageAhead::Drop() {
  m_helper.Wait();
  m_url.clear();
}

}  // namespace pageloom
