// The script helper's limits, tried from inside: a probe limits itself through the
// helper's own code and makes each call the helper must never make, and those it needs.
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/test_server.h"

namespace pageloom::test {
namespace {

struct ProbeRun {
  int status = -1;
  std::map<std::string, std::string> calls;  // name -> "ok" or "refused <errno>"
};

// Runs the probe with its standard output on a pipe, reads it to the end, reaps it.
ProbeRun RunProbe(const std::vector<std::string>& args) {
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  std::vector<std::string> words{SANDBOX_PROBE_PATH};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int error = posix_spawn(&pid, SANDBOX_PROBE_PATH, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  ProbeRun run;
  std::string text;
  char buffer[4096];
  pollfd ready{out[0], POLLIN, 0};
  // Bounded: a probe that hangs is killed below.
  while (error == 0 && poll(&ready, 1, 30000) > 0) {
    const ssize_t n = read(out[0], buffer, sizeof buffer);
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  close(out[0]);
  if (error != 0) return run;
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::istringstream lines(text);
  std::string name, rest;
  while (lines >> name && std::getline(lines, rest)) run.calls[name] = rest.substr(1);
  return run;
}

TEST(SandboxTest, TheHelperCannotReachFilesProcessesOrTheNetwork) {
  TempDir dir;
  const std::filesystem::path cookies = dir.Path() / "cookies.txt";
  WriteFileBytes(cookies, ".example.org\tTRUE\t/\tFALSE\t0\tsession\tsecret\n");
  const std::string secret(4096, 's');
  const ProbeRun run = RunProbe({std::to_string(reinterpret_cast<std::uintptr_t>(secret.data())),
                                 std::to_string(secret.size()), cookies.string(), dir.Str()});
  ASSERT_EQ(run.status, 0) << "the probe could not limit itself, or was ended";

  for (const char* needed : {"thread", "kill_self", "prlimit_self", "mmap", "evaluate"})
    EXPECT_EQ(run.calls.count(needed) ? run.calls.at(needed) : "missing", "ok") << needed;

  const std::string eperm = "refused " + std::to_string(EPERM);
  for (const char* refused :
       {"fork", "kill_parent", "kill_group", "kill_all", "tgkill_parent", "tkill_parent",
        "pidfd_open", "process_vm_readv", "process_vm_writev", "ptrace", "prlimit_parent",
        "open_environ", "open_file", "openat_file", "create_file", "socket", "unshare",
        "memfd_create", "execve"})
    EXPECT_EQ(run.calls.count(refused) ? run.calls.at(refused) : "missing", eperm) << refused;
  // Refused as unknown, so that the C library falls back to clone, where threads pass.
  EXPECT_EQ(run.calls.count("clone3") ? run.calls.at("clone3") : "missing",
            "refused " + std::to_string(ENOSYS));
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "made"));
}

}  // namespace
}  // namespace pageloom::test
