// Control over single tasks: one task held while the others of its site go on, and the
// order in which a site's worker takes its tasks, kept in the lasting queue.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/task_controller.h"
#include "support/fake_window.h"
#include "support/scripted_comic.h"
#include "support/test_server.h"

namespace pageloom::test {
namespace {

class TaskControlTest : public ::testing::Test {
 protected:
  std::unique_ptr<TaskController> Open() {
    ControllerSettings settings;
    settings.dataFolder = data.Path();
    return std::make_unique<TaskController>(window, settings);
  }
  // Task `no` of the EH site: `pictures` steps, then finished.
  std::shared_ptr<ScriptedComic> Register(TaskController& controller, int no, int pictures = 2) {
    auto task =
        std::make_shared<ScriptedComic>(SITE_EH, no, &log, ScriptedComic::Pictures(pictures));
    task->SetUrl(u"https://e-hentai.org/g/" + WideNumber(no) + u"/");
    EXPECT_EQ(controller.Tasks().Register(task, u"/save/t" + WideNumber(no) + u"/"), no);
    return task;
  }
  // The tasks in the order of their first steps.
  std::vector<int> FirstSteps() const {
    std::vector<int> order;
    for (const StepLog::Entry& entry : log.Entries())
      if (entry.begin && std::find(order.begin(), order.end(), entry.taskNo) == order.end())
        order.push_back(entry.taskNo);
    return order;
  }
  std::vector<std::u16string> RowNumbers() const {
    std::vector<std::u16string> numbers;
    for (int row = 0; row < window.RowCount(); ++row) numbers.push_back(window.RowAt(row)[0]);
    return numbers;
  }

  TempDir data;
  FakeWindow window;
  StepLog log;
};

TEST_F(TaskControlTest, AHeldTaskWaitsWhileTheOthersOfItsSiteGoOnUntilItIsLetGo) {
  auto controller = Open();
  std::vector<std::shared_ptr<ScriptedComic>> tasks;
  for (int no = 0; no < 3; ++no) tasks.push_back(Register(*controller, no));
  EXPECT_EQ(controller->HoldTask(1, true), TaskStatus::kPaused);
  EXPECT_EQ(controller->HoldTask(7, true), std::nullopt);
  controller->Start();
  ASSERT_TRUE(WaitUntil([&] { return !controller->Workers().AnyRunning(); }));
  EXPECT_EQ(FirstSteps(), (std::vector<int>{0, 2}));
  EXPECT_EQ(tasks[0]->GetState(), STATE_FINISHED);
  EXPECT_EQ(tasks[2]->GetState(), STATE_FINISHED);
  EXPECT_EQ(window.StatusText(tasks[1]->Snapshot()), u"暂停中");

  // Let go, it shows as it stands and the next Start takes it.
  EXPECT_EQ(controller->HoldTask(1, false), TaskStatus::kPreparing);
  controller->Start();
  ASSERT_TRUE(WaitUntil([&] { return !controller->Workers().AnyRunning(); }));
  EXPECT_EQ(tasks[1]->GetState(), STATE_FINISHED);
}

TEST_F(TaskControlTest, AHoldDuringItsDownloadStopsItAfterTheStepInProgress) {
  auto controller = Open();
  Latch inStep, release;
  auto held = std::make_shared<ScriptedComic>(SITE_EH, 0, &log, [&](ScriptedComic& task) {
    task.SetState(STATE_DOWNLOADING);
    inStep.Open();
    release.Wait();
    task.SetFileNumber(task.GetFileNumber() + 1);
    return 1;  // never ends by itself
  });
  ASSERT_EQ(controller->Tasks().Register(held, u"/save/t0/"), 0);
  auto other = Register(*controller, 1);
  controller->Workers().StartSite(SITE_EH);
  ASSERT_TRUE(inStep.Wait());
  EXPECT_EQ(controller->HoldTask(0, true), TaskStatus::kPaused);
  release.Open();
  ASSERT_TRUE(WaitUntil([&] { return !controller->Workers().AnyRunning(); }));
  EXPECT_EQ(held->Steps(), 1);
  EXPECT_EQ(held->GetState(), STATE_PAUSED);
  EXPECT_EQ(other->GetState(), STATE_FINISHED);
  EXPECT_EQ(window.StatusText(*window.SnapshotOf(0)), u"暂停中");
}

TEST_F(TaskControlTest, MovedTasksAreTakenInTheirNewOrderAlsoAfterARestart) {
  {
    auto controller = Open();
    for (int no = 0; no < 4; ++no) Register(*controller, no);
    EXPECT_TRUE(controller->MoveTask(3, Move::kTop));
    EXPECT_TRUE(controller->MoveTask(0, Move::kDown));
    EXPECT_TRUE(controller->MoveTask(2, Move::kUp));
    EXPECT_FALSE(controller->MoveTask(3, Move::kUp));  // first already
    EXPECT_FALSE(controller->MoveTask(9, Move::kDown));
    EXPECT_EQ(controller->Tasks().Order(), (std::vector<int>{3, 1, 2, 0}));
    EXPECT_EQ(RowNumbers(), (std::vector<std::u16string>{u"3", u"1", u"2", u"0"}));
    EXPECT_EQ(controller->Tasks().Find(0)->GetRow(), 3);
    controller->Start();
    ASSERT_TRUE(WaitUntil([&] { return !controller->Workers().AnyRunning(); }));
    EXPECT_EQ(FirstSteps(), (std::vector<int>{3, 1, 2, 0}));
    EXPECT_TRUE(controller->MoveTask(1, Move::kTop));
  }
  FakeWindow again;
  ControllerSettings settings;
  settings.dataFolder = data.Path();
  TaskController reopened(again, settings);
  EXPECT_EQ(reopened.Tasks().Order(), (std::vector<int>{1, 3, 2, 0}));
  ASSERT_EQ(again.RowCount(), 4);
  EXPECT_EQ(again.RowAt(0)[0], u"1");
  EXPECT_EQ(again.RowAt(3)[0], u"0");
  // A task added now comes last.
  auto added = std::make_shared<ScriptedComic>(SITE_EH, 4, &log, ScriptedComic::Pictures(1));
  EXPECT_EQ(reopened.Tasks().Register(added, u"/save/t4/"), 4);
  EXPECT_EQ(reopened.Tasks().Order(), (std::vector<int>{1, 3, 2, 0, 4}));
}

TEST_F(TaskControlTest, ClearFinishedAndRetryMissing) {
  auto controller = Open();
  auto done = Register(*controller, 0, 1);
  auto failing = std::make_shared<ScriptedComic>(SITE_EH, 1, &log, [](ScriptedComic& task) {
    task.SetState(STATE_INCOMPLETE);
    return 0;
  });
  ASSERT_EQ(controller->Tasks().Register(failing, u"/save/t1/"), 1);
  EXPECT_FALSE(controller->RetryMissing(1));  // nothing missing: nothing started
  EXPECT_FALSE(controller->Workers().AnyRunning());
  controller->Start();
  ASSERT_TRUE(WaitUntil([&] { return !controller->Workers().AnyRunning(); }));
  EXPECT_EQ(controller->ClearFinished(), 1);
  EXPECT_EQ(controller->Tasks().Numbers(), std::vector<int>{1});
  EXPECT_EQ(RowNumbers(), std::vector<std::u16string>{u"1"});
  EXPECT_EQ(controller->Tasks().Find(1)->GetRow(), 0);
}

}  // namespace
}  // namespace pageloom::test
