// What the page fetch and the picture download share: the libcurl session behind
// hInternet, easy handles set up the same way, and a transfer loop that can be aborted
// from any thread.
#pragma once

#include <curl/curl.h>

#include <array>
#include <memory>
#include <mutex>
#include <string>

#include "net/internet.h"

namespace pageloom {

struct InternetSession {
  CURLSH* share = nullptr;
  std::array<std::mutex, CURL_LOCK_DATA_LAST> locks;
  int users = 0;        // transfers using the session; guarded by the session registry
  bool closed = false;  // CloseInternet was called; freed when the last user is gone
};

namespace net_detail {

// curl_global_init, once per process, thread-safe.
void EnsureCurl();

// A counted use of hInternet: the session stays alive while a transfer uses it, even
// when CloseInternet is called meanwhile. Empty when hInternet is null.
class SessionRef {
 public:
  SessionRef();  // takes the current hInternet
  ~SessionRef();
  SessionRef(const SessionRef&) = delete;
  SessionRef& operator=(const SessionRef&) = delete;
  InternetSession* get() const { return m_session; }
  explicit operator bool() const { return m_session != nullptr; }

 private:
  InternetSession* m_session;
};

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
using EasyPtr = std::unique_ptr<CURL, EasyDeleter>;

struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using SlistPtr = std::unique_ptr<curl_slist, SlistDeleter>;

// An easy handle for a GET of `url`: the session's cookies, DNS cache and TLS sessions
// (when there is a session), the time-outs of the moment, redirects (at most 10),
// http and https only, certificates verified, the abort check. Null on failure.
EasyPtr NewRequest(const std::string& url, InternetSession* session);

// Runs the transfer to its end. Returns CURLE_ABORTED_BY_CALLBACK when AbortTransfers
// ended it (or was in force before it started).
CURLcode Perform(CURL* easy);

}  // namespace net_detail
}  // namespace pageloom
