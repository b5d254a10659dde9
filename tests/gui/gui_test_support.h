// Shared by the window tests: one QApplication for the whole test program, event pumping
// with a deadline, and a poller that acts on modal boxes and menus while they run.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "gui/application.h"
#include "gui/language.h"

namespace pageloom::test {

class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "gui_test";
    static char* argv[] = {name, nullptr};
    m_app = std::make_unique<QApplication>(argc, argv);
    CpageLoomApp::Prepare(*m_app);
    // The tests read the window's texts as written, in Chinese, whatever the locale.
    m_language = std::make_unique<LanguageScope>(UiLanguage::kChinese);
  }
  void TearDown() override {
    m_language.reset();
    m_app.reset();
  }

 private:
  std::unique_ptr<QApplication> m_app;
  std::unique_ptr<LanguageScope> m_language;
};

// Pumps the window thread's events until `done` holds or `timeout` passes.
inline bool PumpUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds timeout = std::chrono::seconds(3)) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > timeout.count()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Calls `act` once `ready` holds, checking every 10 ms from inside whatever event loop is
// running (a menu's, a modal box's). After `timeout` it gives up, reports a failure and
// closes popups and modal boxes so the test cannot hang.
class WhenReady {
 public:
  WhenReady(std::function<bool()> ready, std::function<void()> act,
            std::chrono::milliseconds timeout = std::chrono::seconds(3))
      : m_ready(std::move(ready)), m_act(std::move(act)) {
    m_clock.start();
    m_timer.setInterval(10);
    QObject::connect(&m_timer, &QTimer::timeout, [this, timeout] {
      if (m_ready()) {
        m_timer.stop();
        m_act();
      } else if (m_clock.elapsed() > timeout.count()) {
        m_timer.stop();
        ADD_FAILURE() << "the awaited window never appeared";
        if (QWidget* popup = QApplication::activePopupWidget()) popup->close();
        if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
      }
    });
    m_timer.start();
  }

 private:
  std::function<bool()> m_ready;
  std::function<void()> m_act;
  QElapsedTimer m_clock;
  QTimer m_timer;
};

}  // namespace pageloom::test
