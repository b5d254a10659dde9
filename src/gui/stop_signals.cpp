#include "gui/stop_signals.h"

#include <QSocketNotifier>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace pageloom {

namespace {

constexpr std::array<int, 3> kSignals = {SIGTERM, SIGINT, SIGHUP};

// Where the handler writes: the one thing a signal handler can reach is a global. -1
// while no StopSignals lives.
std::atomic<int> g_signalPipe{-1};

extern "C" void OnStopSignal(int) {
  const int saved = errno;
  const int fd = g_signalPipe.load();
  const char byte = 1;
  if (fd >= 0) (void)!::write(fd, &byte, 1);
  errno = saved;
}

}  // namespace

struct StopSignals::Saved {
  std::array<struct sigaction, kSignals.size()> actions{};
};

StopSignals::StopSignals(std::function<void()> stop)
    : m_stop(std::move(stop)), m_saved(std::make_unique<Saved>()) {
  if (::pipe2(m_pipe, O_NONBLOCK | O_CLOEXEC) != 0) return;
  g_signalPipe.store(m_pipe[1]);
  struct sigaction action {};
  action.sa_handler = &OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < kSignals.size(); ++i)
    sigaction(kSignals[i], &action, &m_saved->actions[i]);
  m_notifier = new QSocketNotifier(m_pipe[0], QSocketNotifier::Read, this);
  connect(m_notifier, &QSocketNotifier::activated, this, [this] {
    char bytes[64];
    while (::read(m_pipe[0], bytes, sizeof bytes) > 0) {
    }
    if (m_stop) m_stop();
  });
}

StopSignals::~StopSignals() {
  if (m_pipe[0] < 0) return;
  for (std::size_t i = 0; i < kSignals.size(); ++i)
    sigaction(kSignals[i], &m_saved->actions[i], nullptr);
  g_signalPipe.store(-1);
  delete m_notifier;
  ::close(m_pipe[0]);
  ::close(m_pipe[1]);
}

}  // namespace pageloom
