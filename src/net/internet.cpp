#include "net/internet.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <vector>

#include "net/transfer.h"
#include "text/debug_line.h"
#include "text/fixed_text.h"

namespace pageloom {

InternetSession* hInternet = nullptr;

namespace {

// Guards hInternet and the user counts of sessions.
std::mutex g_sessionMutex;

std::atomic<long> g_connectSeconds{NetTimeouts{}.connectSeconds};
std::atomic<long> g_lowSpeedSeconds{NetTimeouts{}.lowSpeedSeconds};

std::atomic<bool> g_aborted{false};
// Multi handles of the transfers in flight, woken by AbortTransfers.
std::mutex g_multiMutex;
std::vector<CURLM*> g_multis;

void LockShared(CURL*, curl_lock_data data, curl_lock_access, void* user) {
  auto* session = static_cast<InternetSession*>(user);
  if (static_cast<int>(data) >= 0 && data < CURL_LOCK_DATA_LAST) session->locks[data].lock();
}

void UnlockShared(CURL*, curl_lock_data data, void* user) {
  auto* session = static_cast<InternetSession*>(user);
  if (static_cast<int>(data) >= 0 && data < CURL_LOCK_DATA_LAST) session->locks[data].unlock();
}

void FreeSession(InternetSession* session) {
  if (session->share) curl_share_cleanup(session->share);
  delete session;
}

// Progress of one transfer: when the body last grew.
struct Progress {
  curl_off_t received = 0;
  std::chrono::steady_clock::time_point lastByte;
};

int OnProgress(void* user, curl_off_t /*dltotal*/, curl_off_t dlnow, curl_off_t, curl_off_t) {
  if (user) {
    auto* progress = static_cast<Progress*>(user);
    if (dlnow != progress->received) {
      progress->received = dlnow;
      progress->lastByte = std::chrono::steady_clock::now();
    }
  }
  return g_aborted.load() ? 1 : 0;
}

struct MultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
using MultiPtr = std::unique_ptr<CURLM, MultiDeleter>;

// Registers a multi handle for AbortTransfers' wake-up while it is in scope.
class WakeRegistration {
 public:
  explicit WakeRegistration(CURLM* multi) : m_multi(multi) {
    std::lock_guard<std::mutex> lock(g_multiMutex);
    g_multis.push_back(multi);
  }
  ~WakeRegistration() {
    std::lock_guard<std::mutex> lock(g_multiMutex);
    const auto it = std::find(g_multis.begin(), g_multis.end(), m_multi);
    if (it != g_multis.end()) g_multis.erase(it);
  }
  WakeRegistration(const WakeRegistration&) = delete;
  WakeRegistration& operator=(const WakeRegistration&) = delete;

 private:
  CURLM* m_multi;
};

// Where FetchPage's write callback puts the body.
struct PageSink {
  char* data;
  std::size_t used;
  bool full;  // the body went past the page buffer: cut there
};

std::size_t WritePage(char* bytes, std::size_t size, std::size_t count, void* user) {
  auto* sink = static_cast<PageSink*>(user);
  const std::size_t n = size * count;
  const std::size_t room = kPageBufferSize - 1 - sink->used;
  const std::size_t take = std::min(n, room);
  if (take > 0) std::memcpy(sink->data + sink->used, bytes, take);
  sink->used += take;
  if (take < n) {
    sink->full = true;
    return 0;  // the rest is not wanted: end the transfer
  }
  return n;
}

bool IsUrlByteToEncode(unsigned char c) {
  return c >= 0x80 || c < 0x20 || c == 0x7F || c == ' ' || c == '"' || c == '<' || c == '>' ||
         c == '`' || c == '{' || c == '}';
}

}  // namespace

namespace net_detail {

void EnsureCurl() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

SessionRef::SessionRef() {
  std::lock_guard<std::mutex> lock(g_sessionMutex);
  m_session = hInternet;
  if (m_session) ++m_session->users;
}

SessionRef::~SessionRef() {
  if (!m_session) return;
  bool last = false;
  {
    std::lock_guard<std::mutex> lock(g_sessionMutex);
    last = --m_session->users == 0 && m_session->closed;
  }
  if (last) FreeSession(m_session);
}

EasyPtr NewRequest(const std::string& url, InternetSession* session) {
  EnsureCurl();
  EasyPtr easy(curl_easy_init());
  if (!easy) return nullptr;
  CURL* e = easy.get();
  const long connect = std::max(1L, g_connectSeconds.load());
  const long lowSpeed = std::max(1L, g_lowSpeedSeconds.load());
  bool ok = curl_easy_setopt(e, CURLOPT_URL, url.c_str()) == CURLE_OK;
  ok = ok && curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L) == CURLE_OK;
  ok = ok && curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK;
  ok = ok && curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") == CURLE_OK;
  ok = ok && curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK;
  ok = ok && curl_easy_setopt(e, CURLOPT_MAXREDIRS, 10L) == CURLE_OK;
  ok = ok && curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L) == CURLE_OK;
  ok = ok && curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L) == CURLE_OK;
  ok = ok && curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, connect) == CURLE_OK;
  ok = ok && curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L) == CURLE_OK;
  ok = ok && curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, lowSpeed) == CURLE_OK;
  ok = ok && curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L) == CURLE_OK;
  ok = ok && curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &OnProgress) == CURLE_OK;
  // The cookie engine: the session's store when there is one, else this handle's own.
  ok = ok && curl_easy_setopt(e, CURLOPT_COOKIEFILE, "") == CURLE_OK;
  if (session && session->share)
    ok = ok && curl_easy_setopt(e, CURLOPT_SHARE, session->share) == CURLE_OK;
  if (!ok) return nullptr;
  return easy;
}

CURLcode Perform(CURL* easy) {
  if (g_aborted.load()) return CURLE_ABORTED_BY_CALLBACK;
  MultiPtr multi(curl_multi_init());
  if (!multi) return CURLE_OUT_OF_MEMORY;
  // "No byte for lowSpeedSeconds" is watched here, to the second; libcurl's own
  // low-speed limit (an average over several seconds) stays as a backstop.
  const auto idleLimit = std::chrono::seconds(std::max(1L, g_lowSpeedSeconds.load()));
  Progress progress;
  progress.lastByte = std::chrono::steady_clock::now();
  curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &progress);
  if (curl_multi_add_handle(multi.get(), easy) != CURLM_OK) return CURLE_FAILED_INIT;
  CURLcode result = CURLE_OK;
  {
    WakeRegistration wake(multi.get());
    for (;;) {
      if (g_aborted.load()) {
        result = CURLE_ABORTED_BY_CALLBACK;
        break;
      }
      const auto idle = std::chrono::steady_clock::now() - progress.lastByte;
      if (idle >= idleLimit) {
        result = CURLE_OPERATION_TIMEDOUT;
        break;
      }
      int running = 0;
      if (curl_multi_perform(multi.get(), &running) != CURLM_OK) {
        result = CURLE_RECV_ERROR;
        break;
      }
      bool done = false;
      int left = 0;
      while (CURLMsg* msg = curl_multi_info_read(multi.get(), &left)) {
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
      const auto untilIdle =
          std::chrono::duration_cast<std::chrono::milliseconds>(idleLimit - idle).count() + 5;
      const int wait = static_cast<int>(std::min<long long>(1000, untilIdle));
      if (curl_multi_poll(multi.get(), nullptr, 0, wait, nullptr) != CURLM_OK) {
        result = CURLE_RECV_ERROR;
        break;
      }
    }
  }
  curl_multi_remove_handle(multi.get(), easy);
  curl_easy_setopt(easy, CURLOPT_XFERINFODATA, nullptr);
  return result;
}

}  // namespace net_detail

int OpenInternet() {
  net_detail::EnsureCurl();
  std::lock_guard<std::mutex> lock(g_sessionMutex);
  if (hInternet) return 1;
  auto* session = new InternetSession;
  session->share = curl_share_init();
  bool ok = session->share != nullptr;
  ok = ok && curl_share_setopt(session->share, CURLSHOPT_LOCKFUNC, &LockShared) == CURLSHE_OK;
  ok = ok && curl_share_setopt(session->share, CURLSHOPT_UNLOCKFUNC, &UnlockShared) == CURLSHE_OK;
  ok = ok && curl_share_setopt(session->share, CURLSHOPT_USERDATA, session) == CURLSHE_OK;
  for (curl_lock_data data : {CURL_LOCK_DATA_COOKIE, CURL_LOCK_DATA_DNS,
                              CURL_LOCK_DATA_SSL_SESSION})
    ok = ok && curl_share_setopt(session->share, CURLSHOPT_SHARE, data) == CURLSHE_OK;
  if (!ok) {
    FreeSession(session);
    return 0;
  }
  hInternet = session;
  return 1;
}

int CloseInternet() {
  InternetSession* unused = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_sessionMutex);
    InternetSession* session = hInternet;
    if (!session) return 0;
    hInternet = nullptr;
    session->closed = true;
    if (session->users == 0) unused = session;  // else the last user frees it
  }
  if (unused) FreeSession(unused);
  return 1;
}

int FetchPage(std::u16string_view url, PageBuffer& page) {
  page[0] = 0;
  net_detail::SessionRef session;  // outlives the easy handle that uses it
  PageSink sink{page.data(), 0, false};
  char error[CURL_ERROR_SIZE] = {};  // both outlive the handle that uses them
  const std::string address = EncodeUrl(url);
  net_detail::EasyPtr easy = net_detail::NewRequest(address, session.get());
  if (!easy) {
    DebugLine(std::u16string_view(u"到指定服务器的连接建立失败…"));
    return 0;
  }
  curl_easy_setopt(easy.get(), CURLOPT_USERAGENT, "pageLoom");
  curl_easy_setopt(easy.get(), CURLOPT_WRITEFUNCTION, &WritePage);
  curl_easy_setopt(easy.get(), CURLOPT_WRITEDATA, &sink);
  curl_easy_setopt(easy.get(), CURLOPT_ERRORBUFFER, error);
  CURLcode rc = net_detail::Perform(easy.get());
  if (rc == CURLE_WRITE_ERROR && sink.full) rc = CURLE_OK;  // cut at the buffer's end
  if (rc != CURLE_OK) {
    page[0] = 0;  // never half a page
    long status = 0;
    curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &status);
    if (status == 0 && rc != CURLE_ABORTED_BY_CALLBACK)
      DebugLine(std::u16string_view(u"到指定服务器的连接建立失败…"));
    DebugLine(std::string("page fetch failed: ") + (error[0] ? error : curl_easy_strerror(rc)) +
              " (" + address + ")");
    return 0;
  }
  page[sink.used] = 0;
  return 1;
}

void SetNetTimeouts(const NetTimeouts& timeouts) {
  g_connectSeconds.store(timeouts.connectSeconds);
  g_lowSpeedSeconds.store(timeouts.lowSpeedSeconds);
}

NetTimeouts GetNetTimeouts() {
  NetTimeouts t;
  t.connectSeconds = g_connectSeconds.load();
  t.lowSpeedSeconds = g_lowSpeedSeconds.load();
  return t;
}

void AbortTransfers() {
  g_aborted.store(true);
  std::lock_guard<std::mutex> lock(g_multiMutex);
  for (CURLM* multi : g_multis) curl_multi_wakeup(multi);
}

void ResumeTransfers() { g_aborted.store(false); }

bool TransfersAborted() { return g_aborted.load(); }

std::string EncodeUrl(std::u16string_view url) {
  const std::string utf8 = ToUtf8(url);
  // As a browser reads a typed address: C0 controls and spaces around it are dropped,
  // tabs and line breaks inside it too.
  std::size_t begin = 0;
  std::size_t end = utf8.size();
  while (begin < end && static_cast<unsigned char>(utf8[begin]) <= 0x20) ++begin;
  while (end > begin && static_cast<unsigned char>(utf8[end - 1]) <= 0x20) --end;
  // The host is left as it is (libcurl turns a host outside ASCII into its IDNA form).
  std::size_t authorityEnd = begin;
  const std::size_t scheme = utf8.find("://", begin);
  if (scheme != std::string::npos && scheme < end) {
    authorityEnd = utf8.find_first_of("/?#", scheme + 3);
    if (authorityEnd == std::string::npos || authorityEnd > end) authorityEnd = end;
  }
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(end - begin);
  for (std::size_t i = begin; i < end; ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (c == '\t' || c == '\n' || c == '\r') continue;
    if (i >= authorityEnd && IsUrlByteToEncode(c)) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace pageloom
