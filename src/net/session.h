// The internet session of one owner (a window's controller, a test, a benchmark): the
// cookie store and DNS cache its transfers share, the connections they keep open for each
// other (each handle keeps its own TLS sessions), their limits, and the switch that aborts them.
// Nothing of it is process-wide: two sessions never touch each other's transfers or connections.
//
// Connections are kept: a transfer runs on handles taken from the session's small pool,
// preferring those its own thread used last, and gives them back with their connections
// open (HTTP keep-alive, HTTP/2 where the server offers it). So the pages and pictures a
// worker fetches one after the other from one site share one connection.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "base/cancellation.h"
#include "net/pacer.h"

namespace pageloom {

// The limits of every request, in time, speed and size; tests shorten them. A transfer
// that passes one fails (a picture leaves no file).
struct NetTimeouts {
  long connectSeconds = 30;
  long lowSpeedSeconds = 60;             // a transfer that gets no byte for this long
  long pageTotalSeconds = 120;           // a page fetch that takes longer in all
  long pictureMinBytesPerSecond = 1024;  // a picture that arrives slower than this...
  long pictureSlowSeconds = 60;          // ...for this long
  std::uint64_t pictureMaxBytes = std::uint64_t{1} << 30;  // a picture larger than this
};

class Session {
 public:
  // `cancel` aborts the session's transfers in flight, on any thread, and makes new ones
  // fail at once while it is set. It must outlive the session.
  explicit Session(const Cancellation& cancel, NetTimeouts timeouts = {});
  // Every transfer of the session must have ended.
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // False when the shared store could not be made; transfers then fail.
  [[nodiscard]] bool Valid() const;

  [[nodiscard]] NetTimeouts Timeouts() const;
  void SetTimeouts(NetTimeouts timeouts);

  // Certificates trusted besides the system's (a PEM file, e.g. the authority of a proxy
  // that inspects HTTPS). A new session takes the file named by CURL_CA_BUNDLE, else by
  // SSL_CERT_FILE, as curl does; empty: the system's only. Later transfers use it.
  [[nodiscard]] std::string CertificateFile() const;
  void SetCertificateFile(std::string pemFile);

  // The User-Agent of every request, pages and pictures alike. A new session takes
  // PAGELOOM_USER_AGENT when it is set and not empty, else kDefaultUserAgent.
  static constexpr char kDefaultUserAgent[] = "pageLoom";
  [[nodiscard]] std::string UserAgent() const;
  void SetUserAgent(std::string agent);

  // Polite pacing between two requests to one host (off by default). While held, a
  // request waiting for its turn is not sent; the switch ends the wait.
  [[nodiscard]] Pacing GetPacing() const { return m_pacer.Get(); }
  void SetPacing(Pacing pacing) { m_pacer.Set(pacing); }
  void HoldPacedRequests(bool held) { m_pacer.Hold(held); }
  // The calling thread's requests are never held while it is exempt.
  void ExemptThisThreadFromHold(bool exempt) {
    m_pacer.ExemptFromHold(std::this_thread::get_id(), exempt);
  }
  // Waits for the turn of a request to `host`; false when the switch ended the wait.
  [[nodiscard]] bool WaitTurn(const std::string& host) { return m_pacer.WaitTurn(host, m_cancel); }

  const Cancellation& Cancel() const { return m_cancel; }
  [[nodiscard]] bool Aborted() const { return m_cancel.Cancelled(); }

  struct Shared;  // the libcurl side, net-internal
  Shared& Internals() const { return *m_shared; }

 private:
  const Cancellation& m_cancel;
  mutable std::mutex m_settingsMutex;  // guards the two below
  NetTimeouts m_timeouts;
  std::string m_certificateFile;
  std::string m_userAgent;
  std::unique_ptr<Shared> m_shared;
  Pacer m_pacer;
};

// The session of a window, by the names its start-up and tear-down use: OpenInternet
// makes one (null when that fails), CloseInternet ends it and returns 1, or 0 when there
// was none.
[[nodiscard]] std::unique_ptr<Session> OpenInternet(const Cancellation& cancel,
                                                    NetTimeouts timeouts = {});
int CloseInternet(std::unique_ptr<Session>& session);

}  // namespace pageloom
