// One window per queue: a second start of the real program brings the first window to the
// front and ends; the exchange itself against a window that answers, none, and one that
// keeps silent.
#include "gui/window_beacon.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QTest>
#include <QThread>
#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "gui/gui_test_support.h"
#include "support/program_run.h"
#include "support/test_server.h"

namespace pageloom::test {
namespace {

::testing::Environment* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

using namespace std::chrono_literals;

// Asks on another thread (one with an event dispatcher, as sockets want) while this one
// serves the beacon.
bool AskWhileServing(const QString& name, std::chrono::milliseconds timeout) {
  std::atomic<bool> answered{false};
  std::unique_ptr<QThread> asking(
      QThread::create([&] { answered = WindowBeacon::AskToShow(name, timeout); }));
  asking->start();
  PumpUntil([&] { return asking->isFinished(); }, 10s);
  asking->wait();
  return answered;
}

size_t Count(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

TEST(WindowBeacon, NamesDifferByDataFolderAndTheExchangeSurvivesSilentOrWrongCallers) {
  TempDir dir;
  const QString name = WindowBeacon::SocketName(dir.Path() / "a");
  EXPECT_EQ(name, WindowBeacon::SocketName(dir.Path() / "b" / ".." / "a"));
  EXPECT_NE(name, WindowBeacon::SocketName(dir.Path() / "b"));

  EXPECT_FALSE(WindowBeacon::AskToShow(name, 2s)) << "nobody listens";

  int shown = 0;
  {
    // A socket file left behind by a program that ended does not stop the next one.
    QLocalServer leftover;
    ASSERT_TRUE(leftover.listen(name));
  }
  WindowBeacon beacon(name, [&] { ++shown; });
  ASSERT_TRUE(beacon.Listening());
  QLocalSocket silent;
  silent.connectToServer(name);
  ASSERT_TRUE(silent.waitForConnected(2000));
  QLocalSocket wrong;
  wrong.connectToServer(name);
  ASSERT_TRUE(wrong.waitForConnected(2000));
  wrong.write(QByteArray(100, 'x'));
  wrong.flush();
  EXPECT_TRUE(AskWhileServing(name, 5s)) << "a silent caller blocks nobody";
  EXPECT_EQ(shown, 1);
  EXPECT_TRUE(PumpUntil([&] { return wrong.state() == QLocalSocket::UnconnectedState; }, 3s));
  EXPECT_TRUE(PumpUntil([&] { return silent.state() == QLocalSocket::UnconnectedState; }, 5s))
      << "a caller that says nothing is dropped";
  EXPECT_EQ(shown, 1);

  // A listener that never answers: the asking side gives up in time.
  const QString mute = WindowBeacon::SocketName(dir.Path() / "mute");
  QLocalServer server;
  ASSERT_TRUE(server.listen(mute));
  QElapsedTimer clock;
  clock.start();
  EXPECT_FALSE(AskWhileServing(mute, 500ms));
  EXPECT_LT(clock.elapsed(), 5000);
}

TEST(WindowBeacon, ASecondStartBringsTheFirstWindowToTheFrontAndEnds) {
  TempDir dir;
  const std::map<std::string, std::string> env{{"XDG_DATA_HOME", dir.Str("data")},
                                               {"XDG_CONFIG_HOME", dir.Str("config")},
                                               {"HOME", dir.Str()},
                                               {"PAGELOOM_DEBUG", "1"},
                                               {"QT_QPA_PLATFORM", "offscreen"},
                                               {"PAGELOOM_LANG", "zh"}};
  const QString name = WindowBeacon::SocketName(dir.Path() / "data" / "pageLoom");
  ProgramRun first(PAGELOOM_GUI_PATH, {}, env);
  // It answers once its window is up; this asking counts as a start of its own. Nobody
  // listening is said at once, and a listener is given the time a loaded machine needs, so no
  // asking is left to be answered later.
  ASSERT_TRUE(PumpUntil([&] { return WindowBeacon::AskToShow(name, 20s); }, 60s)) << first.Err();

  ProgramRun second(PAGELOOM_GUI_PATH, {}, env);
  EXPECT_EQ(second.Wait(60s), std::optional<int>(0)) << second.Err();
  const std::string said = "the window came to the front at another start's request";
  EXPECT_TRUE(PumpUntil([&] { return Count(first.Err(), said) == 2; }, 10s)) << first.Err();

  first.Signal(SIGTERM);
  EXPECT_EQ(first.Wait(60s), std::optional<int>(0)) << first.Err();
  EXPECT_TRUE(std::filesystem::exists(dir.Path() / "config" / "pageLoom" / "pageLoom.conf"))
      << "the window's settings are kept when it closes";
}

}  // namespace
}  // namespace pageloom::test
