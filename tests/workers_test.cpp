// The two download workers with scripted tasks: walk order, the pause gate, Start,
// tasks added and removed during a walk, and closing with steps in flight.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <list>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/task_controller.h"
#include "net/page_fetch.h"
#include "support/fake_window.h"
#include "support/scripted_comic.h"
#include "support/test_server.h"
#include "support/test_settings.h"

namespace pageloom::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class WorkersTest : public ::testing::Test {
 protected:
  WorkersTest() {
    m_starter = [this](std::function<void()> body) {
      ++m_threadsMade;
      return std::thread(std::move(body));
    };
  }

  ControllerSettings StartedBy() {
    ControllerSettings settings;
    settings.threadStarter = [this](std::function<void()> body) {
      return m_starter(std::move(body));
    };
    return settings;
  }

  Latch& NewLatch() { return m_latches.emplace_back(); }

  std::shared_ptr<ScriptedComic> Register(int kind, ScriptedComic::Script script,
                                          int pictureCount = 0) {
    auto task = std::make_shared<ScriptedComic>(kind, m_next, &m_log, std::move(script));
    task->SetPictureCount(pictureCount);
    EXPECT_EQ(m_controller->Tasks().Register(task, u"/save/x/"), m_next);
    ++m_next;
    return task;
  }

  // A script of `pictures` steps whose first step opens `inStep` and waits for `release`.
  static ScriptedComic::Script BlockFirstStep(int pictures, Latch& inStep, Latch& release) {
    return ScriptedComic::Pictures(pictures, [&inStep, &release](ScriptedComic& task) {
      if (task.Steps() == 1) {
        inStep.Open();
        release.Wait();
      }
    });
  }

  bool RowReads(int taskNo, const std::u16string& progress, const std::u16string& status) {
    return m_window.WaitFor(
        [&](const FakeWindow& window) {
          auto row = window.TaskRow(taskNo);
          return row && (*row)[2] == progress && (*row)[3] == status;
        },
        5s);
  }

  bool WorkersEnded() {
    return WaitUntil([&] {
      return !m_controller->Workers().Running(SITE_EH) &&
             !m_controller->Workers().Running(SITE_DMZJ);
    });
  }

  FakeWindow m_window;
  StepLog m_log;
  std::list<Latch> m_latches;  // outlive the controller, whose steps wait on them
  std::atomic<int> m_threadsMade{0};
  // How the workers' threads are made; a test puts its own in place.
  std::function<std::thread(std::function<void()>)> m_starter;
  std::unique_ptr<TaskController> m_controller =
      std::make_unique<TaskController>(m_window, StartedBy());
  int m_next = 0;
};

TEST_F(WorkersTest, EachWorkerWalksItsTasksInOrderOneAtATime) {
  Register(SITE_EH, ScriptedComic::Pictures(3), 3);    // 0
  Register(SITE_DMZJ, ScriptedComic::Pictures(2), 2);  // 1
  Register(SITE_EH, ScriptedComic::Pictures(3), 3);    // 2
  Register(SITE_DMZJ, ScriptedComic::Pictures(2), 2);  // 3
  Register(SITE_EH, ScriptedComic::Pictures(3), 3);    // 4
  m_controller->Start();
  ASSERT_TRUE(WorkersEnded());

  std::vector<int> eh, dmzj;
  std::thread::id ehThread, dmzjThread;
  bool lastWasBegin[2] = {false, false};
  for (const auto& entry : m_log.Entries()) {
    const int kind = entry.taskNo % 2;  // even numbers EH, odd DMZJ
    EXPECT_NE(lastWasBegin[kind], entry.begin) << "two steps of one worker overlapped";
    lastWasBegin[kind] = entry.begin;
    if (!entry.begin) continue;
    (kind == 0 ? eh : dmzj).push_back(entry.taskNo);
    (kind == 0 ? ehThread : dmzjThread) = entry.thread;
  }
  EXPECT_EQ(eh, (std::vector<int>{0, 0, 0, 2, 2, 2, 4, 4, 4}));
  EXPECT_EQ(dmzj, (std::vector<int>{1, 1, 3, 3}));
  EXPECT_NE(ehThread, dmzjThread);
  for (int no : {0, 2, 4}) EXPECT_TRUE(RowReads(no, u"3/3", u"已完成"));
  for (int no : {1, 3}) EXPECT_TRUE(RowReads(no, u"2/2", u"已完成"));
}

TEST_F(WorkersTest, TheTwoWorkersRunSideBySide) {
  Latch& ehIn = NewLatch();
  Latch& dmzjIn = NewLatch();
  std::atomic<bool> ehSawOther{false}, dmzjSawOther{false};
  Register(SITE_EH, [&](ScriptedComic&) {
    ehIn.Open();
    ehSawOther = dmzjIn.Wait(5s);
    return 0;
  });
  Register(SITE_DMZJ, [&](ScriptedComic&) {
    dmzjIn.Open();
    dmzjSawOther = ehIn.Wait(5s);
    return 0;
  });
  m_controller->Start();
  ASSERT_TRUE(WorkersEnded());
  EXPECT_TRUE(ehSawOther);
  EXPECT_TRUE(dmzjSawOther);
}

TEST_F(WorkersTest, PauseLetsTheStepInFlightFinishAndHoldsTheNext) {
  Latch& inStep = NewLatch();
  Latch& release = NewLatch();
  auto task = Register(SITE_EH, BlockFirstStep(3, inStep, release), 3);
  m_controller->Start();
  ASSERT_TRUE(inStep.Wait());
  m_controller->Pause();
  // Paused at once, while the picture in flight still downloads.
  EXPECT_TRUE(RowReads(0, u"0/3", u"暂停中"));
  release.Open();
  EXPECT_TRUE(RowReads(0, u"1/3", u"暂停中"));  // the step finished: paused at the gate
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(task->Steps(), 1);
  EXPECT_TRUE(m_controller->Workers().Running(SITE_EH));
  m_controller->Continue();
  EXPECT_TRUE(RowReads(0, u"3/3", u"已完成"));
  EXPECT_EQ(task->Steps(), 3);
}

TEST_F(WorkersTest, OneContinueReleasesBothWorkers) {
  Latch& go = NewLatch();
  Latch& ehIn = NewLatch();
  Latch& dmzjIn = NewLatch();
  auto eh = Register(SITE_EH, BlockFirstStep(2, ehIn, go), 2);
  auto dmzj = Register(SITE_DMZJ, BlockFirstStep(2, dmzjIn, go), 2);
  m_controller->Start();
  ASSERT_TRUE(ehIn.Wait());
  ASSERT_TRUE(dmzjIn.Wait());
  m_controller->Pause();
  go.Open();
  EXPECT_TRUE(RowReads(0, u"1/2", u"暂停中"));
  EXPECT_TRUE(RowReads(1, u"1/2", u"暂停中"));
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(eh->Steps() + dmzj->Steps(), 2);
  m_controller->Continue();
  EXPECT_TRUE(RowReads(0, u"2/2", u"已完成"));
  EXPECT_TRUE(RowReads(1, u"2/2", u"已完成"));
}

TEST_F(WorkersTest, StartWhilePausedActsAsContinue) {
  Latch& inStep = NewLatch();
  Latch& release = NewLatch();
  Latch& inSecond = NewLatch();
  Latch& releaseSecond = NewLatch();
  Register(SITE_EH,
           ScriptedComic::Pictures(2,
                                   [&](ScriptedComic& task) {
                                     if (task.Steps() == 1) {
                                       inStep.Open();
                                       release.Wait();
                                     } else {
                                       inSecond.Open();
                                       releaseSecond.Wait();
                                     }
                                   }),
           2);
  m_controller->Start();
  ASSERT_TRUE(inStep.Wait());
  m_controller->Pause();
  release.Open();
  ASSERT_TRUE(RowReads(0, u"1/2", u"暂停中"));
  ASSERT_TRUE(WaitUntil([&] { return !m_controller->Workers().Running(SITE_DMZJ); }));
  m_controller->Start();
  EXPECT_TRUE(inSecond.Wait());
  EXPECT_EQ(m_threadsMade, 3);  // the ended DMZJ worker was replaced, the paused EH one not
  releaseSecond.Open();
  EXPECT_TRUE(RowReads(0, u"2/2", u"已完成"));
  EXPECT_TRUE(WorkersEnded());
}

TEST_F(WorkersTest, StartStartsEachWorkerOnceAndReplacesEndedOnes) {
  m_controller->Start();  // empty table: both end at once
  ASSERT_TRUE(WorkersEnded());
  EXPECT_EQ(m_threadsMade, 2);

  Latch& ehIn = NewLatch();
  Latch& dmzjIn = NewLatch();
  Latch& release = NewLatch();
  Register(SITE_EH, BlockFirstStep(1, ehIn, release));
  Register(SITE_DMZJ, BlockFirstStep(1, dmzjIn, release));
  m_controller->Start();
  ASSERT_TRUE(ehIn.Wait());
  ASSERT_TRUE(dmzjIn.Wait());
  m_controller->Start();
  EXPECT_EQ(m_threadsMade, 4);
  release.Open();
  ASSERT_TRUE(WorkersEnded());
  m_controller->Start();
  EXPECT_EQ(m_threadsMade, 6);
  EXPECT_TRUE(WorkersEnded());
  EXPECT_TRUE(m_window.Messages().empty());
}

TEST_F(WorkersTest, AFailedThreadCreationIsReportedAndRetried) {
  std::atomic<int> calls{0};
  m_starter = [&](std::function<void()> body) {
    if (++calls == 1)
      throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    return std::thread(std::move(body));
  };
  m_controller->Start();
  EXPECT_EQ(m_window.Messages(), (std::vector<std::u16string>{u"创建EH下载线程失败"}));
  EXPECT_FALSE(m_controller->Workers().Running(SITE_EH));
  ASSERT_TRUE(WorkersEnded());
  calls = 1;
  m_starter = [&](std::function<void()> body) {
    if (++calls == 3)
      throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    return std::thread(std::move(body));
  };
  m_controller->Start();  // EH made, DMZJ fails
  EXPECT_EQ(m_window.Messages().back(), u"创建DMZJ下载线程失败");
  EXPECT_EQ(calls, 3);
  ASSERT_TRUE(WorkersEnded());
  // No thread at all: the run ends at once. Each Start's run is said to end once, so a
  // front end that waits for it never waits for ever.
  m_starter = [](std::function<void()>) -> std::thread {
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
  };
  m_controller->Start();
  const auto runEnds = [&] {
    const std::vector<TaskEvent> events = m_window.Events();
    return std::count_if(events.begin(), events.end(),
                         [](const TaskEvent& e) { return std::holds_alternative<RunEnded>(e); });
  };
  EXPECT_TRUE(WaitUntil([&] { return runEnds() == 3; }));
  EXPECT_EQ(runEnds(), 3);
}

TEST_F(WorkersTest, TasksAddedDuringAWalkAreReached) {
  Latch& inStep = NewLatch();
  Latch& release = NewLatch();
  Register(SITE_EH, BlockFirstStep(1, inStep, release));
  m_controller->Start();
  ASSERT_TRUE(inStep.Wait());
  auto late = Register(SITE_EH, ScriptedComic::Pictures(2), 2);
  release.Open();
  EXPECT_TRUE(RowReads(1, u"2/2", u"已完成"));
  ASSERT_TRUE(WorkersEnded());
  EXPECT_EQ(m_threadsMade, 2);

  // After the worker ended, a new task waits for the next Start.
  auto waiting = Register(SITE_EH, ScriptedComic::Pictures(1), 1);
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(waiting->Steps(), 0);
  m_controller->Start();
  EXPECT_TRUE(RowReads(2, u"1/1", u"已完成"));
}

TEST_F(WorkersTest, AFinishedTaskSteppedAgainKeepsItsRow) {
  auto task = Register(SITE_DMZJ, ScriptedComic::Pictures(2), 2);
  m_controller->Start();
  ASSERT_TRUE(WorkersEnded());
  const FakeWindow::Row before = m_window.RowAt(0);
  EXPECT_EQ(before[3], u"已完成");
  m_controller->Start();
  ASSERT_TRUE(WorkersEnded());
  EXPECT_EQ(task->Steps(), 3);
  EXPECT_EQ(m_window.RowAt(0), before);
}

TEST_F(WorkersTest, ARemovedTaskIsLeftAndItsLateRowWriteDropped) {
  Latch& inStep = NewLatch();
  Latch& release = NewLatch();
  auto first = Register(SITE_EH, BlockFirstStep(3, inStep, release), 3);  // 0
  auto skipped = Register(SITE_EH, ScriptedComic::Pictures(1), 1);        // 1
  auto reached = Register(SITE_EH, ScriptedComic::Pictures(1), 1);        // 2
  m_controller->Start();
  ASSERT_TRUE(inStep.Wait());
  m_controller->Tasks().Remove(0);
  m_controller->Tasks().Remove(1);
  m_controller->Tasks().RenumberRows();
  release.Open();
  EXPECT_TRUE(RowReads(2, u"1/1", u"已完成"));
  ASSERT_TRUE(WorkersEnded());
  EXPECT_EQ(first->Steps(), 1);  // it asked for more, but it is gone
  EXPECT_EQ(skipped->Steps(), 0);
  EXPECT_EQ(reached->GetRow(), 0);
  EXPECT_EQ(m_window.Rows(),
            (std::vector<FakeWindow::Row>{{u"2", u"/save/x/", u"1/1", u"已完成"}}));
}

TEST_F(WorkersTest, ClosingWhilePausedEndsTheWorkersAtTheGate) {
  const int threadsBefore = ThreadCount();
  Latch& ehIn = NewLatch();
  Latch& dmzjIn = NewLatch();
  Latch& release = NewLatch();
  auto eh = Register(SITE_EH, BlockFirstStep(5, ehIn, release), 5);
  auto dmzj = Register(SITE_DMZJ, BlockFirstStep(5, dmzjIn, release), 5);
  m_controller->Start();
  ASSERT_TRUE(ehIn.Wait());
  ASSERT_TRUE(dmzjIn.Wait());
  m_controller->Pause();
  release.Open();
  ASSERT_TRUE(RowReads(0, u"1/5", u"暂停中"));
  ASSERT_TRUE(RowReads(1, u"1/5", u"暂停中"));
  const auto start = Clock::now();
  m_controller.reset();
  EXPECT_LT(Clock::now() - start, 1s);
  EXPECT_EQ(eh->Steps(), 1);
  EXPECT_EQ(dmzj->Steps(), 1);
  EXPECT_EQ(ThreadCount(), threadsBefore);
}

TEST_F(WorkersTest, ClosingWhileBothWorkersFetchEndsPromptly) {
  TestServer server;
  server.Serve("/ok", "page");
  server.Stall("/stall");
  m_controller.reset();
  m_controller =
      std::make_unique<TaskController>(m_window, TestSettings(DefaultSiteNames(), {2, 10}));
  {
    // One request first: the server's own threads are all up before they are counted.
    auto probe = std::make_unique<PageBuffer>();
    ASSERT_EQ(FetchPage(m_controller->InternetSession(), server.WideUrl("/ok"), *probe), 1);
  }
  const std::u16string stall = server.WideUrl("/stall");
  auto fetchStep = [stall](ScriptedComic& task) {
    task.SetState(STATE_DOWNLOADING);
    auto page = std::make_unique<PageBuffer>();
    // Held by the server until the transfer is aborted.
    (void)FetchPage(task.Context().session, stall, *page);
    return 1;
  };
  const int threadsBefore = ThreadCount();
  auto eh = Register(SITE_EH, fetchStep);
  auto dmzj = Register(SITE_DMZJ, fetchStep);
  m_controller->Start();
  ASSERT_TRUE(server.WaitForStalled(2));
  const auto start = Clock::now();
  m_controller.reset();
  EXPECT_LT(Clock::now() - start, 1s);
  EXPECT_EQ(eh->Steps(), 1);
  EXPECT_EQ(dmzj->Steps(), 1);
  EXPECT_EQ(ThreadCount(), threadsBefore);
  // Nothing is left aborted for the next window.
  TaskController next(m_window);
  EXPECT_FALSE(next.InternetSession().Aborted());
  auto page = std::make_unique<PageBuffer>();
  EXPECT_EQ(FetchPage(next.InternetSession(), server.WideUrl("/ok"), *page), 1);
}

}  // namespace
}  // namespace pageloom::test
