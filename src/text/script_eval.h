// Evaluating a page's packed script into the list of its picture addresses.
#pragma once

#include <chrono>
#include <list>
#include <string>

namespace pageloom {

constexpr std::chrono::milliseconds kScriptTimeout{10000};

// Evaluates `script` (zero-terminated ANSI text, one JavaScript expression) in a fresh
// engine on the calling thread and appends one picture address per quoted, comma
// separated piece of the result, behind the DMZJ picture-host prefix. Returns 1 when
// entries were appended, 0 when none were (no quote in the result, a script error, a
// time-out); the list is then unchanged.
int EvalPictureList(const char* script, std::list<std::u16string>& pictureUrls,
                    std::chrono::milliseconds timeout = kScriptTimeout);

}  // namespace pageloom
