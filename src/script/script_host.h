// Page scripts are evaluated in a helper process (pageloom-script) that the program can
// kill: a script that never ends, eats memory or crashes the engine costs one failed
// evaluation, never a held thread or the program.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include <sys/types.h>

#include "base/cancellation.h"

namespace pageloom {

// File name of the helper program.
inline constexpr char kScriptHelperName[] = "pageloom-script";

// The helper of the running program: next to it (as in the build folder), else where the
// installation puts it, PAGELOOM_HELPER_FROM_PROGRAM relative to the program's folder
// (e.g. /usr/bin/../lib/pageloom). "" when the program's own path is unknown.
[[nodiscard]] std::string ScriptHelperOfProgram();

enum class ScriptStatus {
  kText,         // the value is text: `text` holds it
  kNotText,      // the value is something else
  kScriptError,  // the script failed: `text` holds the engine's message
  kTooLarge,     // the value is longer than an answer may be (kMaxAnswerBytes)
  kTimedOut,     // the time ran out; the helper was killed
  kCancelled,    // the switch was set before or during the evaluation; the helper was killed
  kChildFailed,  // the helper ended, answered nonsense or could not be reached
  kNoHelper,     // the helper could not be started
  kNoSandbox,    // the system does not let the helper limit itself: no script is run
};

struct ScriptAnswer {
  ScriptStatus status = ScriptStatus::kChildFailed;
  std::u16string text;
};

// Owns one helper process: started on the first evaluation and kept for the next ones,
// until it misbehaves (time-out, cancellation, crash, an oversized or malformed answer);
// it is then killed with SIGKILL and reaped, and the next evaluation starts a new one.
// Each evaluation runs in a fresh engine inside the helper, so one page's script cannot
// change what the next one sees. Evaluations on one host run one at a time (a second
// thread waits). The helper dies with the thread that started it: use a host from one
// thread, or accept that its helper is restarted. Destroying the host kills and reaps
// its helper; no process is left behind.
class ScriptHost {
 public:
  ScriptHost();  // the helper next to the running program
  explicit ScriptHost(std::string helperPath);
  ~ScriptHost();
  ScriptHost(const ScriptHost&) = delete;
  ScriptHost& operator=(const ScriptHost&) = delete;

  // Evaluates one JavaScript expression. The helper is killed when `timeout` has passed
  // (start-up included) or as soon as `cancel` is set.
  [[nodiscard]] ScriptAnswer Evaluate(std::u16string_view source, std::chrono::milliseconds timeout,
                                      const Cancellation* cancel);

  // Kills and reaps the helper if one runs; the next evaluation starts a new one.
  void Stop();

  // True once a helper of this host ended because the system does not let it limit
  // itself (no seccomp filter): every later evaluation answers kNoSandbox at once.
  [[nodiscard]] bool SandboxMissing() const { return m_sandboxMissing.load(); }

 private:
  [[nodiscard]] bool EnsureHelper();
  [[nodiscard]] ScriptAnswer Exchange(std::u16string_view source,
                                      std::chrono::steady_clock::time_point deadline);
  // Kills and reaps the helper; its wait status, or nothing when none ran.
  std::optional<int> StopLocked(const char* reason);

  std::mutex m_mutex;
  std::string m_helperPath;
  pid_t m_pid = -1;
  int m_socket = -1;  // our end of the helper's standard input and output
  int m_wake = -1;    // an eventfd the cancellation writes to
  std::atomic<bool> m_sandboxMissing{false};
};

}  // namespace pageloom
