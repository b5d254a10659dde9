// The terminal program's words for what the logic tells it: status words, progress,
// messages and failure reasons, in the language of the user (app/ui_language.h): English,
// or the window's own Chinese words.
#pragma once

#include <string>
#include <vector>

#include "app/ui_language.h"
#include "engine/task_snapshot.h"
#include "engine/user_prompt.h"
#include "library/cbz_packer.h"

namespace pageloom::cli {

// "queued", "downloading", "finished", "3 missing", ...
[[nodiscard]] std::string StatusWord(const TaskSnapshot& snapshot, UiLanguage language);
// "done/count" of the snapshot.
[[nodiscard]] std::string ProgressText(const TaskSnapshot& snapshot);
// A message of the logic, for standard error.
[[nodiscard]] std::string MessageText(const Message& message, UiLanguage language);
// "HTTP 404", "timed out", ...
[[nodiscard]] std::string ReasonText(const FailureReason& reason, UiLanguage language);
// Why a folder was not packed: "3 pictures missing", "not a folder of pageLoom", ...
[[nodiscard]] std::string PackRefusalText(const PackResult& result, UiLanguage language);
// One of the program's own sentences: `english` or `chinese`, whichever `language` is, with
// "%1", "%2", ... replaced by `args` in order.
[[nodiscard]] std::string Say(UiLanguage language, const char* english, const char* chinese,
                              const std::vector<std::string>& args = {});
// A status word for a JSON line: "preparing", "downloading", "finished", ...
[[nodiscard]] const char* StatusKey(TaskStatus status);
// A reason kind for a JSON line: "http", "timeout", ...
[[nodiscard]] const char* ReasonKey(FailureKind kind);

}  // namespace pageloom::cli
