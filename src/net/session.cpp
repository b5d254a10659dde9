#include "net/session.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "net/transfer.h"

namespace pageloom {

namespace {

void LockShared(CURL*, curl_lock_data data, curl_lock_access, void* user) {
  auto* shared = static_cast<Session::Shared*>(user);
  if (static_cast<int>(data) >= 0 && data < CURL_LOCK_DATA_LAST) shared->locks[data].lock();
}

void UnlockShared(CURL*, curl_lock_data data, void* user) {
  auto* shared = static_cast<Session::Shared*>(user);
  if (static_cast<int>(data) >= 0 && data < CURL_LOCK_DATA_LAST) shared->locks[data].unlock();
}

// Progress of one transfer: when the body last grew, and the session to watch.
struct Progress {
  const Session* session = nullptr;
  curl_off_t received = 0;
  std::chrono::steady_clock::time_point lastByte;
};

int OnProgress(void* user, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t) {
  if (user == nullptr) return 0;
  auto* progress = static_cast<Progress*>(user);
  if (dlnow != progress->received) {
    progress->received = dlnow;
    progress->lastByte = std::chrono::steady_clock::now();
  }
  return progress->session->Aborted() ? 1 : 0;
}

// The certificate file the environment names, as curl reads it.
std::string CertificateFileFromEnvironment() {
  for (const char* name : {"CURL_CA_BUNDLE", "SSL_CERT_FILE"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != 0) return value;
  }
  return {};
}

struct MultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
using MultiPtr = std::unique_ptr<CURLM, MultiDeleter>;

}  // namespace

Session::Session(const Cancellation& cancel, NetTimeouts timeouts)
    : m_cancel(cancel),
      m_timeouts(timeouts),
      m_certificateFile(CertificateFileFromEnvironment()),
      m_shared(std::make_unique<Shared>()) {
  net_detail::EnsureCurl();
  CURLSH* share = curl_share_init();
  bool ok = share != nullptr;
  ok = ok && curl_share_setopt(share, CURLSHOPT_LOCKFUNC, &LockShared) == CURLSHE_OK;
  ok = ok && curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, &UnlockShared) == CURLSHE_OK;
  ok = ok && curl_share_setopt(share, CURLSHOPT_USERDATA, m_shared.get()) == CURLSHE_OK;
  for (curl_lock_data data : {CURL_LOCK_DATA_COOKIE, CURL_LOCK_DATA_DNS, CURL_LOCK_DATA_SSL_SESSION})
    ok = ok && curl_share_setopt(share, CURLSHOPT_SHARE, data) == CURLSHE_OK;
  if (!ok && share != nullptr) {
    curl_share_cleanup(share);
    share = nullptr;
  }
  m_shared->share = share;
}

Session::~Session() {
  if (m_shared->share) curl_share_cleanup(m_shared->share);
}

bool Session::Valid() const { return m_shared->share != nullptr; }

NetTimeouts Session::Timeouts() const {
  std::lock_guard<std::mutex> lock(m_settingsMutex);
  return m_timeouts;
}

void Session::SetTimeouts(NetTimeouts timeouts) {
  std::lock_guard<std::mutex> lock(m_settingsMutex);
  m_timeouts = timeouts;
}

std::string Session::CertificateFile() const {
  std::lock_guard<std::mutex> lock(m_settingsMutex);
  return m_certificateFile;
}

void Session::SetCertificateFile(std::string pemFile) {
  std::lock_guard<std::mutex> lock(m_settingsMutex);
  m_certificateFile = std::move(pemFile);
}

std::unique_ptr<Session> OpenInternet(const Cancellation& cancel, NetTimeouts timeouts) {
  auto session = std::make_unique<Session>(cancel, timeouts);
  if (!session->Valid()) return nullptr;
  return session;
}

int CloseInternet(std::unique_ptr<Session>& session) {
  if (!session) return 0;
  session.reset();
  return 1;
}

namespace net_detail {

void EnsureCurl() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

EasyPtr NewRequest(const std::string& url, Session& session) {
  EnsureCurl();
  EasyPtr easy(curl_easy_init());
  if (!easy) return nullptr;
  CURL* e = easy.get();
  const NetTimeouts limits = session.Timeouts();
  const long connect = std::max(1L, limits.connectSeconds);
  const long lowSpeed = std::max(1L, limits.lowSpeedSeconds);
  bool ok = curl_easy_setopt(e, CURLOPT_URL, url.c_str()) == CURLE_OK;
  ok = ok && curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L) == CURLE_OK;
  ok = ok && curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK;
  ok = ok && curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") == CURLE_OK;
  ok = ok && curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK;
  ok = ok && curl_easy_setopt(e, CURLOPT_MAXREDIRS, 10L) == CURLE_OK;
  ok = ok && curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L) == CURLE_OK;
  ok = ok && curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L) == CURLE_OK;
  const std::string certificates = session.CertificateFile();
  if (!certificates.empty())
    ok = ok && curl_easy_setopt(e, CURLOPT_CAINFO, certificates.c_str()) == CURLE_OK;
  ok = ok && curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, connect) == CURLE_OK;
  ok = ok && curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L) == CURLE_OK;
  ok = ok && curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, lowSpeed) == CURLE_OK;
  ok = ok && curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L) == CURLE_OK;
  ok = ok && curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &OnProgress) == CURLE_OK;
  // The cookie engine, on the session's store.
  ok = ok && curl_easy_setopt(e, CURLOPT_COOKIEFILE, "") == CURLE_OK;
  if (session.Valid())
    ok = ok && curl_easy_setopt(e, CURLOPT_SHARE, session.Internals().share) == CURLE_OK;
  if (!ok) return nullptr;
  return easy;
}

CURLcode Perform(CURL* easy, Session& session) {
  if (session.Aborted()) return CURLE_ABORTED_BY_CALLBACK;
  MultiPtr multi(curl_multi_init());
  if (!multi) return CURLE_OUT_OF_MEMORY;
  // "No byte for lowSpeedSeconds" is watched here, to the second; libcurl's own
  // low-speed limit (an average over several seconds) stays as a backstop.
  const auto idleLimit = std::chrono::seconds(std::max(1L, session.Timeouts().lowSpeedSeconds));
  Progress progress;
  progress.session = &session;
  progress.lastByte = std::chrono::steady_clock::now();
  curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &progress);
  if (curl_multi_add_handle(multi.get(), easy) != CURLM_OK) return CURLE_FAILED_INIT;
  CURLcode result = CURLE_OK;
  {
    // The switch wakes the poll below at once, from whatever thread flips it.
    CURLM* wakeTarget = multi.get();
    const Cancellation::Subscription wake(session.Cancel(),
                                          [wakeTarget] { curl_multi_wakeup(wakeTarget); });
    for (;;) {
      if (session.Aborted()) {
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

TransferOutcome Describe(CURLcode code, CURL* easy, const char* error) {
  TransferOutcome outcome;
  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &outcome.status);
  outcome.detail = error != nullptr && error[0] != 0 ? error : curl_easy_strerror(code);
  switch (code) {
    case CURLE_OK: outcome.result = TransferResult::kOk; break;
    case CURLE_ABORTED_BY_CALLBACK: outcome.result = TransferResult::kCancelled; break;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT: outcome.result = TransferResult::kConnectFailed; break;
    case CURLE_OPERATION_TIMEDOUT: outcome.result = TransferResult::kTimedOut; break;
    case CURLE_HTTP_RETURNED_ERROR: outcome.result = TransferResult::kHttpError; break;
    case CURLE_FILESIZE_EXCEEDED: outcome.result = TransferResult::kTooLarge; break;
    case CURLE_WRITE_ERROR: outcome.result = TransferResult::kWriteFailed; break;
    default: outcome.result = TransferResult::kFailed; break;
  }
  return outcome;
}

}  // namespace net_detail
}  // namespace pageloom
