// The lasting queue: tasks kept in an SQLite file across runs, a run killed mid-gallery
// resumed where it stood, a damaged file set aside, one program per queue, and one folder
// per gallery.
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include "app/task_controller.h"
#include "base/fixed_text.h"
#include "sites/dmzj/dmzj_task.h"
#include "store/folder_claims.h"
#include "store/queue_store.h"
#include "store/sqlite_db.h"
#include "support/eh_site.h"
#include "support/fake_window.h"
#include "support/scripted_comic.h"
#include "support/test_server.h"
#include "support/test_settings.h"

extern char** environ;

namespace pageloom::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

EhGalleryPlan Pictures(const std::string& title, const std::string& name, int count) {
  EhGalleryPlan plan{title + " Page 1", false, {}};
  for (int i = 1; i <= count; ++i)
    plan.pictures.push_back({"/eh/pic/" + name + "/" + std::to_string(i) + ".jpg"});
  return plan;
}

class QueueTest : public ::testing::Test {
 protected:
  QueueTest() { window.SetSaveFolderText(save.Wide()); }

  std::unique_ptr<TaskController> Open(FakeWindow& on) {
    ControllerSettings settings = TestSettings(site.Names());
    settings.dataFolder = data.Path();
    return std::make_unique<TaskController>(on, settings);
  }
  void Add(TaskController& controller, const std::string& gallery) {
    window.SetAddressText(site.Address(EhSite::GalleryPath(gallery, false)));
    controller.AddAddresses(window.AddressText(), window.Options());
    ASSERT_TRUE(WaitForAdds(controller.Adding(), 10s));
  }
  bool RunToEnd(TaskController& controller) {
    controller.Start();
    return WaitUntil([&] { return !controller.Workers().Running(SITE_EH); }, 20s);
  }
  std::set<std::string> Files(const std::string& folder) const {
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(save.Path() / fs::u8path(folder), ec))
      names.insert(entry.path().filename().u8string());
    return names;
  }

  TestServer server;
  EhSite site{server};
  TempDir data;
  TempDir save;
  FakeWindow window;
};

TEST_F(QueueTest, TasksComeBackInTheirRowsAndNumbersGoOn) {
  site.AddGallery("a", Pictures("Alpha", "a", 2));
  site.AddGallery("b", Pictures("Beta", "b", 3));
  site.AddGallery("c", Pictures("Gamma", "c", 1));
  {
    auto controller = Open(window);
    EXPECT_EQ(controller->Queue(), QueueState::kOpened);
    Add(*controller, "a");
    Add(*controller, "b");
    Add(*controller, "c");
    ASSERT_TRUE(RunToEnd(*controller));
    ASSERT_EQ(window.RowAt(2)[3], u"已完成");
    window.Select({1});
    controller->Delete(window.SelectedTasks());  // gone from the file too
  }
  FakeWindow again;
  auto controller = Open(again);
  EXPECT_EQ(controller->Queue(), QueueState::kOpened);
  ASSERT_EQ(again.RowCount(), 2);
  EXPECT_EQ(again.RowAt(0), (FakeWindow::Row{u"0", save.Wide("Alpha") + u"/", u"2/2", u"已完成"}));
  EXPECT_EQ(again.RowAt(1), (FakeWindow::Row{u"2", save.Wide("Gamma") + u"/", u"1/1", u"已完成"}));
  EXPECT_EQ(controller->Tasks().Find(2)->GetRow(), 1);
  EXPECT_EQ(controller->Tasks().Find(2)->GetPageUrl(),
            site.Address(EhSite::PagePath("c", false, 1)));
  EXPECT_TRUE(again.Messages().empty());

  // New numbers go on after the restored ones, also after a deleted last task.
  again.SetSaveFolderText(save.Wide());
  again.SetAddressText(site.Address(EhSite::GalleryPath("b", false)));
  controller->AddAddresses(again.AddressText(), again.Options());
  ASSERT_TRUE(WaitForAdds(controller->Adding(), 10s));
  ASSERT_EQ(again.RowCount(), 3);
  EXPECT_EQ(again.RowAt(2)[0], u"3");
}

TEST_F(QueueTest, AMissingPictureKeepsItsReasonAcrossARestart) {
  EhGalleryPlan plan = Pictures("Holes", "h", 2);
  plan.pictures[1].served = false;
  site.AddGallery("h", plan);
  {
    auto controller = Open(window);
    Add(*controller, "h");
    ASSERT_TRUE(RunToEnd(*controller));
  }
  FakeWindow again;
  auto controller = Open(again);
  ASSERT_TRUE(controller->Tasks().Find(0));
  ASSERT_EQ(controller->Tasks().Find(0)->Missing().size(), 1u);
  EXPECT_EQ(controller->Tasks().Find(0)->Missing().front().reason,
            (FailureReason{FailureKind::kHttpStatus, 404}));
  ASSERT_TRUE(again.SnapshotOf(0));
  EXPECT_EQ(again.SnapshotOf(0)->missing.front().reason.httpStatus, 404);
}

TEST_F(QueueTest, AProgramKilledMidGalleryIsResumedWithoutWalkingDonePagesAgain) {
  constexpr int kPages = 30;
  site.AddGallery("k", Pictures("Killed", "k", kPages));
  site.SetPageHook([](const std::string&) { std::this_thread::sleep_for(20ms); });
  const std::string address = site.Url(EhSite::GalleryPath("k", false));
  const std::string dataFolder = data.Str();
  const std::string saveFolder = save.Str();
  std::vector<char*> args{
      const_cast<char*>(QUEUE_CHILD_PATH), const_cast<char*>(dataFolder.c_str()),
      const_cast<char*>(saveFolder.c_str()), const_cast<char*>(address.c_str()), nullptr};
  pid_t child = 0;
  ASSERT_EQ(posix_spawn(&child, QUEUE_CHILD_PATH, nullptr, nullptr, args.data(), environ), 0);
  const bool midway = WaitUntil([&] { return Files("Killed").size() >= 9; }, 20s);
  ::kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(midway) << "the child never got going";
  ASSERT_TRUE(WIFSIGNALED(status));
  site.SetPageHook(nullptr);

  auto controller = Open(window);
  ASSERT_EQ(controller->Queue(), QueueState::kOpened) << "a killed program's lock never blocks";
  ASSERT_EQ(window.RowCount(), 1);
  EXPECT_EQ(window.RowAt(0)[3], u"暂停中");
  ASSERT_TRUE(RunToEnd(*controller));
  EXPECT_EQ(window.RowAt(0)[2], u"30/30");
  EXPECT_EQ(window.RowAt(0)[3], u"已完成");

  int twice = 0;
  for (int page = 2; page <= kPages; ++page) {
    const int hits = server.Hits(EhSite::PagePath("k", false, page));
    EXPECT_GE(hits, 1) << page;
    EXPECT_LE(hits, 2) << page;
    twice += hits == 2;
  }
  EXPECT_LE(twice, 2) << "only the page in flight and the one read ahead are read again";
  EXPECT_LE(server.Hits(EhSite::PagePath("k", false, 1)), 3);
  std::set<std::string> expected{kFolderSourceFile};
  for (int i = 1; i <= kPages; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "%03d.jpg", i);
    expected.insert(name);
    const std::string picture = "/eh/pic/k/" + std::to_string(i) + ".jpg";
    EXPECT_EQ(ReadFileBytes(save.Path() / "Killed" / name), EhSite::PictureBytes(picture)) << name;
  }
  EXPECT_EQ(Files("Killed"), expected) << "no half-written picture is left";
}

TEST_F(QueueTest, ADamagedFileIsSetAsideAndAnEmptyQueueBegun) {
  WriteFileBytes(data.Path() / "queue.sqlite", std::string(5000, 'x') + "not a database");
  {
    auto controller = Open(window);
    EXPECT_EQ(controller->Queue(), QueueState::kSetAside);
    EXPECT_EQ(window.RowCount(), 0);
    ASSERT_EQ(window.Messages().size(), 1u);
    EXPECT_EQ(window.Messages()[0].rfind(u"任务队列文件已损坏，已另存为：", 0), 0u);
    site.AddGallery("a", Pictures("Alpha", "a", 1));
    Add(*controller, "a");
  }
  std::vector<fs::path> aside;
  for (const auto& entry : fs::directory_iterator(data.Path()))
    if (entry.path().filename().string().rfind("queue.sqlite.damaged-", 0) == 0)
      aside.push_back(entry.path());
  ASSERT_EQ(aside.size(), 1u);
  EXPECT_TRUE(ReadFileBytes(aside[0]) == std::string(5000, 'x') + "not a database");

  // The new queue lasts; the message is not said again.
  FakeWindow again;
  auto controller = Open(again);
  EXPECT_EQ(controller->Queue(), QueueState::kOpened);
  EXPECT_EQ(again.RowCount(), 1);
  EXPECT_TRUE(again.Messages().empty());
}

// A queue file as the program wrote it before sites were kept by name: its schema then,
// one gallery half done with a picture missing, one chapter still to read.
void WriteFirstSchemaQueue(const fs::path& file, const std::string& saveFolder) {
  SqliteDatabase db(file);
  ASSERT_TRUE(db.Execute(R"sql(
PRAGMA journal_mode = WAL;
BEGIN;
CREATE TABLE tasks (
  task_no INTEGER PRIMARY KEY, site INTEGER NOT NULL, start_url TEXT NOT NULL,
  page_url TEXT NOT NULL, folder TEXT NOT NULL, shown_folder TEXT NOT NULL,
  rename_files INTEGER NOT NULL, state INTEGER NOT NULL, file_number INTEGER NOT NULL,
  picture_count INTEGER NOT NULL, walk_done INTEGER NOT NULL, list_version INTEGER NOT NULL,
  list_taken INTEGER NOT NULL, missing_version INTEGER NOT NULL);
CREATE TABLE pictures (
  task_no INTEGER NOT NULL REFERENCES tasks(task_no) ON DELETE CASCADE,
  position INTEGER NOT NULL, url TEXT NOT NULL, PRIMARY KEY (task_no, position)) WITHOUT ROWID;
CREATE TABLE missing (
  task_no INTEGER NOT NULL REFERENCES tasks(task_no) ON DELETE CASCADE,
  position INTEGER NOT NULL, url TEXT NOT NULL, page TEXT NOT NULL, file_name TEXT NOT NULL,
  PRIMARY KEY (task_no, position)) WITHOUT ROWID;
CREATE TABLE counters (name TEXT PRIMARY KEY, value INTEGER NOT NULL) WITHOUT ROWID;
INSERT INTO counters VALUES ('next_task_no', 7);
PRAGMA user_version = 1;
COMMIT;)sql"));
  SqliteStatement task =
      db.Prepare("INSERT INTO tasks VALUES (?1, ?2, ?3, ?3, ?4, ?4, 1, ?5, ?6, ?7, 0, 0, 0, 0)");
  ASSERT_TRUE(task);
  ASSERT_EQ(task.Bind(1, 3)
                .Bind(2, 1)
                .Bind(3, "http://127.0.0.1:1/eh/s/1/1-1")
                .Bind(4, saveFolder + "/Old Gallery/")
                .Bind(5, STATE_PAUSED)
                .Bind(6, 2)
                .Bind(7, 2)
                .Step(),
            SQLITE_DONE);
  task = db.Prepare("INSERT INTO tasks VALUES (?1, ?2, ?3, ?3, ?4, ?4, 1, ?5, ?6, ?7, 0, 0, 0, 0)");
  ASSERT_EQ(task.Bind(1, 6)
                .Bind(2, 2)
                .Bind(3, "http://127.0.0.1:1/c/1.shtml")
                .Bind(4, saveFolder + "/Comic/Ch 1/")
                .Bind(5, STATE_PREPARING)
                .Bind(6, 0)
                .Bind(7, 12)
                .Step(),
            SQLITE_DONE);
  ASSERT_TRUE(
      db.Execute("INSERT INTO missing VALUES (3, 0, '', 'http://127.0.0.1:1/eh/s/1/1-2', "
                 "'002.jpg')"));
}

TEST_F(QueueTest, AQueueOfTheFirstSchemaKeepsEveryTaskAndNamesItsSites) {
  WriteFirstSchemaQueue(data.Path() / "queue.sqlite", save.Str());
  for (int run = 0; run < 2; ++run) {  // migrated in place, then read as it is
    FakeWindow seen;
    auto controller = Open(seen);
    ASSERT_EQ(controller->Queue(), QueueState::kOpened);
    EXPECT_EQ(seen.Rows(), (std::vector<FakeWindow::Row>{
                               {u"3", save.Wide() + u"/Old Gallery/", u"2/2", u"暂停中"},
                               {u"6", save.Wide() + u"/Comic/Ch 1/", u"0/12", u"准备中"}}));
    const auto gallery = controller->Tasks().Find(3);
    const auto chapter = controller->Tasks().Find(6);
    ASSERT_TRUE(gallery && chapter);
    EXPECT_EQ(gallery->GetSiteKind(), SITE_EH);
    EXPECT_EQ(gallery->GetSiteName(), u"EH");
    ASSERT_EQ(gallery->Missing().size(), 1u);
    EXPECT_EQ(gallery->Missing().front().reason.kind, FailureKind::kUnknown);  // not kept then
    EXPECT_NE(dynamic_cast<ComicDMZJ*>(chapter.get()), nullptr);
    EXPECT_EQ(chapter->GetSiteName(), u"DMZJ");
    if (run == 0) {  // the numbers go on
      auto added = std::make_shared<ScriptedComic>(SITE_EH, 7, nullptr, ScriptedComic::Pictures(1));
      EXPECT_EQ(controller->Tasks().Register(added, u"/x/"), 7);
      controller->Tasks().Remove(7);
    }
  }
  SqliteDatabase db(data.Path() / "queue.sqlite");
  SqliteStatement version = db.Prepare("PRAGMA user_version");
  ASSERT_EQ(version.Step(), SQLITE_ROW);
  EXPECT_EQ(version.Integer(0), QueueStore::kSchemaVersion);
  SqliteStatement sites = db.Prepare("SELECT site FROM tasks ORDER BY task_no");
  ASSERT_EQ(sites.Step(), SQLITE_ROW);
  EXPECT_EQ(sites.Text(0), "EH");
  ASSERT_EQ(sites.Step(), SQLITE_ROW);
  EXPECT_EQ(sites.Text(0), "DMZJ");
}

TEST_F(QueueTest, AQueueOfANewerProgramIsLeftAloneAndOneProgramHoldsAQueue) {
  {
    SqliteDatabase newer(data.Path() / "queue.sqlite");
    ASSERT_TRUE(newer.Execute("CREATE TABLE future (x); PRAGMA user_version = 9"));
  }
  const std::string before = ReadFileBytes(data.Path() / "queue.sqlite");
  {
    auto controller = Open(window);
    EXPECT_EQ(controller->Queue(), QueueState::kUnavailable);
    EXPECT_EQ(window.Messages().size(), 1u);
  }
  EXPECT_TRUE(ReadFileBytes(data.Path() / "queue.sqlite") == before) << "the file was changed";
  fs::remove(data.Path() / "queue.sqlite");

  auto first = Open(window);
  EXPECT_EQ(first->Queue(), QueueState::kOpened);
  FakeWindow secondWindow;
  auto second = Open(secondWindow);
  EXPECT_EQ(second->Queue(), QueueState::kInUse);
  first.reset();
  auto third = Open(secondWindow);
  EXPECT_EQ(third->Queue(), QueueState::kOpened);
}

TEST_F(QueueTest, ADataFolderThatCannotBeMadeIsSaidAsSuchAndTheProgramRunsWithoutAQueue) {
  site.AddGallery("a", Pictures("Alpha", "a", 1));
  const std::u16string head = u"无法创建数据文件夹或锁文件，本次添加的任务不会被保存：";
  WriteFileBytes(data.Path() / "file", "not a folder");
  fs::create_directories(data.Path() / "locked" / "lock");  // the lock's name is taken by a folder
  for (const fs::path& folder : {data.Path() / "file" / "pageLoom", data.Path() / "locked"}) {
    FakeWindow on;
    on.SetSaveFolderText(save.Wide());
    ControllerSettings settings = TestSettings(site.Names());
    settings.dataFolder = folder;
    TaskController controller(on, settings);
    EXPECT_EQ(controller.Queue(), QueueState::kUnavailable) << "not another program's";
    ASSERT_EQ(on.Messages().size(), 1u);
    const std::u16string said = on.Messages()[0];
    EXPECT_EQ(said.rfind(head, 0), 0u) << ToUtf8(said);
    EXPECT_NE(said.find(FromUtf8(folder.string())), std::u16string::npos) << "it says which";
    EXPECT_NE(said.find(u"("), std::u16string::npos) << "and why";
    on.SetAddressText(site.Address(EhSite::GalleryPath("a", false)));
    controller.AddAddresses(on.AddressText(), on.Options());
    ASSERT_TRUE(WaitForAdds(controller.Adding(), 10s));
    EXPECT_EQ(on.RowCount(), 1) << "tasks are added all the same";
  }
}

TEST_F(QueueTest, TheQueueAndItsJournalFilesAreTheUsersAlone) {
  site.AddGallery("a", Pictures("Alpha", "a", 1));
  // Also a file an earlier version left readable by everyone.
  { auto first = Open(window); }
  fs::permissions(data.Path() / "queue.sqlite", fs::perms(0644));
  auto controller = Open(window);
  Add(*controller, "a");  // a write: the journal files are there
  for (const char* name : {"queue.sqlite", "queue.sqlite-wal", "queue.sqlite-shm"}) {
    struct stat info {};
    ASSERT_EQ(::stat((data.Path() / name).c_str(), &info), 0) << name;
    EXPECT_EQ(info.st_mode & 0777, 0600u) << name;
  }
}

TEST_F(QueueTest, AnEarlierQueueIsBroughtUpToDateAndKnownTotalAndCbzOptionLast) {
  EhGalleryPlan plan = Pictures("Known", "n", 2);
  EhGalleryDetails details;
  details.length = "9 pages";
  plan.details = EhSite::DetailsMarkup(details);
  site.AddGallery("n", plan);
  site.AddGallery("o", Pictures("Old", "o", 1));
  {
    auto controller = Open(window);
    Add(*controller, "o");
    EXPECT_FALSE(controller->SaveCbz());
  }
  {
    // The queue as the version before the known total wrote it.
    SqliteDatabase earlier(data.Path() / "queue.sqlite");
    ASSERT_TRUE(
        earlier.Execute("ALTER TABLE tasks DROP COLUMN known_total; "
                        "ALTER TABLE missing DROP COLUMN reason; "  // nor reasons
                        "ALTER TABLE missing DROP COLUMN http_status; "
                        "ALTER TABLE missing DROP COLUMN content_type; "
                        "ALTER TABLE tasks DROP COLUMN place; "
                        "UPDATE tasks SET site = 1; "  // its sites were numbers then
                        "PRAGMA user_version = 1"));
  }
  {
    FakeWindow second;
    second.SetSaveFolderText(save.Wide());
    auto controller = Open(second);
    ASSERT_EQ(controller->Queue(), QueueState::kOpened);
    ASSERT_EQ(second.RowCount(), 1);
    EXPECT_EQ(second.RowAt(0)[2], u"0/0");
    second.SetAddressText(site.Address(EhSite::GalleryPath("n", false)));
    controller->AddAddresses(second.AddressText(), second.Options());
    ASSERT_TRUE(WaitForAdds(controller->Adding(), 10s));
    EXPECT_EQ(second.RowAt(1)[2], u"0/9");
    controller->SetSaveCbz(true);
  }
  FakeWindow third;
  auto controller = Open(third);
  ASSERT_EQ(third.RowCount(), 2);
  EXPECT_EQ(third.RowAt(1)[2], u"0/9");
  EXPECT_EQ(controller->Tasks().Find(1)->GetKnownTotal(), 9);
  EXPECT_TRUE(controller->SaveCbz());
  controller.reset();
  SqliteDatabase db(data.Path() / "queue.sqlite");
  SqliteStatement version = db.Prepare("PRAGMA user_version");
  ASSERT_EQ(version.Step(), SQLITE_ROW);
  EXPECT_EQ(version.Integer(0), QueueStore::kSchemaVersion);
}

TEST_F(QueueTest, GalleriesOfOneTitleGetFoldersOfTheirOwnAndAGalleryAddedAgainKeepsItsFolder) {
  site.AddGallery("g1", Pictures("Same Title", "g1", 2));
  site.AddGallery("g2", Pictures("Same Title", "g2", 2));
  site.AddGallery("empty", Pictures("", "empty", 1));
  auto controller = Open(window);
  Add(*controller, "g1");
  Add(*controller, "g2");
  Add(*controller, "g1");
  Add(*controller, "empty");
  // Added again by its first picture page: the folder's mark knows that name too.
  window.SetAddressText(site.Address(EhSite::PagePath("g1", false, 1)));
  controller->AddAddresses(window.AddressText(), window.Options());
  ASSERT_TRUE(WaitForAdds(controller->Adding(), 10s));
  ASSERT_TRUE(RunToEnd(*controller));
  ASSERT_EQ(window.RowCount(), 5);
  EXPECT_EQ(window.RowAt(4)[1], save.Wide("Same Title") + u"/");
  EXPECT_EQ(window.RowAt(0)[1], save.Wide("Same Title") + u"/");
  EXPECT_EQ(window.RowAt(1)[1], save.Wide("Same Title (g2)") + u"/");
  EXPECT_EQ(window.RowAt(2)[1], save.Wide("Same Title") + u"/");
  EXPECT_EQ(window.RowAt(3)[1], save.Wide("empty") + u"/") << "never the save folder itself";
  for (int row = 0; row < 5; ++row) EXPECT_EQ(window.RowAt(row)[3], u"已完成") << row;
  EXPECT_EQ(ReadFileBytes(save.Path() / "Same Title" / "002.jpg"),
            EhSite::PictureBytes("/eh/pic/g1/2.jpg"));
  EXPECT_EQ(ReadFileBytes(save.Path() / "Same Title (g2)" / "002.jpg"),
            EhSite::PictureBytes("/eh/pic/g2/2.jpg"));
  EXPECT_EQ(server.Hits("/eh/pic/g1/2.jpg"), 1) << "the gallery added again found its pictures";
}

TEST(StartRace, AStartWhileAWorkerEndsItsWalkStillRunsTheTasksAddedMeanwhile) {
  FakeWindow window;
  StepLog log;
  Latch atEnd;
  Latch goOn;
  bool firstEnd = true;
  ControllerSettings settings;
  settings.walkEndHook = [&](int siteKind) {
    if (siteKind != SITE_EH || !firstEnd) return;
    firstEnd = false;
    atEnd.Open();
    goOn.Wait();
  };
  TaskController controller(window, settings);
  controller.Tasks().Register(
      std::make_shared<ScriptedComic>(SITE_EH, 0, &log, ScriptedComic::Pictures(1)), u"/save/a/");
  controller.Start();
  ASSERT_TRUE(atEnd.Wait());
  // The walk has passed the end of the map; a task comes and Start is pressed.
  auto late = std::make_shared<ScriptedComic>(SITE_EH, 1, &log, ScriptedComic::Pictures(1));
  controller.Tasks().Register(late, u"/save/b/");
  controller.Start();
  goOn.Open();
  ASSERT_TRUE(WaitUntil([&] { return !controller.Workers().Running(SITE_EH); }));
  EXPECT_EQ(late->Steps(), 1);
  EXPECT_EQ(window.RowAt(1)[3], u"已完成");
}

}  // namespace
}  // namespace pageloom::test
