// Evaluating a page's packed script into the list of its picture addresses.
#pragma once

#include <chrono>
#include <list>
#include <string>

#include "base/cancellation.h"

namespace pageloom {

class ScriptHost;
enum class ScriptStatus;

constexpr std::chrono::milliseconds kScriptTimeout{10000};

// How one evaluation runs: the prefix every picture path is put behind (scheme, host and
// a '/'), the time it may take, the switch that stops it at once, and the helper process
// to evaluate in (none: a helper started for this call alone, from `helperPath`, or when
// that is empty from next to the running program).
struct ScriptOptions {
  std::u16string pictureHost;
  std::chrono::milliseconds timeout = kScriptTimeout;
  const Cancellation* cancel = nullptr;
  ScriptHost* host = nullptr;
  std::string helperPath;
};

// Evaluates `script` (zero-terminated ANSI text, one JavaScript expression) in the
// script helper process and appends one picture address per quoted, comma separated
// piece of the value's text, behind `options.pictureHost` (see AppendPictureList).
// Returns 1 when entries were appended, 0 when none were; the list is then unchanged.
//
// The script runs in a bare engine (no console, no file, network or process access)
// inside a process limited in memory and CPU time, which is killed after the time-out,
// at once when `options.cancel` is set (the window is closing), and when it crashes or
// answers more than a value may hold. A script error, a time-out, a value that is not
// text, a value without a double quote, more than kMaxPictureEntries pieces or a helper
// that cannot be started gives 0 and a debug line; `failure`, when given, is then set to
// the helper's answer (kNoSandbox: scripts cannot run on this system), or to kText when
// the value held no usable list.
int EvalPictureList(const char* script, std::list<std::u16string>& pictureUrls,
                    const ScriptOptions& options, ScriptStatus* failure = nullptr);

}  // namespace pageloom
