// The main dialog as the logic's window: table writes, row writes from other threads that
// name their task, messages and pickers asked for from other threads, and closing while
// a thread waits for the window.
#include <QApplication>
#include <QItemSelectionModel>
#include <QTableView>
#include <QThread>
#include <atomic>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "gui/gui_test_support.h"
#include "gui/main_dialog.h"
#include "gui/task_table_model.h"
#include "gui/window_with_engine.h"
#include "support/fake_window.h"

namespace pageloom::test {
namespace {

::testing::Environment* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

using namespace std::chrono_literals;

class DialogPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dialog = std::make_unique<test::WindowWithEngine>();
    dialog->SetMessageBoxHook([this](std::u16string_view text) {
      onWindowThread = onWindowThread && QThread::currentThread() == qApp->thread();
      messages.emplace_back(text);
      if (duringMessage) duringMessage();
    });
    dialog->SetFolderPickerHook([this](std::u16string_view title) -> std::optional<std::u16string> {
      onWindowThread = onWindowThread && QThread::currentThread() == qApp->thread();
      pickerTitles.emplace_back(title);
      return pickerAnswer;
    });
  }

  void AddRows(int count) {
    for (int i = 0; i < count; ++i) AddTask(i);
  }
  void AddTask(int no, std::u16string folder = {},
               TaskSnapshot snapshot = MakeSnapshot(TaskStatus::kPreparing)) {
    dialog->Publish(TaskAdded{no, std::move(folder), std::move(snapshot)});
  }
  void Change(int no, TaskStatus status, int fileNumber, int count) {
    dialog->Publish(TaskChanged{no, MakeSnapshot(status, fileNumber, count)});
  }
  const Message kTitle{MessageKind::kPickSaveFolder, {}};
  const Message kAny{MessageKind::kEnterAddress, {}};

  bool WaitForPending(int count) {
    for (int i = 0; i < 3000 && dialog->PendingRequests() != count; ++i)
      std::this_thread::sleep_for(1ms);
    return dialog->PendingRequests() == count;
  }

  std::unique_ptr<CpageLoomDlg> dialog;
  std::vector<std::u16string> messages;
  std::vector<std::u16string> pickerTitles;
  std::optional<std::u16string> pickerAnswer;
  std::function<void()> duringMessage;
  bool onWindowThread = true;
};

TEST_F(DialogPortTest, TableOperationsAndSelection) {
  EXPECT_EQ(dialog->RowCount(), 0);
  AddTask(0);
  AddTask(1, u"/home/u/comic/名字/", MakeSnapshot(TaskStatus::kPreparing, 0, 12));
  AddTask(2);
  ASSERT_EQ(dialog->RowCount(), 3);
  EXPECT_EQ(dialog->GetItemText(1, 0), u"1");
  EXPECT_EQ(dialog->GetItemText(1, 1), u"/home/u/comic/名字/");
  EXPECT_EQ(dialog->GetItemText(1, 2), u"0/12");
  EXPECT_EQ(dialog->GetItemText(1, 3), u"准备中");
  // Out of range reads give nothing, and news of tasks not shown changes nothing.
  Change(3, TaskStatus::kFinished, 1, 1);
  dialog->Publish(TaskRemoved{-1});
  EXPECT_EQ(dialog->RowCount(), 3);
  EXPECT_EQ(dialog->GetItemText(3, 0), u"");
  EXPECT_EQ(dialog->GetItemText(0, -1), u"");

  QItemSelectionModel* selection = dialog->TaskTable()->selectionModel();
  EXPECT_TRUE(dialog->SelectedRows().empty());
  selection->select(dialog->TableModel().index(2, 0),
                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
  selection->select(dialog->TableModel().index(0, 0),
                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
  EXPECT_EQ(dialog->SelectedRows(), (std::vector<int>{0, 2}));
  dialog->Publish(TaskRemoved{1});  // the others stay selected, at their new places
  EXPECT_EQ(dialog->SelectedRows(), (std::vector<int>{0, 1}));
  EXPECT_EQ(dialog->SelectedTasks(), (std::vector<int>{0, 2}));
  EXPECT_EQ(dialog->GetItemText(1, 0), u"2");

  dialog->SetAddressText(u"http://127.0.0.1/a b");
  EXPECT_EQ(dialog->AddressText(), u"http://127.0.0.1/a b");
  dialog->SetSaveFolderText(u"/tmp/漫画");
  EXPECT_EQ(dialog->SaveFolderText(), u"/tmp/漫画");
}

TEST_F(DialogPortTest, RowWritesFindTheirTaskAfterRenumberingAndDropRemovedTasks) {
  AddRows(3);
  dialog->Publish(TaskRemoved{1});  // task 1 gone: tasks 0 and 2 in rows 0 and 1
  std::thread worker([this] {
    Change(1, TaskStatus::kFinished, 9, 9);   // removed: dropped
    Change(42, TaskStatus::kFinished, 9, 9);  // never existed: dropped
    Change(2, TaskStatus::kDownloading, 3, 5);
  });
  worker.join();
  // Nothing is written before the window thread serves the queue.
  EXPECT_EQ(dialog->GetItemText(1, 2), u"0/0");
  ASSERT_TRUE(PumpUntil([this] { return dialog->GetItemText(1, 2) == u"3/5"; }));
  EXPECT_EQ(dialog->GetItemText(1, 3), u"下载中");
  EXPECT_EQ(dialog->GetItemText(0, 2), u"0/0");
  EXPECT_EQ(dialog->GetItemText(0, 3), u"准备中");
  EXPECT_EQ(dialog->RowCount(), 2);

  // A write queued before its row is deleted is dropped when it arrives.
  std::thread([this] { Change(0, TaskStatus::kFinished, 1, 1); }).join();
  dialog->Publish(TaskRemoved{0});
  std::thread([this] { Change(2, TaskStatus::kDownloading, 4, 5); }).join();
  ASSERT_TRUE(PumpUntil([this] { return dialog->GetItemText(0, 2) == u"4/5"; }));
  EXPECT_EQ(dialog->RowCount(), 1);
  EXPECT_EQ(dialog->GetItemText(0, 0), u"2");
}

TEST_F(DialogPortTest, ManyRowWritesFromTwoThreadsAllArriveInOrder) {
  AddRows(2);
  auto writer = [this](int task) {
    for (int i = 1; i <= 500; ++i) Change(task, TaskStatus::kDownloading, i - 1, 500);
    Change(task, TaskStatus::kFinished, 500, 500);
  };
  std::thread a(writer, 0);
  std::thread b(writer, 1);
  a.join();
  b.join();
  ASSERT_TRUE(PumpUntil([this] {
    return dialog->GetItemText(0, 3) == u"已完成" && dialog->GetItemText(1, 3) == u"已完成";
  }));
  EXPECT_EQ(dialog->GetItemText(0, 2), u"500/500");
}

TEST_F(DialogPortTest, RowWritesStillQueuedWhenTheDialogGoesAreDropped) {
  AddRows(1);
  std::thread worker([this] {
    for (int i = 0; i < 100; ++i) Change(0, TaskStatus::kDownloading, 1, 2);
  });
  worker.join();
  dialog.reset();  // the queued writes must not reach the freed dialog
  QCoreApplication::processEvents();
  SUCCEED();
}

TEST_F(DialogPortTest, MessagesAndPickersFromAnotherThreadAreServedOnTheWindowThread) {
  pickerAnswer = u"/tmp/选好的";
  auto message = std::async(std::launch::async, [this] {
    dialog->ShowMessage(Message{MessageKind::kEnterAddress, {}});
  });
  ASSERT_TRUE(PumpUntil([&] { return message.wait_for(0s) == std::future_status::ready; }));
  EXPECT_EQ(messages, std::vector<std::u16string>{u"请输入网址"});

  auto picked = std::async(std::launch::async, [this] { return dialog->PickFolder(kTitle); });
  ASSERT_TRUE(PumpUntil([&] { return picked.wait_for(0s) == std::future_status::ready; }));
  EXPECT_EQ(picked.get(), std::optional<std::u16string>(u"/tmp/选好的"));
  EXPECT_EQ(pickerTitles, std::vector<std::u16string>{u"请选择漫画下载目录："});

  pickerAnswer.reset();
  auto cancelled = std::async(std::launch::async, [this] { return dialog->PickFolder(kTitle); });
  ASSERT_TRUE(PumpUntil([&] { return cancelled.wait_for(0s) == std::future_status::ready; }));
  EXPECT_EQ(cancelled.get(), std::nullopt);
  EXPECT_TRUE(onWindowThread);
  EXPECT_EQ(dialog->PendingRequests(), 0);

  // On the window thread they run directly.
  pickerAnswer = u"/srv";
  EXPECT_EQ(dialog->PickFolder(kTitle), std::optional<std::u16string>(u"/srv"));
  dialog->ShowMessage(Message{MessageKind::kSelectRows, {}});
  EXPECT_EQ(messages.back(), u"请选择至少一行数据");
}

TEST_F(DialogPortTest, ClosingAnswersWaitingThreadsAndRefusesNewRequests) {
  auto message = std::async(std::launch::async, [this] {
    dialog->ShowMessage(Message{MessageKind::kLimitReached, {}});
  });
  auto picked = std::async(std::launch::async, [this] { return dialog->PickFolder(kTitle); });
  ASSERT_TRUE(WaitForPending(2));  // both wait; the window thread serves nothing meanwhile
  dialog->reject();
  ASSERT_EQ(message.wait_for(2s), std::future_status::ready);
  ASSERT_EQ(picked.wait_for(2s), std::future_status::ready);
  EXPECT_EQ(picked.get(), std::nullopt);
  EXPECT_TRUE(dialog->IsClosing());
  EXPECT_EQ(dialog->PendingRequests(), 0);

  // From now on requests return at once, from any thread, and nothing is shown.
  auto late = std::async(std::launch::async, [this] {
    dialog->ShowMessage(kAny);
    return dialog->PickFolder(kTitle);
  });
  ASSERT_EQ(late.wait_for(2s), std::future_status::ready);
  EXPECT_EQ(late.get(), std::nullopt);
  dialog->ShowMessage(kAny);
  pickerAnswer = u"/x";
  EXPECT_EQ(dialog->PickFolder(kTitle), std::nullopt);
  QCoreApplication::processEvents();  // the posted requests find them answered
  EXPECT_TRUE(messages.empty());
  EXPECT_TRUE(pickerTitles.empty());
}

TEST_F(DialogPortTest, DestroyingTheDialogReleasesAWaitingThread) {
  auto message = std::async(std::launch::async, [this] { dialog->ShowMessage(kAny); });
  ASSERT_TRUE(WaitForPending(1));
  dialog.reset();
  ASSERT_EQ(message.wait_for(2s), std::future_status::ready);
  QCoreApplication::processEvents();
  EXPECT_TRUE(messages.empty());
}

TEST_F(DialogPortTest, CloseDuringAnOpenMessageWaitsUntilItIsDismissed) {
  dialog->show();
  bool visibleWhileOpen = false;
  bool closingWhileOpen = true;
  duringMessage = [&] {
    dialog->reject();  // e.g. the window closed while the box's own event loop runs
    dialog->close();
    visibleWhileOpen = dialog->isVisible();
    closingWhileOpen = dialog->IsClosing();
  };
  auto message = std::async(std::launch::async, [this] { dialog->ShowMessage(kAny); });
  ASSERT_TRUE(PumpUntil([&] { return message.wait_for(0s) == std::future_status::ready; }));
  EXPECT_TRUE(visibleWhileOpen);
  EXPECT_FALSE(closingWhileOpen);
  // Once the box is dismissed the close goes ahead.
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_TRUE(dialog->IsClosing());
  EXPECT_EQ(dialog->result(), QDialog::Rejected);
  EXPECT_EQ(messages.size(), 1u);

  // The same on the window thread, inside a direct call.
  auto second = std::make_unique<test::WindowWithEngine>();
  second->show();
  bool secondVisible = false;
  second->SetMessageBoxHook([&](std::u16string_view) {
    second->reject();
    secondVisible = second->isVisible();
  });
  second->ShowMessage(kAny);
  EXPECT_TRUE(secondVisible);
  EXPECT_FALSE(second->isVisible());
  EXPECT_TRUE(second->IsClosing());
}

TEST_F(DialogPortTest, ClosingWhileManyThreadsAskNeverDeadlocks) {
  std::atomic<bool> stop{false};
  std::atomic<int> answered{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      while (!stop.load()) {
        if (t % 2 == 0) {
          dialog->ShowMessage(kAny);
        } else {
          dialog->PickFolder(kTitle);
        }
        Change(t, TaskStatus::kDownloading, 1, 1);
        ++answered;
        if (dialog->IsClosing()) break;
      }
    });
  }
  ASSERT_TRUE(PumpUntil([&] { return answered.load() > 20; }));
  dialog->reject();
  stop = true;
  for (std::thread& thread : threads) thread.join();
  EXPECT_TRUE(dialog->IsClosing());
  EXPECT_EQ(dialog->PendingRequests(), 0);
}

}  // namespace
}  // namespace pageloom::test
