#include "support/program_run.h"

#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace pageloom::test {

namespace {

std::vector<std::string> Environment(const std::map<std::string, std::string>& overrides) {
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    if (overrides.count(text.substr(0, text.find('='))) == 0) env.push_back(text);
  }
  for (const auto& [name, value] : overrides) env.push_back(name + "=" + value);
  return env;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

int StatusCode(int status) {
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

}  // namespace

ProgramRun::ProgramRun(const std::string& program, const std::vector<std::string>& args,
                       const std::map<std::string, std::string>& env, const std::string& input,
                       const std::string& outputTo) {
  WriteFileBytes(m_files.Path() / "in", input);
  const std::string in = m_files.Str("in"), err = m_files.Str("err");
  const std::string out = outputTo.empty() ? m_files.Str("out") : outputTo;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, in.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(),
                                   O_WRONLY | O_CREAT | O_NOCTTY | (outputTo.empty() ? O_TRUNC : 0),
                                   0600);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  // The test program's own signal mask and dispositions stay behind.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::vector<std::string> argTexts{program};
  argTexts.insert(argTexts.end(), args.begin(), args.end());
  std::vector<std::string> envTexts = Environment(env);
  std::vector<char*> argv = Pointers(argTexts), envp = Pointers(envTexts);
  const int error =
      posix_spawn(&m_pid, program.c_str(), &actions, &attributes, argv.data(), envp.data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) throw std::runtime_error("cannot start " + program);
}

ProgramRun::~ProgramRun() {
  if (m_status) return;
  ::kill(m_pid, SIGKILL);
  int status = 0;
  (void)waitpid(m_pid, &status, 0);
}

void ProgramRun::Signal(int signal) const {
  if (!m_status) ::kill(m_pid, signal);
}

std::optional<int> ProgramRun::Wait(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!m_status) {
    int status = 0;
    const pid_t ended = waitpid(m_pid, &status, WNOHANG);
    if (ended == m_pid) {
      m_status = StatusCode(status);
    } else if (std::chrono::steady_clock::now() >= deadline) {
      return std::nullopt;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  return m_status;
}

std::string ProgramRun::Out() const { return ReadFileBytes(m_files.Path() / "out"); }
std::string ProgramRun::Err() const { return ReadFileBytes(m_files.Path() / "err"); }

}  // namespace pageloom::test
