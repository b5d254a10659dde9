// A request to stop from outside (SIGTERM when the session ends, SIGINT from a terminal,
// SIGHUP when the terminal goes) ends the program as closing its window does: a message
// or picker that is open is dismissed, the workers stop and the cookies are written.
#pragma once

#include <QObject>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace pageloom {

class StopSignals : public QObject {
  Q_OBJECT

 public:
  // While it lives, each of the signals calls `stop` on the window thread (the thread
  // that makes it). One at a time.
  explicit StopSignals(std::function<void()> stop);
  // Puts the handlers that were there before back.
  ~StopSignals() override;
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // False when the signals could not be caught (they then end the program at once).
  bool Active() const { return m_notifier != nullptr; }

 private:
  struct Saved;
  std::function<void()> m_stop;
  int m_pipe[2] = {-1, -1};
  QSocketNotifier* m_notifier = nullptr;
  std::unique_ptr<Saved> m_saved;
};

}  // namespace pageloom
