// The script helper's limits, tried from inside: a probe limits itself through the
// helper's own code and makes the calls the helper needs and those it must never make.
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include <gtest/gtest.h>
#include <sys/wait.h>

#include "support/test_server.h"

namespace pageloom::test {
namespace {

TEST(SandboxTest, TheHelperCannotReachFilesProcessesOrTheNetwork) {
  TempDir dir;
  const std::filesystem::path cookies = dir.Path() / "cookies.txt";
  WriteFileBytes(cookies, ".example.org\tTRUE\t/\tFALSE\t0\tsession\tsecret\n");
  const std::string command =
      std::string(SANDBOX_PROBE_PATH) + " '" + cookies.string() + "' '" + dir.Str() + "'";
  FILE* out = popen(command.c_str(), "r");
  ASSERT_NE(out, nullptr);
  std::map<std::string, int> calls;  // name -> errno, 0 when it worked
  char name[64];
  int error = 0;
  while (std::fscanf(out, "%63s %d", name, &error) == 2) calls[name] = error;
  const int status = pclose(out);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the probe could not limit itself";

  for (const char* needed : {"thread", "kill_self", "evaluate"})
    EXPECT_EQ(calls.count(needed) ? calls.at(needed) : -1, 0) << needed;
  for (const char* refused : {"fork", "kill_parent", "kill_group", "tgkill_parent",
                              "process_vm_readv", "process_vm_writev", "ptrace", "prlimit_parent",
                              "open_environ", "open_file", "create_file", "socket", "execve"})
    EXPECT_EQ(calls.count(refused) ? calls.at(refused) : -1, EPERM) << refused;
  // Unknown, so that the C library falls back to clone, where threads pass and processes
  // do not.
  EXPECT_EQ(calls.count("clone3") ? calls.at("clone3") : -1, ENOSYS);
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "made"));
}

}  // namespace
}  // namespace pageloom::test
