#include "net/session.h"

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

// The certificate file the environment names, as curl reads it.
std::string CertificateFileFromEnvironment() {
  for (const char* name : {"CURL_CA_BUNDLE", "SSL_CERT_FILE"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != 0) return value;
  }
  return {};
}

std::string UserAgentFromEnvironment() {
  const char* value = std::getenv("PAGELOOM_USER_AGENT");
  return value != nullptr && *value != 0 ? value : Session::kDefaultUserAgent;
}

}  // namespace

Session::Session(const Cancellation& cancel, NetTimeouts timeouts)
    : m_cancel(cancel),
      m_timeouts(timeouts),
      m_certificateFile(CertificateFileFromEnvironment()),
      m_userAgent(UserAgentFromEnvironment()),
      m_shared(std::make_unique<Shared>()) {
  net_detail::EnsureCurl();
  CURLSH* share = curl_share_init();
  bool ok = share != nullptr;
  ok = ok && curl_share_setopt(share, CURLSHOPT_LOCKFUNC, &LockShared) == CURLSHE_OK;
  ok = ok && curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, &UnlockShared) == CURLSHE_OK;
  ok = ok && curl_share_setopt(share, CURLSHOPT_USERDATA, m_shared.get()) == CURLSHE_OK;
  // TLS sessions stay with each handle (and the connections it keeps): libcurl with
  // OpenSSL hands one cached SSL_SESSION object to handshakes on several threads at once,
  // and OpenSSL copies and frees parts of it during a handshake without a lock.
  for (curl_lock_data data : {CURL_LOCK_DATA_COOKIE, CURL_LOCK_DATA_DNS})
    ok = ok && curl_share_setopt(share, CURLSHOPT_SHARE, data) == CURLSHE_OK;
  if (!ok && share != nullptr) {
    curl_share_cleanup(share);
    share = nullptr;
  }
  m_shared->share = share;
}

Session::~Session() {
  m_shared->pool.Clear();  // the handles leave the share before it goes
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

std::string Session::UserAgent() const {
  std::lock_guard<std::mutex> lock(m_settingsMutex);
  return m_userAgent;
}

void Session::SetUserAgent(std::string agent) {
  std::lock_guard<std::mutex> lock(m_settingsMutex);
  m_userAgent = std::move(agent);
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

}  // namespace pageloom
