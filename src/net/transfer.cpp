#include "net/transfer.h"

#include <algorithm>
#include <climits>
#include <iterator>

#include "base/cancellation.h"

namespace pageloom::net_detail {

namespace {

// Connections one set of handles keeps open for later transfers.
constexpr long kCachedConnections = 8;
// A Retry-After longer than this (about 31 years) is taken as this.
constexpr long long kLongestRetryAfter = 999999999;

std::unique_ptr<Handles> NewHandles() {
  EnsureCurl();
  auto handles = std::make_unique<Handles>();
  handles->multi.reset(curl_multi_init());
  handles->easy.reset(curl_easy_init());
  if (!handles->multi || !handles->easy) return nullptr;
  if (curl_multi_setopt(handles->multi.get(), CURLMOPT_MAXCONNECTS, kCachedConnections) != CURLM_OK)
    return nullptr;
  return handles;
}

curl_off_t ClampedOffset(std::uint64_t bytes) {
  return bytes > static_cast<std::uint64_t>(LLONG_MAX) ? LLONG_MAX : static_cast<curl_off_t>(bytes);
}

}  // namespace

void EnsureCurl() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// --- HandlePool ---

std::unique_ptr<Handles> HandlePool::Take() {
  const std::thread::id self = std::this_thread::get_id();
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_idle.empty()) {
      auto mine = std::find_if(m_idle.rbegin(), m_idle.rend(),
                               [self](const auto& handles) { return handles->lastUser == self; });
      const auto pick = mine == m_idle.rend() ? std::prev(m_idle.end()) : std::prev(mine.base());
      std::unique_ptr<Handles> handles = std::move(*pick);
      m_idle.erase(pick);
      handles->lastUser = self;
      return handles;
    }
  }
  std::unique_ptr<Handles> handles = NewHandles();
  if (handles) handles->lastUser = self;
  return handles;
}

void HandlePool::Give(std::unique_ptr<Handles> handles) {
  if (!handles) return;
  std::unique_ptr<Handles> dropped;  // closed after the lock is released
  std::lock_guard<std::mutex> lock(m_mutex);
  m_idle.push_back(std::move(handles));
  if (m_idle.size() > kKeep) {
    dropped = std::move(m_idle.front());
    m_idle.erase(m_idle.begin());
  }
}

void HandlePool::Clear() {
  std::vector<std::unique_ptr<Handles>> idle;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    idle.swap(m_idle);
  }
}

// --- Transfer ---

Transfer::Transfer(Session& session, const std::string& url, TransferKind kind)
    : m_session(session),
      m_limits(session.Timeouts()),
      m_userAgent(session.UserAgent()),
      m_host(HostOf(url)),
      m_handles(session.Internals().pool.Take()) {
  m_ready = m_handles != nullptr && Setup(url, kind);
}

Transfer::~Transfer() {
  if (!m_handles) return;
  // Nothing of this transfer (callbacks, buffers, headers) stays set on the handles. The
  // list of cookie files to read is emptied first: a reset would drop it unfreed.
  curl_easy_setopt(m_handles->easy.get(), CURLOPT_COOKIEFILE, nullptr);
  curl_easy_reset(m_handles->easy.get());
  m_session.Internals().pool.Give(std::move(m_handles));
}

bool Transfer::Setup(const std::string& url, TransferKind kind) {
  CURL* e = Easy();
  bool ok = true;
  const auto set = [&ok, e](CURLoption option, auto value) {
    ok = ok && curl_easy_setopt(e, option, value) == CURLE_OK;
  };
  set(CURLOPT_URL, url.c_str());
  set(CURLOPT_NOSIGNAL, 1L);
  set(CURLOPT_USERAGENT, m_userAgent.c_str());
  set(CURLOPT_PROTOCOLS_STR, "http,https");
  set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  set(CURLOPT_FOLLOWLOCATION, 1L);
  set(CURLOPT_MAXREDIRS, 10L);
  set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
  set(CURLOPT_SSL_VERIFYPEER, 1L);
  set(CURLOPT_SSL_VERIFYHOST, 2L);
  const std::string certificates = m_session.CertificateFile();
  if (!certificates.empty()) set(CURLOPT_CAINFO, certificates.c_str());
  set(CURLOPT_CONNECTTIMEOUT, std::max(1L, m_limits.connectSeconds));
  // "No byte for lowSpeedSeconds" is watched in Perform, to the second, for both kinds.
  if (kind == TransferKind::kPage) {
    set(CURLOPT_TIMEOUT, std::max(1L, m_limits.pageTotalSeconds));
    set(CURLOPT_LOW_SPEED_LIMIT, 1L);  // a backstop to the watch
    set(CURLOPT_LOW_SPEED_TIME, std::max(1L, m_limits.lowSpeedSeconds));
  } else {
    set(CURLOPT_LOW_SPEED_LIMIT, std::max(1L, m_limits.pictureMinBytesPerSecond));
    set(CURLOPT_LOW_SPEED_TIME, std::max(1L, m_limits.pictureSlowSeconds));
    // An announced size past the limit fails before the body; the body itself is
    // counted by the caller.
    set(CURLOPT_MAXFILESIZE_LARGE, ClampedOffset(m_limits.pictureMaxBytes));
  }
  set(CURLOPT_NOPROGRESS, 0L);
  set(CURLOPT_XFERINFOFUNCTION, &Transfer::OnProgress);
  set(CURLOPT_XFERINFODATA, &m_watch);
  set(CURLOPT_ERRORBUFFER, m_error);
  // The cookie engine, on the session's store.
  set(CURLOPT_COOKIEFILE, "");
  if (m_session.Valid()) set(CURLOPT_SHARE, m_session.Internals().share);
  return ok;
}

int Transfer::OnProgress(void* user, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t) {
  auto* watch = static_cast<Watch*>(user);
  if (dlnow != watch->received) {
    watch->received = dlnow;
    watch->lastByte = std::chrono::steady_clock::now();
  }
  return watch->session->Aborted() ? 1 : 0;
}

CURLcode Transfer::Perform() {
  if (!m_ready) return CURLE_FAILED_INIT;
  m_ready = false;  // once
  if (m_session.Aborted() || !m_session.WaitTurn(m_host)) return CURLE_ABORTED_BY_CALLBACK;
  CURLM* multi = m_handles->multi.get();
  CURL* easy = Easy();
  const auto idleLimit = std::chrono::seconds(std::max(1L, m_limits.lowSpeedSeconds));
  m_watch = Watch{&m_session, 0, std::chrono::steady_clock::now()};
  if (curl_multi_add_handle(multi, easy) != CURLM_OK) return CURLE_FAILED_INIT;
  CURLcode result = CURLE_OK;
  {
    // The switch wakes the poll below at once, from whatever thread flips it.
    const Cancellation::Subscription wake(m_session.Cancel(),
                                          [multi] { curl_multi_wakeup(multi); });
    for (;;) {
      if (m_session.Aborted()) {
        result = CURLE_ABORTED_BY_CALLBACK;
        break;
      }
      const auto idle = std::chrono::steady_clock::now() - m_watch.lastByte;
      if (idle >= idleLimit) {
        result = CURLE_OPERATION_TIMEDOUT;
        break;
      }
      int running = 0;
      if (curl_multi_perform(multi, &running) != CURLM_OK) {
        result = CURLE_RECV_ERROR;
        break;
      }
      bool done = false;
      int left = 0;
      while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
        if (msg->msg == CURLMSG_DONE) {
          result = msg->data.result;
          done = true;
        }
      }
      if (done) break;
      if (running == 0) {
        result = CURLE_GOT_NOTHING;
        break;
      }
      // Woken by the sockets, libcurl's own timers, the switch, or the idle limit.
      const auto untilIdle =
          std::chrono::duration_cast<std::chrono::milliseconds>(idleLimit - idle).count() + 5;
      const int wait = static_cast<int>(std::min<long long>(1000, untilIdle));
      if (curl_multi_poll(multi, nullptr, 0, wait, nullptr) != CURLM_OK) {
        result = CURLE_RECV_ERROR;
        break;
      }
    }
  }
  curl_multi_remove_handle(multi, easy);
  return result;
}

TransferOutcome Transfer::Describe(CURLcode code) const {
  TransferOutcome outcome;
  if (CURL* easy = Easy()) {
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &outcome.status);
    curl_header* header = nullptr;
    if (outcome.status != 0 &&
        curl_easy_header(easy, "Retry-After", 0, CURLH_HEADER, -1, &header) == CURLHE_OK &&
        header != nullptr && header->value != nullptr)
      outcome.retryAfter = ParseRetryAfter(header->value, std::time(nullptr));
  }
  outcome.detail = m_error[0] != 0 ? m_error : curl_easy_strerror(code);
  switch (code) {
    case CURLE_OK:
      outcome.result = TransferResult::kOk;
      break;
    case CURLE_ABORTED_BY_CALLBACK:
      outcome.result = TransferResult::kCancelled;
      break;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
      outcome.result = TransferResult::kConnectFailed;
      break;
    case CURLE_OPERATION_TIMEDOUT:
      outcome.result = TransferResult::kTimedOut;
      break;
    case CURLE_HTTP_RETURNED_ERROR:
      outcome.result = TransferResult::kHttpError;
      break;
    case CURLE_FILESIZE_EXCEEDED:
      outcome.result = TransferResult::kTooLarge;
      break;
    case CURLE_WRITE_ERROR:
      outcome.result = TransferResult::kWriteFailed;
      break;
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_TOO_MANY_REDIRECTS:
      outcome.result = TransferResult::kRefused;
      break;
    default:
      outcome.result = TransferResult::kFailed;
      break;
  }
  return outcome;
}

std::optional<std::chrono::seconds> ParseRetryAfter(const char* value, std::time_t now) {
  if (value == nullptr) return std::nullopt;
  std::string text(value);
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && blank(text.back())) text.pop_back();
  const std::size_t start = text.find_first_not_of(" \t");
  if (start == std::string::npos) return std::nullopt;
  text.erase(0, start);
  const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  if (std::all_of(text.begin(), text.end(), isDigit)) {
    long long seconds = 0;
    for (const char c : text) {
      seconds = seconds * 10 + (c - '0');
      if (seconds > kLongestRetryAfter) return std::chrono::seconds(kLongestRetryAfter);
    }
    return std::chrono::seconds(seconds);
  }
  // An HTTP date names its weekday or month; a bare sign or number is no date.
  const bool hasLetter = std::any_of(text.begin(), text.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
  });
  if (!hasLetter) return std::nullopt;
  const std::time_t when = curl_getdate(text.c_str(), nullptr);
  if (when == -1) return std::nullopt;
  const long long ahead = static_cast<long long>(when) - static_cast<long long>(now);
  return std::chrono::seconds(std::clamp(ahead, 0LL, kLongestRetryAfter));
}

}  // namespace pageloom::net_detail
