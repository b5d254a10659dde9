// What the page fetch and the picture download share: the libcurl side of a session, a
// pool of reusable handles whose connections outlive a transfer, and one request on them
// that the session's switch can abort from any thread. Internal to the network layer.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <curl/curl.h>

#include "net/session.h"
#include "net/transfer_outcome.h"

namespace pageloom {
namespace net_detail {

// curl_global_init, once per process, thread-safe.
void EnsureCurl();

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
using EasyPtr = std::unique_ptr<CURL, EasyDeleter>;

struct MultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
using MultiPtr = std::unique_ptr<CURLM, MultiDeleter>;

struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using SlistPtr = std::unique_ptr<curl_slist, SlistDeleter>;

// An easy handle and the multi handle that runs it. The multi handle's connection cache
// keeps the connections (and their TLS state) of finished transfers open for the next
// ones; the easy handle is reset between transfers.
struct Handles {
  MultiPtr multi;  // declared first: cleaned up last, after the easy handle left it
  EasyPtr easy;
  std::thread::id lastUser;  // the thread that used them last
};

// The idle handles of a session. A transfer takes the ones its thread used last (their
// connections most likely lead where it goes), else the ones given back last, else new
// ones; at most kKeep are kept idle. Thread-safe.
class HandlePool {
 public:
  static constexpr std::size_t kKeep = 4;

  [[nodiscard]] std::unique_ptr<Handles> Take();
  // `handles` must be reset and outside any transfer.
  void Give(std::unique_ptr<Handles> handles);
  // Closes the idle handles and their connections.
  void Clear();

 private:
  std::mutex m_mutex;
  std::vector<std::unique_ptr<Handles>> m_idle;  // the last given back at the end
};

}  // namespace net_detail

struct Session::Shared {
  CURLSH* share = nullptr;
  std::array<std::mutex, CURL_LOCK_DATA_LAST> locks;
  net_detail::HandlePool pool;
};

namespace net_detail {

enum class TransferKind {
  kPage,     // ends at pageTotalSeconds
  kPicture,  // ends below the speed floor or past the size limit
};

// One GET on handles of the session's pool: the session's cookies, DNS cache, TLS
// sessions and certificates, its User-Agent, its time limits, redirects (at most 10), http and
// https only, certificates verified, HTTP/2 where the server offers it. The caller adds its body
// callbacks through Easy() (their data must outlive the object) and runs Perform once. The handles
// go back to the pool, reset, with the object.
class Transfer {
 public:
  Transfer(Session& session, const std::string& url, TransferKind kind);
  ~Transfer();
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  // False when no handle could be set up; Perform then fails.
  [[nodiscard]] bool Ready() const { return m_ready; }
  CURL* Easy() const { return m_handles ? m_handles->easy.get() : nullptr; }
  // The limits the transfer was set up with.
  const NetTimeouts& Limits() const { return m_limits; }

  // Runs the transfer to its end. CURLE_ABORTED_BY_CALLBACK when the session's switch
  // ended it (or was set before it started); CURLE_OPERATION_TIMEDOUT when no byte came
  // for the idle limit.
  [[nodiscard]] CURLcode Perform();

  // The outcome of the finished transfer: its code, the status and Retry-After of the
  // last answer, and libcurl's error text.
  [[nodiscard]] TransferOutcome Describe(CURLcode code) const;

 private:
  bool Setup(const std::string& url, TransferKind kind);

  // Progress of the body, seen by the progress callback.
  struct Watch {
    const Session* session = nullptr;
    curl_off_t received = 0;
    std::chrono::steady_clock::time_point lastByte;
  };
  static int OnProgress(void* user, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t);

  Session& m_session;
  NetTimeouts m_limits;
  std::string m_userAgent;  // set on the handle: must live as long as the transfer
  std::string m_host;       // whose turn the request waits for
  std::unique_ptr<Handles> m_handles;
  bool m_ready = false;
  Watch m_watch;
  char m_error[CURL_ERROR_SIZE] = {};
};

// Retry-After as a server writes it: seconds, or an HTTP date (`now` is the time it is
// measured from; a date in the past is 0 seconds). Nothing for anything else.
[[nodiscard]] std::optional<std::chrono::seconds> ParseRetryAfter(const char* value,
                                                                  std::time_t now);

}  // namespace net_detail
}  // namespace pageloom
