// The terminal program's words for what the logic tells it: status words, progress,
// messages and failure reasons, in English.
#pragma once

#include <string>

#include "engine/task_snapshot.h"
#include "engine/user_prompt.h"

namespace pageloom::cli {

// "queued", "downloading", "finished", "3 missing", ...
[[nodiscard]] std::string StatusWord(const TaskSnapshot& snapshot);
// "done/count" of the snapshot.
[[nodiscard]] std::string ProgressText(const TaskSnapshot& snapshot);
// A message of the logic, for standard error.
[[nodiscard]] std::string MessageText(const Message& message);
// "HTTP 404", "timed out", ...
[[nodiscard]] std::string ReasonText(const FailureReason& reason);
// A status word for a JSON line: "preparing", "downloading", "finished", ...
[[nodiscard]] const char* StatusKey(TaskStatus status);
// A reason kind for a JSON line: "http", "timeout", ...
[[nodiscard]] const char* ReasonKey(FailureKind kind);

}  // namespace pageloom::cli
