#include "script/child/sandbox.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <vector>

#include <fcntl.h>
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

constexpr std::uint32_t kWriteFlags = O_WRONLY | O_RDWR | O_CREAT | O_TRUNC | O_APPEND;

// A filter that refuses (EPERM) the calls below and opening files for writing, and ends
// the process on a call made in another architecture's numbering.
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

  void Refuse(long number) {
    Add(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<std::uint32_t>(number), 0, 1));
    Add(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM));
  }

  // Refuses `number` when its argument `flagsArg` asks for writing.
  void RefuseWriting(long number, int flagsArg) {
    Add(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<std::uint32_t>(number), 0, 4));
    Add(BPF_STMT(BPF_LD | BPF_W | BPF_ABS,
                 static_cast<std::uint32_t>(offsetof(seccomp_data, args) + 8 * flagsArg)));
    Add(BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, kWriteFlags, 0, 1));
    Add(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM));
    LoadNumber();
  }

  bool Install() {
    Add(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    const sock_fprog program{static_cast<unsigned short>(m_code.size()), m_code.data()};
    return prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program, 0, 0) == 0;
  }

 private:
  void LoadNumber() { Add(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr))); }
  void Add(sock_filter instruction) { m_code.push_back(instruction); }
  std::vector<sock_filter> m_code;
};

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

bool ForbidNetworkAndFileWrites() {
#if defined(__x86_64__) || defined(__aarch64__)
  FilterBuilder filter;
  for (long number : {
#ifdef __NR_open
           long{__NR_open},
#endif
           long{__NR_openat}}) {
    filter.RefuseWriting(number, number == __NR_openat ? 2 : 1);
  }
  for (long number :
       {// network
        long{__NR_socket}, long{__NR_socketpair}, long{__NR_connect}, long{__NR_bind},
        long{__NR_listen}, long{__NR_accept}, long{__NR_accept4},
        // files
        long{__NR_openat2}, long{__NR_open_by_handle_at}, long{__NR_truncate}, long{__NR_ftruncate},
        long{__NR_fallocate}, long{__NR_unlinkat}, long{__NR_renameat}, long{__NR_renameat2},
        long{__NR_mkdirat}, long{__NR_linkat}, long{__NR_symlinkat}, long{__NR_fchmod},
        long{__NR_fchmodat}, long{__NR_fchown}, long{__NR_fchownat}, long{__NR_mknodat},
        long{__NR_io_uring_setup},
#ifdef __NR_creat
        long{__NR_creat}, long{__NR_unlink}, long{__NR_rename}, long{__NR_mkdir}, long{__NR_rmdir},
        long{__NR_link}, long{__NR_symlink}, long{__NR_chmod}, long{__NR_chown}, long{__NR_lchown},
        long{__NR_mknod},
#endif
        // other programs and the process's surroundings
        long{__NR_execve}, long{__NR_execveat}, long{__NR_ptrace}, long{__NR_process_vm_writev},
        long{__NR_mount}, long{__NR_umount2}, long{__NR_pivot_root}, long{__NR_chroot},
        long{__NR_unshare}, long{__NR_setns}}) {
    filter.Refuse(number);
  }
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
