// What the page fetch and the picture download share: the libcurl side of a session, easy
// handles set up the same way, and a transfer loop that the session's switch can abort
// from any thread. Internal to the network layer.
#pragma once

#include <curl/curl.h>

#include <array>
#include <memory>
#include <mutex>
#include <string>

#include "net/session.h"
#include "net/transfer_outcome.h"

namespace pageloom {

struct Session::Shared {
  CURLSH* share = nullptr;
  std::array<std::mutex, CURL_LOCK_DATA_LAST> locks;
};

namespace net_detail {

// curl_global_init, once per process, thread-safe.
void EnsureCurl();

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
using EasyPtr = std::unique_ptr<CURL, EasyDeleter>;

struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using SlistPtr = std::unique_ptr<curl_slist, SlistDeleter>;

// An easy handle for a GET of `url`: the session's cookies, DNS cache and TLS sessions,
// its time-outs, redirects (at most 10), http and https only, certificates verified.
// Null on failure.
EasyPtr NewRequest(const std::string& url, Session& session);

// Runs the transfer to its end. Returns CURLE_ABORTED_BY_CALLBACK when the session's
// switch ended it (or was set before it started).
CURLcode Perform(CURL* easy, Session& session);

// The outcome of a finished transfer: its code, the status of the last answer, and the
// error text libcurl left in `error` (may be empty).
TransferOutcome Describe(CURLcode code, CURL* easy, const char* error);

}  // namespace net_detail
}  // namespace pageloom
