// A program started as a child process, its standard output and error caught in files,
// its standard input read from a given text. Killed and reaped when the object goes, so
// no test leaves it running.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

#include "support/test_server.h"

namespace pageloom::test {

class ProgramRun {
 public:
  // Starts `program` with `args` (the program's name is put in front), the environment
  // of this process with `env` laid over it, and `input` as standard input. Standard
  // output goes to `outputTo` when given (e.g. a terminal's path). Throws
  // std::runtime_error when it cannot be started.
  ProgramRun(const std::string& program, const std::vector<std::string>& args,
             const std::map<std::string, std::string>& env = {}, const std::string& input = {},
             const std::string& outputTo = {});
  ~ProgramRun();
  ProgramRun(const ProgramRun&) = delete;
  ProgramRun& operator=(const ProgramRun&) = delete;

  [[nodiscard]] pid_t Pid() const { return m_pid; }
  void Signal(int signal) const;
  // Waits for the end: the exit status, or 128 + the number of the signal that ended it;
  // nothing when the time is up (the program still runs then).
  std::optional<int> Wait(std::chrono::milliseconds timeout = std::chrono::seconds(120));

  // What it wrote so far.
  [[nodiscard]] std::string Out() const;
  [[nodiscard]] std::string Err() const;

 private:
  TempDir m_files;
  pid_t m_pid = -1;
  std::optional<int> m_status;
};

}  // namespace pageloom::test
