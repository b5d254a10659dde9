#include "script/child/sandbox.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace pageloom::script_child {

namespace {

constexpr rlim_t kAddressSpaceBytes = rlim_t{512} << 20;
constexpr rlim_t kCpuSecondsPerEvaluation = 20;
constexpr rlim_t kCpuSecondsLifetime = 3600;
constexpr rlim_t kOpenFiles = 32;

bool Limit(int resource, rlim_t soft, rlim_t hard) {
  const rlimit limit{soft, hard};
  return setrlimit(resource, &limit) == 0;
}

void LeaveNetwork() {
  // Permitted to a privileged process, and to others where user namespaces are allowed.
  if (unshare(CLONE_NEWNET) == 0) return;
  (void)unshare(CLONE_NEWUSER | CLONE_NEWNET);
}

#if defined(__x86_64__)
constexpr std::uint32_t kArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr std::uint32_t kArch = AUDIT_ARCH_AARCH64;
#endif

constexpr std::uint32_t kRefuse = SECCOMP_RET_ERRNO | EPERM;
// Flags a new thread may not carry: new namespaces would make a process of their own.
constexpr std::uint32_t kNamespaceFlags = CLONE_NEWNS | CLONE_NEWCGROUP | CLONE_NEWUTS |
                                          CLONE_NEWIPC | CLONE_NEWUSER | CLONE_NEWPID |
                                          CLONE_NEWNET;

std::uint32_t ArgLow(int index) {
  // The low half of a 64-bit argument (both architectures are little-endian).
  return static_cast<std::uint32_t>(offsetof(seccomp_data, args) + 8 * index);
}

// An allow list: the calls added are let through (some only with the arguments given);
// every other call fails with EPERM, and a call made in another architecture's numbering
// ends the process.
class FilterBuilder {
 public:
  FilterBuilder() {
    Add(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)));
    Add(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kArch, 1, 0));
    Add(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS));
    LoadNumber();
#if defined(__x86_64__)
    Add(BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, 0x40000000u, 0, 1));  // the x32 numbering
    Add(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS));
#endif
  }

  void Allow(long number) { Answer(number, SECCOMP_RET_ALLOW); }

  // Answers `number` with `action` (e.g. an error number) instead of the default refusal.
  void Answer(long number, std::uint32_t action) {
    Add(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<std::uint32_t>(number), 0, 1));
    Add(BPF_STMT(BPF_RET | BPF_K, action));
  }

  // Allows `number` when argument `index` is one of `values` (compared as 32 bits).
  void AllowWhenArgIs(long number, int index, std::initializer_list<std::uint32_t> values) {
    const auto count = static_cast<std::uint8_t>(values.size());
    Add(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<std::uint32_t>(number), 0,
                 static_cast<std::uint8_t>(count + 3)));
    Add(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, ArgLow(index)));
    std::uint8_t toAllow = count;  // a match jumps over the other values and the refusal
    for (std::uint32_t value : values)
      Add(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, value, toAllow--, 0));
    Add(BPF_STMT(BPF_RET | BPF_K, kRefuse));
    Add(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
  }

  // Allows `number` when argument `index`, masked with `mask`, equals `value`.
  void AllowWhenMasked(long number, int index, std::uint32_t mask, std::uint32_t value) {
    Add(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<std::uint32_t>(number), 0, 5));
    Add(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, ArgLow(index)));
    Add(BPF_STMT(BPF_ALU | BPF_AND | BPF_K, mask));
    Add(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, value, 0, 1));
    Add(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    Add(BPF_STMT(BPF_RET | BPF_K, kRefuse));
  }

  bool Install() {
    Add(BPF_STMT(BPF_RET | BPF_K, kRefuse));
    const sock_fprog program{static_cast<unsigned short>(m_code.size()), m_code.data()};
    return prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program, 0, 0) == 0;
  }

 private:
  void LoadNumber() { Add(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr))); }
  void Add(sock_filter instruction) { m_code.push_back(instruction); }
  std::vector<sock_filter> m_code;
};

// What the helper and the engine call once started, as measured (strace -f over the
// script tests) after the warm-up evaluation, with what a crash, an abort and a thread
// need besides. No call opens, creates, changes or removes a file, makes a socket, runs
// or traces a program, or reaches another process.
void AllowEvaluationCalls(FilterBuilder& filter) {
  for (long number : {// standard input, output and error
                      long{__NR_read}, long{__NR_write}, long{__NR_readv}, long{__NR_writev},
                      long{__NR_close}, long{__NR_fstat}, long{__NR_newfstatat}, long{__NR_statx},
                      long{__NR_lseek}, long{__NR_ppoll},
                      // memory, the garbage collector and the compiled code
                      long{__NR_brk}, long{__NR_mmap}, long{__NR_munmap}, long{__NR_mprotect},
                      long{__NR_mremap}, long{__NR_madvise},
                      // signals, threads of this process, time
                      long{__NR_rt_sigaction}, long{__NR_rt_sigprocmask}, long{__NR_rt_sigreturn},
                      long{__NR_sigaltstack}, long{__NR_restart_syscall}, long{__NR_futex},
                      long{__NR_set_robust_list}, long{__NR_rseq}, long{__NR_sched_yield},
                      long{__NR_sched_getaffinity}, long{__NR_getpid}, long{__NR_gettid},
                      long{__NR_clock_gettime}, long{__NR_clock_getres}, long{__NR_gettimeofday},
                      long{__NR_nanosleep}, long{__NR_clock_nanosleep}, long{__NR_getrandom},
                      long{__NR_getrusage}, long{__NR_exit}, long{__NR_exit_group}}) {
    filter.Allow(number);
  }
#ifdef __NR_poll
  filter.Allow(__NR_poll);
#endif
  const auto self = static_cast<std::uint32_t>(getpid());
  // Signals to this process only (raise and abort use tgkill): never to its parent, its
  // process group (0) or every process (-1).
  filter.AllowWhenArgIs(__NR_kill, 0, {self});
  filter.AllowWhenArgIs(__NR_tgkill, 0, {self});
  // Its own limits only (the CPU time of the next evaluation).
  filter.AllowWhenArgIs(__NR_prlimit64, 0, {0, self});
  // Threads, never processes; clone3 hides its flags, so the C library falls back to clone.
  filter.AllowWhenMasked(__NR_clone, 0, CLONE_THREAD | kNamespaceFlags, CLONE_THREAD);
  filter.Answer(__NR_clone3, SECCOMP_RET_ERRNO | ENOSYS);
}

}  // namespace

bool RestrictProcess(pid_t parent) {
  if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) return false;
  if (close_range(3, ~0u, 0) != 0) return false;
  // Output to a file stderr fails instead of ending the helper.
  std::signal(SIGXFSZ, SIG_IGN);
  if (!Limit(RLIMIT_AS, kAddressSpaceBytes, kAddressSpaceBytes) ||
      !Limit(RLIMIT_CPU, kCpuSecondsPerEvaluation, kCpuSecondsLifetime) ||
      !Limit(RLIMIT_NOFILE, kOpenFiles, kOpenFiles) || !Limit(RLIMIT_FSIZE, 0, 0) ||
      !Limit(RLIMIT_CORE, 0, 0))
    return false;
  LeaveNetwork();
  return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0;
}

bool AllowOnlyEvaluation() {
#if defined(__x86_64__) || defined(__aarch64__)
  FilterBuilder filter;
  AllowEvaluationCalls(filter);
  return filter.Install();
#else
  return false;
#endif
}

void AllowCpuForNextEvaluation() {
  rusage usage{};
  if (getrusage(RUSAGE_SELF, &usage) != 0) return;
  const rlim_t used = static_cast<rlim_t>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + 1;
  rlimit limit{};
  if (getrlimit(RLIMIT_CPU, &limit) != 0) return;
  limit.rlim_cur = std::min(used + kCpuSecondsPerEvaluation, limit.rlim_max);
  (void)setrlimit(RLIMIT_CPU, &limit);
}

}  // namespace pageloom::script_child
