// The internet session of one owner (a window's controller, a test, a benchmark): the
// cookie store, DNS cache and TLS sessions its transfers share, their time limits, and the
// switch that aborts them. Nothing of it is process-wide: two sessions never touch each
// other's transfers.
#pragma once

#include <atomic>
#include <memory>

#include "text/cancellation.h"

namespace pageloom {

// Time limits of every request.
struct NetTimeouts {
  long connectSeconds = 30;
  long lowSpeedSeconds = 60;  // a transfer that gets no byte for this long fails
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

  const Cancellation& Cancel() const { return m_cancel; }
  [[nodiscard]] bool Aborted() const { return m_cancel.Cancelled(); }

  struct Shared;  // the libcurl side, net-internal
  Shared& Internals() const { return *m_shared; }

 private:
  const Cancellation& m_cancel;
  std::atomic<long> m_connectSeconds;
  std::atomic<long> m_lowSpeedSeconds;
  std::unique_ptr<Shared> m_shared;
};

// The session of a window, by the names its start-up and tear-down use: OpenInternet
// makes one (null when that fails), CloseInternet ends it and returns 1, or 0 when there
// was none.
[[nodiscard]] std::unique_ptr<Session> OpenInternet(const Cancellation& cancel,
                                                    NetTimeouts timeouts = {});
int CloseInternet(std::unique_ptr<Session>& session);

}  // namespace pageloom
