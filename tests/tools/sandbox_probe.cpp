// Limits itself as the script helper does, through the same code, then makes the calls
// the helper needs and those it must never make, printing "<name> <errno or 0>" a call.
//   sandbox_probe <a file to read> <a folder>   (standard output: a pipe)
#include <QCoreApplication>
#include <QJSEngine>
#include <cerrno>
#include <cstdio>
#include <string>
#include <thread>

#include <fcntl.h>
#include <linux/sched.h>
#include <sched.h>
#include <signal.h>
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
  std::printf("%s %d\n", name, result < 0 ? errno : 0);
  std::fflush(stdout);
}

// A process made by a call the filter let through ends at once.
long Forked(long result) {
  if (result == 0) _exit(0);
  if (result > 0) waitpid(static_cast<pid_t>(result), nullptr, 0);
  return result;
}

void TryCalls(pid_t parent, const std::string& file, const std::string& folder) {
  std::thread([] {}).join();
  Report("thread", 0);
  Report("kill_self", kill(getpid(), 0));
  QJSEngine engine;
  Report("evaluate",
         engine.evaluate(QStringLiteral("[1, 2].join('+')")).toString() == "1+2" ? 0 : -1);

  Report("fork", Forked(fork()));
  clone_args args{};
  args.exit_signal = SIGCHLD;
  Report("clone3", Forked(syscall(SYS_clone3, &args, sizeof args)));
  Report("kill_parent", kill(parent, 0));
  Report("kill_group", kill(0, 0));
  Report("tgkill_parent", syscall(SYS_tgkill, parent, parent, 0));
  char byte = 0;
  iovec local{&byte, 1}, remote{&byte, 1};
  Report("process_vm_readv", process_vm_readv(getpid(), &local, 1, &remote, 1, 0));
  Report("process_vm_writev", process_vm_writev(getpid(), &local, 1, &remote, 1, 0));
  Report("ptrace", ptrace(PTRACE_SEIZE, parent, nullptr, nullptr));  // would not stop it
  rlimit limit{};
  Report("prlimit_parent", prlimit(parent, RLIMIT_NOFILE, nullptr, &limit));
  Report("open_environ", open(("/proc/" + std::to_string(parent) + "/environ").c_str(), O_RDONLY));
  Report("open_file", open(file.c_str(), O_RDONLY));
  Report("create_file", open((folder + "/made").c_str(), O_WRONLY | O_CREAT, 0600));
  Report("socket", socket(AF_UNIX, SOCK_STREAM, 0));
  char program[] = "/bin/true";
  char* argv[] = {program, nullptr};
  Report("execve", execve(program, argv, environ));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || !pageloom::script_child::RestrictProcess(getppid())) return 3;
  int qtArgc = 1;
  QCoreApplication application(qtArgc, argv);
  QJSEngine().evaluate(QStringLiteral("String(new Date(0))"));  // as the helper warms up
  if (!pageloom::script_child::AllowOnlyEvaluation()) return 3;
  TryCalls(getppid(), argv[1], argv[2]);
  return 0;
}
