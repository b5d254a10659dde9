// The helper process: started with posix_spawn on a socket pair, spoken to in frames
// (script_protocol.h), waited for with poll against a deadline and a wake-up eventfd.
#include "script/script_host.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <optional>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "base/debug_line.h"
#include "script/script_protocol.h"

#ifndef PAGELOOM_HELPER_FROM_PROGRAM
#define PAGELOOM_HELPER_FROM_PROGRAM "../lib/pageloom"
#endif

namespace pageloom {

namespace {

using Clock = std::chrono::steady_clock;

// Longer time limits are taken as this one, which the clock can still add.
constexpr std::chrono::hours kLongestTimeout{24 * 365};

enum class Io { kDone, kTimedOut, kCancelled, kClosed, kFailed };

// Waits until `fd` is ready for `events`, the deadline passes or `wake` is written to.
Io Wait(int fd, short events, int wake, Clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return Io::kTimedOut;
    pollfd fds[2] = {{fd, events, 0}, {wake, POLLIN, 0}};
    const int ready = poll(fds, 2, static_cast<int>(std::min<std::int64_t>(left.count(), INT_MAX)));
    if (ready < 0) {
      if (errno == EINTR) continue;
      return Io::kFailed;
    }
    if (fds[1].revents & POLLIN) return Io::kCancelled;
    if (fds[0].revents & events) return Io::kDone;
    if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return Io::kClosed;
  }
}

Io SendAll(int fd, int wake, std::string_view data, Clock::time_point deadline) {
  while (!data.empty()) {
    const ssize_t sent = send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (sent > 0) {
      data.remove_prefix(static_cast<std::size_t>(sent));
    } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      const Io waited = Wait(fd, POLLOUT, wake, deadline);
      if (waited != Io::kDone) return waited;
    } else if (sent < 0 && errno != EINTR) {
      return errno == EPIPE || errno == ECONNRESET ? Io::kClosed : Io::kFailed;
    }
  }
  return Io::kDone;
}

Io ReceiveAll(int fd, int wake, char* data, std::size_t size, Clock::time_point deadline) {
  while (size > 0) {
    const ssize_t received = recv(fd, data, size, 0);
    if (received > 0) {
      data += received;
      size -= static_cast<std::size_t>(received);
    } else if (received == 0) {
      return Io::kClosed;
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      const Io waited = Wait(fd, POLLIN, wake, deadline);
      if (waited != Io::kDone) return waited;
    } else if (errno != EINTR) {
      return errno == ECONNRESET ? Io::kClosed : Io::kFailed;
    }
  }
  return Io::kDone;
}

std::string DescribeEnd(int status) {
  if (WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
  if (WIFEXITED(status)) return "ended with code " + std::to_string(WEXITSTATUS(status));
  return "ended";
}

// Starts the helper with its standard input and output on one end of a socket pair and
// every other descriptor but standard error closed. Returns the pid and our end, or -1.
pid_t Spawn(const std::string& path, int& ourEnd) {
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return -1;
  // Above the standard descriptors (a program started without them could get 0 to 2),
  // so that moving the helper's end onto 0 and 1 never meets itself.
  for (int& end : pair) {
    if (end > STDERR_FILENO) continue;
    const int moved = fcntl(end, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    close(end);
    end = moved;
  }
  if (pair[0] < 0 || pair[1] < 0) {
    for (int end : pair)
      if (end >= 0) close(end);
    return -1;
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pair[1], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, pair[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
  // Signals blocked or ignored by the calling thread must not carry over.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::string parent = std::to_string(getpid());
  std::string program = path;
  char option[] = "--parent";
  char* argv[] = {program.data(), option, parent.data(), nullptr};
  char locale[] = "LANG=C.UTF-8";
  char debug[] = "PAGELOOM_DEBUG=1";
  char* envp[] = {locale, DebugEnabled() ? debug : nullptr, nullptr};

  pid_t pid = -1;
  const int error = posix_spawn(&pid, path.c_str(), &actions, &attributes, argv, envp);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  close(pair[1]);
  if (error != 0) {
    close(pair[0]);
    DebugLine("script helper " + path + " cannot be started: " + std::strerror(error));
    return -1;
  }
  const int flags = fcntl(pair[0], F_GETFL);
  (void)fcntl(pair[0], F_SETFL, flags | O_NONBLOCK);
  ourEnd = pair[0];
  return pid;
}

}  // namespace

std::string ScriptHelperOfProgram() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return {};
  const std::filesystem::path beside = self.parent_path() / kScriptHelperName;
  const std::filesystem::path installed =
      (self.parent_path() / PAGELOOM_HELPER_FROM_PROGRAM / kScriptHelperName).lexically_normal();
  if (!std::filesystem::is_regular_file(beside, error) &&
      std::filesystem::is_regular_file(installed, error))
    return installed.string();
  return beside.string();
}

ScriptHost::ScriptHost() : ScriptHost(ScriptHelperOfProgram()) {}

ScriptHost::ScriptHost(std::string helperPath) : m_helperPath(std::move(helperPath)) {}

ScriptHost::~ScriptHost() {
  Stop();
  if (m_wake >= 0) close(m_wake);
}

void ScriptHost::Stop() {
  std::lock_guard<std::mutex> lock(m_mutex);
  StopLocked(nullptr);
}

std::optional<int> ScriptHost::StopLocked(const char* reason) {
  if (m_pid <= 0) return std::nullopt;
  kill(m_pid, SIGKILL);
  int status = 0;
  pid_t reaped;
  do {
    reaped = waitpid(m_pid, &status, 0);
  } while (reaped < 0 && errno == EINTR);
  if (reason != nullptr && reaped == m_pid)
    DebugLine(std::string("script helper stopped (") + reason + "): " + DescribeEnd(status));
  close(m_socket);
  m_socket = -1;
  m_pid = -1;
  if (reaped < 0) return std::nullopt;
  return status;
}

bool ScriptHost::EnsureHelper() {
  if (m_pid > 0) {
    // A helper that ended while idle is reaped and replaced.
    int status = 0;
    const pid_t reaped = waitpid(m_pid, &status, WNOHANG);
    if (reaped == 0) return true;
    if (reaped == m_pid) DebugLine("script helper " + DescribeEnd(status) + " while idle");
    close(m_socket);
    m_socket = -1;
    m_pid = -1;
  }
  if (m_helperPath.empty()) {
    DebugLine(std::string_view("script helper: the program's own folder is unknown"));
    return false;
  }
  m_pid = Spawn(m_helperPath, m_socket);
  return m_pid > 0;
}

ScriptAnswer ScriptHost::Evaluate(std::u16string_view source, std::chrono::milliseconds timeout,
                                  const Cancellation* cancel) {
  std::lock_guard<std::mutex> lock(m_mutex);
  const auto deadline =
      Clock::now() + std::min(timeout, std::chrono::milliseconds(kLongestTimeout));
  if (source.size() > kMaxScriptBytes / 2) return {ScriptStatus::kScriptError, u"script too long"};
  if (m_wake < 0) m_wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (m_wake < 0) return {ScriptStatus::kChildFailed, {}};
  std::uint64_t stale = 0;
  (void)!read(m_wake, &stale, sizeof stale);  // a wake-up left from an earlier switch

  Cancellation::Subscription subscription;
  if (cancel != nullptr) {
    subscription = Cancellation::Subscription(*cancel, [wake = m_wake] {
      const std::uint64_t one = 1;
      (void)!write(wake, &one, sizeof one);
    });
    if (cancel->Cancelled()) return {ScriptStatus::kCancelled, {}};
  }
  if (m_sandboxMissing.load()) return {ScriptStatus::kNoSandbox, {}};
  if (!EnsureHelper()) return {ScriptStatus::kNoHelper, {}};
  return Exchange(source, deadline);
}

ScriptAnswer ScriptHost::Exchange(std::u16string_view source, Clock::time_point deadline) {
  unsigned char header[kAnswerHeaderBytes];
  Io io = SendAll(m_socket, m_wake, EncodeRequest(source), deadline);
  if (io == Io::kDone)
    io = ReceiveAll(m_socket, m_wake, reinterpret_cast<char*>(header), sizeof header, deadline);

  std::optional<AnswerHeader> parsed;
  if (io == Io::kDone) parsed = ParseAnswerHeader(header, UINT32_MAX);
  std::string payload;
  if (parsed && parsed->bytes > kMaxAnswerBytes) {
    StopLocked("oversized answer");
    return {ScriptStatus::kTooLarge, {}};
  }
  if (parsed) {
    payload.resize(parsed->bytes);
    io = ReceiveAll(m_socket, m_wake, payload.data(), payload.size(), deadline);
  }
  switch (io) {
    case Io::kDone:
      break;
    case Io::kTimedOut:
      StopLocked("time-out");
      return {ScriptStatus::kTimedOut, {}};
    case Io::kCancelled:
      StopLocked("cancelled");
      return {ScriptStatus::kCancelled, {}};
    case Io::kClosed:
    case Io::kFailed: {
      // A helper that cannot limit itself exits at once with its own status (a SIGKILL
      // sent to a process already exiting does not change it).
      const std::optional<int> status = StopLocked("no answer");
      if (status && WIFEXITED(*status) && WEXITSTATUS(*status) == kHelperCannotLimitItself) {
        DebugLine(std::string_view("script helper: the system does not let it limit itself"));
        m_sandboxMissing.store(true);
        return {ScriptStatus::kNoSandbox, {}};
      }
      return {ScriptStatus::kChildFailed, {}};
    }
  }
  if (!parsed) {
    StopLocked("malformed answer");
    return {ScriptStatus::kChildFailed, {}};
  }
  switch (parsed->kind) {
    case AnswerKind::kText:
      return {ScriptStatus::kText, Utf16FromBytes(payload)};
    case AnswerKind::kNotText:
      return {ScriptStatus::kNotText, {}};
    case AnswerKind::kScriptError:
      return {ScriptStatus::kScriptError, Utf16FromBytes(payload)};
    case AnswerKind::kTooLarge:
      return {ScriptStatus::kTooLarge, {}};
  }
  return {ScriptStatus::kChildFailed, {}};
}

}  // namespace pageloom
