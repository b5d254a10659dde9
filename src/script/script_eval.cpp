// Packed page scripts evaluated in the script helper process.
#include "script/script_eval.h"

#include <cstring>
#include <optional>
#include <string_view>

#include "base/debug_line.h"
#include "base/encoding.h"
#include "base/fixed_text.h"
#include "script/picture_list.h"
#include "script/script_host.h"

namespace pageloom {

namespace {

// Why an answer gives no text, for the debug line.
const char* FailureText(ScriptStatus status) {
  switch (status) {
    case ScriptStatus::kText:
      return nullptr;
    case ScriptStatus::kNotText:
      return "the value is not text";
    case ScriptStatus::kScriptError:
      return "script error";
    case ScriptStatus::kTooLarge:
      return "the value is too long";
    case ScriptStatus::kTimedOut:
      return "stopped by the time-out";
    case ScriptStatus::kCancelled:
      return "stopped (closing)";
    case ScriptStatus::kChildFailed:
      return "the helper failed";
    case ScriptStatus::kNoHelper:
      return "the helper cannot be started";
    case ScriptStatus::kNoSandbox:
      return "the system does not let the helper limit itself";
  }
  return "unknown failure";
}

}  // namespace

int EvalPictureList(const char* script, std::list<std::u16string>& pictureUrls,
                    const ScriptOptions& options, ScriptStatus* failure) {
  if (script == nullptr) {
    DebugLine(std::string_view("script evaluation: no script text"));
    return 0;
  }
  const std::u16string source = AnsiToWide(std::string_view(script, std::strlen(script)));

  std::optional<ScriptHost> temporary;
  ScriptHost* host = options.host;
  if (host == nullptr) {
    host =
        options.helperPath.empty() ? &temporary.emplace() : &temporary.emplace(options.helperPath);
  }
  const ScriptAnswer answer = host->Evaluate(source, options.timeout, options.cancel);
  if (failure != nullptr) *failure = answer.status;
  if (answer.status != ScriptStatus::kText) {
    DebugLine(u"script evaluation: " + FromUtf8(FailureText(answer.status)) +
              (answer.text.empty() ? u"" : u": " + answer.text));
    return 0;
  }

  switch (AppendPictureList(answer.text, options.pictureHost, pictureUrls)) {
    case PictureListResult::kAppended:
      return 1;
    case PictureListResult::kNoQuote:
      DebugLine(std::string_view("script evaluation: no quoted text in the value"));
      return 0;
    case PictureListResult::kTooMany:
      DebugLine(std::string_view("script evaluation: more pictures than a chapter may have"));
      return 0;
  }
  return 0;
}

}  // namespace pageloom
