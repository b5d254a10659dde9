#include "cli/signal_pipe.h"

#include <atomic>
#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace pageloom::cli {

namespace {

// What the handler may touch: the pipe's write end and the first signal's number.
std::atomic<int> g_writeFd{-1};
std::atomic<int> g_firstSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free int");

extern "C" void OnSignal(int signal) {
  int expected = 0;
  if (!g_firstSignal.compare_exchange_strong(expected, signal)) {
    // The second one: the user does not want to wait for the first to be handled.
    _exit(SignalPipe::ExitStatusFor(expected));
  }
  const int savedErrno = errno;
  const unsigned char byte = static_cast<unsigned char>(signal);
  const int fd = g_writeFd.load();
  if (fd >= 0) (void)!write(fd, &byte, 1);
  errno = savedErrno;
}

}  // namespace

SignalPipe::SignalPipe() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
  m_readFd = fds[0];
  m_writeFd = fds[1];
  g_firstSignal.store(0);
  g_writeFd.store(m_writeFd);
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  const bool intSet = sigaction(SIGINT, &action, &m_previousInt) == 0;
  if (!intSet || sigaction(SIGTERM, &action, &m_previousTerm) != 0) {
    if (intSet) sigaction(SIGINT, &m_previousInt, nullptr);
    g_writeFd.store(-1);
    close(m_readFd);
    close(m_writeFd);
    m_readFd = m_writeFd = -1;
    return;
  }
  m_installed = true;
}

SignalPipe::~SignalPipe() {
  if (m_installed) {
    sigaction(SIGINT, &m_previousInt, nullptr);
    sigaction(SIGTERM, &m_previousTerm, nullptr);
  }
  g_writeFd.store(-1);
  if (m_readFd >= 0) close(m_readFd);
  if (m_writeFd >= 0) close(m_writeFd);
}

int SignalPipe::Received() const { return g_firstSignal.load(); }

}  // namespace pageloom::cli
