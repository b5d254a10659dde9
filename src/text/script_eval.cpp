// Packed page scripts evaluated with a QJSEngine, one fresh engine per call.
#include "text/script_eval.h"

#include <QCoreApplication>
#include <QJSEngine>
#include <QJSValue>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string_view>
#include <thread>

#include "text/debug_line.h"
#include "text/encoding.h"
#include "text/picture_list.h"

namespace pageloom {

namespace {

// Interrupts the engine's running script once `timeout` has passed, or as soon as
// `cancel` is cancelled (the window is closing), unless it is stopped first. Stopping
// joins the watchdog thread, so the engine is never touched after the watchdog is gone.
class Watchdog {
 public:
  Watchdog(QJSEngine& engine, std::chrono::milliseconds timeout, const Cancellation* cancel)
      : m_thread([this, &engine, timeout, cancel] {
          Cancellation::Subscription wake;
          if (cancel) wake = Cancellation::Subscription(*cancel, [this] { Wake(); });
          const auto deadline = std::chrono::steady_clock::now() + timeout;
          {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (m_wake.wait_until(lock, deadline, [this] { return m_stopped || m_cancelled; }) &&
                m_stopped)
              return;
            m_fired = true;
          }
          engine.setInterrupted(true);
        }) {}

  ~Watchdog() { Stop(); }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

  void Stop() {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_stopped = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) m_thread.join();
  }

  // Valid after Stop().
  bool Fired() const { return m_fired; }

 private:
  void Wake() {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_cancelled = true;
    }
    m_wake.notify_all();
  }

  std::mutex m_mutex;
  std::condition_variable m_wake;
  bool m_stopped = false;
  bool m_cancelled = false;
  bool m_fired = false;
  std::thread m_thread;  // last: starts once the members it uses exist
};

}  // namespace

int EvalPictureList(const char* script, std::list<std::u16string>& pictureUrls,
                    const ScriptOptions& options) {
  if (script == nullptr) {
    DebugLine(std::string_view("script evaluation: no script text"));
    return 0;
  }
  if (QCoreApplication::instance() == nullptr) {
    DebugLine(std::string_view("script evaluation: no application object, no engine"));
    return 0;
  }

  const std::u16string source = AnsiToWide(std::string_view(script, std::strlen(script)));
  QString value;
  {
    // A bare engine: only the language's own objects, no extensions installed.
    QJSEngine engine;
    QStringList exceptionTrace;
    QJSValue result;
    bool timedOut = false;
    {
      Watchdog watchdog(engine, options.timeout, options.cancel);
      result = engine.evaluate(QString::fromStdU16String(source), QString(), 1, &exceptionTrace);
      watchdog.Stop();
      timedOut = watchdog.Fired();
    }
    // Work that ends quietly when interrupted may hand back an ordinary value; after a
    // time-out no value is trusted.
    if (timedOut || result.isError() || !exceptionTrace.isEmpty()) {
      DebugLine(timedOut ? std::u16string(u"script evaluation: stopped (time-out or closing)")
                         : u"script evaluation failed: " + result.toString().toStdU16String());
      return 0;
    }
    if (!result.isString()) {
      DebugLine(std::string_view("script evaluation: the value is not text"));
      return 0;
    }
    value = result.toString();
  }

  switch (AppendPictureList(value.toStdU16String(), options.pictureHost, pictureUrls)) {
    case PictureListResult::kAppended: return 1;
    case PictureListResult::kNoQuote:
      DebugLine(std::string_view("script evaluation: no quoted text in the value"));
      return 0;
    case PictureListResult::kTooMany:
      DebugLine(std::string_view("script evaluation: more pictures than a chapter may have"));
      return 0;
  }
  return 0;
}

ScriptApplication::ScriptApplication() {
  static char name[] = "pageLoom";
  m_argv[0] = name;
  m_argv[1] = nullptr;
  if (QCoreApplication::instance() == nullptr) {
    m_application = std::make_unique<QCoreApplication>(m_argc, m_argv);
  }
}

ScriptApplication::~ScriptApplication() = default;

}  // namespace pageloom
