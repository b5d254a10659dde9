// Ctrl-C (SIGINT) and SIGTERM as something a main loop can wait for: while a SignalPipe
// lives, each of them writes its number into a pipe whose read end the loop polls. A
// second one while the first is being handled ends the process at once, with the exit
// status of the first (an interrupted download leaves no partial picture under a final
// name, so ending at once is safe). One SignalPipe at a time per process.
#pragma once

#include <signal.h>

namespace pageloom::cli {

class SignalPipe {
 public:
  // Installs the handlers; Valid() says whether that worked.
  SignalPipe();
  // Restores the handlers that were there before and closes the pipe.
  ~SignalPipe();
  SignalPipe(const SignalPipe&) = delete;
  SignalPipe& operator=(const SignalPipe&) = delete;

  [[nodiscard]] bool Valid() const { return m_readFd >= 0; }
  // Readable once a signal has come.
  [[nodiscard]] int ReadFd() const { return m_readFd; }
  // The first signal that came (SIGINT or SIGTERM), or 0.
  [[nodiscard]] int Received() const;

  // The exit status after `signal`: 128 + its number (130 for SIGINT, 143 for SIGTERM).
  [[nodiscard]] static int ExitStatusFor(int signal) { return 128 + signal; }

 private:
  int m_readFd = -1;
  int m_writeFd = -1;
  bool m_installed = false;
  struct sigaction m_previousInt {};
  struct sigaction m_previousTerm {};
};

}  // namespace pageloom::cli
