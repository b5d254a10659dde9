// A long queue: Delete of thousands of selected rows in one pass removes and keeps exactly
// the rows that the row-by-row walk (back to the first selected row after each removal)
// did, and many removals reach the lasting queue together.
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/task_controller.h"
#include "store/queue_store.h"
#include "store/sqlite_db.h"
#include "support/fake_window.h"
#include "support/scripted_comic.h"
#include "support/test_server.h"

namespace pageloom::test {
namespace {

struct WalkRow {
  int taskNo;
  int state;
  bool selected;
};

// The rule as the row-by-row walk applied it: the next selected row is taken; a row that may
// go is removed and the walk starts again from the first selected row.
std::vector<WalkRow> WalkDelete(std::vector<WalkRow> rows, bool workerRuns) {
  const auto nextSelected = [&rows](std::size_t from) {
    while (from < rows.size() && !rows[from].selected) ++from;
    return from;
  };
  std::size_t position = nextSelected(0);
  while (position < rows.size()) {
    const std::size_t row = position;
    position = nextSelected(row + 1);
    const int state = rows[row].state;
    const bool removable = !workerRuns || state == STATE_FINISHED || state == STATE_PREPARING ||
                           state == STATE_INCOMPLETE;
    if (!removable) continue;
    rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(row));
    position = nextSelected(0);
  }
  return rows;
}

class LongQueueDelete : public ::testing::TestWithParam<bool> {};

TEST_P(LongQueueDelete, TenThousandRowsGoAsTheRowByRowWalkTookThem) {
  const bool workerRuns = GetParam();
  constexpr int kRows = 10000;
  constexpr int kStates[] = {STATE_PREPARING, STATE_DOWNLOADING, STATE_PAUSED,
                             STATE_FINISHED,  STATE_INCOMPLETE,  STATE_BANNED};
  FakeWindow window;
  StepLog log;
  auto controller = std::make_unique<TaskController>(window);
  Latch inStep, release;
  std::vector<WalkRow> rows;
  std::vector<int> selected;
  for (int no = 0; no < kRows; ++no) {
    // Task 0 is the one the running worker holds; the others belong to the other site.
    ScriptedComic::Script script = [&](ScriptedComic&) { return 0; };
    if (no == 0)
      script = [&](ScriptedComic&) {
        inStep.Open();
        release.Wait();
        return 0;
      };
    auto task = std::make_shared<ScriptedComic>(no == 0 ? SITE_EH : SITE_DMZJ, no, &log, script);
    const int state = no == 0 ? STATE_DOWNLOADING : kStates[(no * 7) % 6];
    task->SetState(state);
    ASSERT_EQ(controller->Tasks().Register(task, u"/save/t" + WideNumber(no) + u"/"), no);
    const bool isSelected = no % 9 != 4;
    rows.push_back(WalkRow{no, state, isSelected});
    if (isSelected) selected.push_back(no);
  }
  if (workerRuns) {
    controller->Workers().StartSite(SITE_EH);
    ASSERT_TRUE(inStep.Wait());
  }
  window.Select(selected);

  controller->Delete(window.SelectedTasks());

  const std::vector<WalkRow> expected = WalkDelete(rows, workerRuns);
  std::vector<int> keptTasks, keptSelected;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    keptTasks.push_back(expected[i].taskNo);
    if (expected[i].selected) keptSelected.push_back(static_cast<int>(i));
  }
  EXPECT_EQ(controller->Tasks().Numbers(), keptTasks);
  ASSERT_EQ(window.RowCount(), static_cast<int>(keptTasks.size()));
  for (std::size_t i = 0; i < keptTasks.size(); i += 97) {
    EXPECT_EQ(window.RowAt(static_cast<int>(i))[0], WideNumber(keptTasks[i]));
    EXPECT_EQ(controller->Tasks().Find(keptTasks[i])->GetRow(), static_cast<int>(i));
  }
  EXPECT_EQ(window.SelectedRows(), keptSelected);
  EXPECT_TRUE(window.Messages().empty());
  if (workerRuns) {
    EXPECT_GT(keptTasks.size(), static_cast<std::size_t>(kRows / 3));
  }
  release.Open();
  controller.reset();  // joins the worker before the latches go
}

INSTANTIATE_TEST_SUITE_P(WorkerRunsOrNot, LongQueueDelete, ::testing::Bool());

// Task numbers having rows in `table` of the queue file.
std::set<int> TasksListedIn(const std::filesystem::path& file, const std::string& table) {
  SqliteDatabase db(file);
  SqliteStatement rows = db.Prepare("SELECT DISTINCT task_no FROM " + table);
  std::set<int> tasks;
  while (rows && rows.Step() == SQLITE_ROW) tasks.insert(static_cast<int>(rows.Integer(0)));
  return tasks;
}

// Removals of many tasks, alone or inside a batch that is open already, last: the file read
// again holds the others only, with their picture lists and missing pictures and none of
// the removed ones', and a save and a single removal after them still work.
TEST(LongQueueStore, ManyRemovalsLastAloneAndInsideABatch) {
  TempDir dir;
  const auto file = dir.Path() / "queue.sqlite";
  std::vector<std::shared_ptr<Task>> tasks;
  {
    QueueStore::OpenResult opened = QueueStore::Open(file);
    ASSERT_TRUE(opened.store);
    QueueStore& store = *opened.store;
    for (int no = 0; no < 30; ++no) {
      TaskRecord record;
      record.siteName = u"EH";
      record.startUrl = u"https://example.invalid/g/" + WideNumber(no);
      record.folder = u"/save/t" + WideNumber(no) + u"/";
      record.pictureUrls = {u"https://example.invalid/p/1", u"https://example.invalid/p/2"};
      record.missing = {{u"", u"https://example.invalid/s/" + WideNumber(no), u"001.jpg", {}}};
      auto task =
          std::make_shared<ScriptedComic>(SITE_NONE, no, nullptr, ScriptedComic::Pictures(1));
      task->Restore(record);
      ASSERT_TRUE(store.Insert(no, *task, task->GetFolder(), no + 1));
      tasks.push_back(task);
    }
    EXPECT_TRUE(store.Remove(std::vector<int>{1, 2, 3, 29}));
    {
      const QueueStore::Batch batch(&store);
      EXPECT_TRUE(store.Remove(std::vector<int>{10, 11}));
      EXPECT_TRUE(store.Remove(12));
    }
    EXPECT_TRUE(store.Remove(5));  // its lists go with it, as before the removals of many
    EXPECT_TRUE(store.SaveStep(0, *tasks[0]));
    EXPECT_FALSE(store.SaveStep(1, *tasks[1]));  // removed: nothing to save
  }
  QueueStore::OpenResult again = QueueStore::Open(file);
  ASSERT_TRUE(again.store);
  std::vector<int> left;
  for (const QueueStore::StoredTask& stored : again.tasks) {
    left.push_back(stored.taskNo);
    EXPECT_EQ(stored.record.missing.size(), 1u) << stored.taskNo;
  }
  std::vector<int> expected;
  for (int no = 0; no < 29; ++no)
    if (no < 1 || no == 4 || (no > 5 && no < 10) || no > 12) expected.push_back(no);
  EXPECT_EQ(left, expected);
  EXPECT_EQ(again.nextTaskNo, 30);
  again.store.reset();
  const std::set<int> kept(expected.begin(), expected.end());
  EXPECT_EQ(TasksListedIn(file, "missing"), kept);
  for (const int no : TasksListedIn(file, "pictures")) EXPECT_EQ(kept.count(no), 1u) << no;
}

}  // namespace
}  // namespace pageloom::test
