// Evaluating a page's packed script into the list of its picture addresses.
#pragma once

#include <chrono>
#include <list>
#include <memory>
#include <string>

#include "text/cancellation.h"

class QCoreApplication;

namespace pageloom {

constexpr std::chrono::milliseconds kScriptTimeout{10000};

// How one evaluation runs: the prefix every picture path is put behind (scheme, host and
// a '/'), the time it may take, and the switch that stops it at once.
struct ScriptOptions {
  std::u16string pictureHost;
  std::chrono::milliseconds timeout = kScriptTimeout;
  const Cancellation* cancel = nullptr;
};

// Evaluates `script` (zero-terminated ANSI text, one JavaScript expression) in a fresh
// engine on the calling thread and appends one picture address per quoted, comma
// separated piece of the result, behind `options.pictureHost`. Returns 1 when
// entries were appended, 0 when none were (no quote in the result, a script error, a
// time-out); the list is then unchanged.
//
// The script runs in a bare engine (no console, no file, network or process access) and
// is interrupted after the time-out, or at once when `options.cancel` is cancelled (the
// window is closing); a script error, a time-out, a value that is not text,
// or a process without a Qt application object gives 0 and a debug line. The engine
// needs the process's Qt application object to exist for the whole call: the window
// program has one; other programs hold a ScriptApplication.
int EvalPictureList(const char* script, std::list<std::u16string>& pictureUrls,
                    const ScriptOptions& options);

// Provides the Qt application object that the script engine needs, in programs that
// have none of their own (tests, tools). Create it on the main thread before the first
// evaluation and keep it until no evaluation can run any more. When an application
// object exists already, this one does nothing.
class ScriptApplication {
 public:
  ScriptApplication();
  ~ScriptApplication();
  ScriptApplication(const ScriptApplication&) = delete;
  ScriptApplication& operator=(const ScriptApplication&) = delete;

 private:
  int m_argc = 1;
  char* m_argv[2];
  std::unique_ptr<QCoreApplication> m_application;
};

}  // namespace pageloom
