// Limits itself as the script helper does, through the same code, then tries what the
// helper must never do and what it must still do, and prints one line a call:
// "<name> ok" or "<name> refused <errno>". Started by sandbox_test as
//   sandbox_probe <address of a buffer in the parent> <its size> <a file to read> <a folder>
// on standard output a pipe (a file could not be written: the helper may write none).
#include <QCoreApplication>
#include <QJSEngine>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <linux/sched.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include "script/child/sandbox.h"

namespace {

void Report(const char* name, long result) {
  if (result >= 0)
    std::printf("%s ok\n", name);
  else
    std::printf("%s refused %d\n", name, errno);
  std::fflush(stdout);
}

// A process made by the call below, if the filter let one through, ends at once.
long Forked(long result) {
  if (result == 0) _exit(0);
  if (result > 0) waitpid(static_cast<pid_t>(result), nullptr, 0);
  return result;
}

void TryOtherProcesses(pid_t parent, std::uintptr_t address, std::size_t size) {
  Report("fork", Forked(fork()));
  clone_args args{};
  args.exit_signal = SIGCHLD;
  Report("clone3", Forked(syscall(SYS_clone3, &args, sizeof args)));
  Report("kill_parent", kill(parent, 0));
  Report("kill_group", kill(0, 0));
  Report("kill_all", kill(-1, 0));
  Report("tgkill_parent", syscall(SYS_tgkill, parent, parent, 0));
  Report("tkill_parent", syscall(SYS_tkill, parent, 0));
  Report("pidfd_open", syscall(SYS_pidfd_open, parent, 0));
  std::vector<char> copy(size);
  iovec local{copy.data(), size};
  iovec remote{reinterpret_cast<void*>(address), size};
  Report("process_vm_readv", process_vm_readv(parent, &local, 1, &remote, 1, 0));
  iovec self{copy.data(), size};
  Report("process_vm_writev", process_vm_writev(getpid(), &local, 1, &self, 1, 0));
  Report("ptrace", ptrace(PTRACE_SEIZE, parent, nullptr, nullptr));  // would not stop it
  rlimit limit{};
  Report("prlimit_parent", prlimit(parent, RLIMIT_NOFILE, nullptr, &limit));
}

void TryFilesAndMore(pid_t parent, const char* file, const std::string& folder) {
  const std::string environment = "/proc/" + std::to_string(parent) + "/environ";
  Report("open_environ", open(environment.c_str(), O_RDONLY));
  Report("open_file", open(file, O_RDONLY));
  Report("openat_file", openat(AT_FDCWD, file, O_RDONLY));
  Report("create_file", open((folder + "/made").c_str(), O_WRONLY | O_CREAT, 0600));
  Report("socket", socket(AF_UNIX, SOCK_STREAM, 0));
  Report("unshare", unshare(CLONE_NEWUSER));
  Report("memfd_create", syscall(SYS_memfd_create, "x", 0));
  char program[] = "/bin/true";
  char* argv[] = {program, nullptr};
  Report("execve", execve(program, argv, environ));
}

// What evaluating needs keeps working: threads, signals to itself, memory, the engine.
void TryWhatMustWork() {
  std::thread thread([] {});
  thread.join();
  std::printf("thread ok\n");
  Report("kill_self", kill(getpid(), 0));
  rlimit cpu{};
  Report("prlimit_self", prlimit(0, RLIMIT_CPU, nullptr, &cpu));
  void* block = mmap(nullptr, 64 << 20, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  Report("mmap", block == MAP_FAILED ? -1 : 0);
  QJSEngine engine;
  const bool evaluates = engine.evaluate(QStringLiteral("[1, 2].join('+')")).toString() == "1+2";
  Report("evaluate", evaluates ? 0 : -1);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) return 2;
  const pid_t parent = getppid();
  if (!pageloom::script_child::RestrictProcess(parent)) return 3;
  int qtArgc = 1;
  QCoreApplication application(qtArgc, argv);
  {
    QJSEngine engine;  // the helper's first evaluation, before its filter
    (void)engine.evaluate(QStringLiteral("String(new Date(0))"));
  }
  if (!pageloom::script_child::AllowOnlyEvaluation()) return 3;
  TryWhatMustWork();
  TryOtherProcesses(parent, std::strtoull(argv[1], nullptr, 10),
                    static_cast<std::size_t>(std::strtoull(argv[2], nullptr, 10)));
  TryFilesAndMore(parent, argv[3], argv[4]);
  return 0;
}
