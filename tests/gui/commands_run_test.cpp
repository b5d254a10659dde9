// Start, Pause, Continue and closing, tried from the window while the two workers
// download from the local sites; and one whole run from Add to "已完成" for both sites.
#include <QAction>
#include <QElapsedTimer>
#include <QMenu>
#include <algorithm>
#include <filesystem>

#include <gtest/gtest.h>

#include "gui/command_window.h"

namespace pageloom::test {
namespace {

::testing::Environment* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

using namespace std::chrono_literals;
using Texts = std::vector<std::u16string>;

TEST_F(CommandWindowTest, StartTwiceStartsEachWorkerOnceAndAfterTheyEndTwoNewOnes) {
  eh.AddGallery("a", Gallery("First", "a", 1));
  dmzj.AddChapter("/c/a.shtml", Chapter("甲", "", 1));
  HeldPicture& ehPicture = HoldEh("/eh/pic/a/img1.jpg");
  HeldPicture& dmzjPicture = HoldDmzj("c0/p1.jpg");
  Add(EhAddress("a"));
  Add(dmzj.Address("/c/a.shtml"));

  const std::set<int> idle = ThreadIds();
  Click(kIdStart);
  ASSERT_TRUE(PumpUntil([&] { return ehPicture.Arrived() == 1 && dmzjPicture.Arrived() == 1; }));
  const std::set<int> workers = NewThreads(idle);
  EXPECT_EQ(workers.size(), 2u);
  Click(kIdStart);
  EXPECT_EQ(NewThreads(idle), workers) << "a running worker is left alone";
  EXPECT_TRUE(Running(SITE_EH));
  EXPECT_TRUE(Running(SITE_DMZJ));
  ehPicture.Release();
  dmzjPicture.Release();
  ASSERT_TRUE(WaitForRow(0, u"1/1", u"已完成"));
  ASSERT_TRUE(WaitForRow(1, u"1/1", u"已完成"));
  ASSERT_TRUE(WaitForWorkersToEnd());
  EXPECT_EQ(server.Hits("/eh/pic/a/img1.jpg"), 1);
  EXPECT_EQ(server.Hits("/dmzjpic/c0/p1.jpg"), 1);
  EXPECT_EQ(dmzj.Hits("/c/a.shtml"), 2);  // Add, and the one worker's first step
  EXPECT_TRUE(PumpUntil([&] { return NewThreads(idle).empty(); }));

  // Both ended: the next Start makes two new workers, which find the new tasks.
  eh.AddGallery("b", Gallery("Second", "b", 1));
  dmzj.AddChapter("/c/b.shtml", Chapter("乙", "", 1));
  HeldPicture& ehLater = HoldEh("/eh/pic/b/img1.jpg");
  HeldPicture& dmzjLater = HoldDmzj("c1/p1.jpg");
  Add(EhAddress("b"));
  Add(dmzj.Address("/c/b.shtml"));
  Click(kIdStart);
  ASSERT_TRUE(PumpUntil([&] { return ehLater.Arrived() == 1 && dmzjLater.Arrived() == 1; }));
  EXPECT_EQ(NewThreads(idle).size(), 2u);
  EXPECT_TRUE(Running(SITE_EH));
  EXPECT_TRUE(Running(SITE_DMZJ));
  ehLater.Release();
  dmzjLater.Release();
  ASSERT_TRUE(WaitForRow(2, u"1/1", u"已完成"));
  ASSERT_TRUE(WaitForRow(3, u"1/1", u"已完成"));
  ASSERT_TRUE(WaitForWorkersToEnd());
  EXPECT_EQ(server.Hits("/eh/pic/a/img1.jpg"), 1) << "finished tasks are not fetched again";
  EXPECT_EQ(server.Hits("/dmzjpic/c0/p1.jpg"), 1);
  EXPECT_TRUE(messages.empty());
}

TEST_F(CommandWindowTest, PauseLetsThePicturesInFlightFinishThenHoldsBothUntilContinue) {
  eh.AddGallery("p", Gallery("Paused Gallery", "p", 2));
  const DmzjChapterPlan chapter = Chapter("停", "", 2);
  dmzj.AddChapter("/c/p.shtml", chapter);
  HeldPicture& ehPicture = HoldEh("/eh/pic/p/img1.jpg");
  HeldPicture& dmzjPicture = HoldDmzj(chapter.pictures[0]);
  Add(EhAddress("p"));
  Add(dmzj.Address("/c/p.shtml"));

  Click(kIdStart);
  ASSERT_TRUE(PumpUntil([&] { return ehPicture.Arrived() == 1 && dmzjPicture.Arrived() == 1; }));
  Click(kIdPause);
  ehPicture.Release();
  dmzjPicture.Release();
  // The steps in flight complete, files and rows included, and so does what each worker
  // began ahead while its picture was held: the gallery's next page, the chapter's next
  // picture (on disk under its own name, shown by the next step).
  ASSERT_TRUE(WaitForRow(0, u"1/1", u"暂停中"));
  ASSERT_TRUE(WaitForRow(1, u"1/2", u"暂停中"));
  EXPECT_EQ(Files("Paused Gallery"), std::set<std::string>{"001.jpg"});
  ASSERT_TRUE(PumpUntil([&] { return Files("测试漫画/停").size() == 2; }));
  EXPECT_EQ(Files("测试漫画/停"), (std::set<std::string>{"001.jpg", "002.jpg"}));

  // Then nothing more arrives while paused, and the rows stay as they are.
  const int hits = server.TotalHits();
  Idle(400ms);
  EXPECT_EQ(server.TotalHits(), hits);
  EXPECT_EQ(server.Hits(EhSite::PagePath("p", false, 2)), 1);
  EXPECT_EQ(server.Hits("/eh/pic/p/img2.jpg"), 0);
  EXPECT_EQ(Row(0)[2], u"1/1");
  EXPECT_EQ(Row(1)[2], u"1/2");
  EXPECT_TRUE(Running(SITE_EH));
  EXPECT_TRUE(Running(SITE_DMZJ));

  Click(kIdContinue);
  ASSERT_TRUE(WaitForRow(0, u"2/2", u"已完成"));
  ASSERT_TRUE(WaitForRow(1, u"2/2", u"已完成"));
  EXPECT_EQ(File("Paused Gallery/002.jpg"), EhSite::PictureBytes("/eh/pic/p/img2.jpg"));
  EXPECT_EQ(File("测试漫画/停/002.jpg"), DmzjSite::PictureBytes(chapter.pictures[1]));
  // What was fetched ahead before the pause served the steps after it.
  EXPECT_EQ(server.Hits(EhSite::PagePath("p", false, 2)), 1);
  EXPECT_EQ(server.Hits("/dmzjpic/" + chapter.pictures[1]), 1);
}

TEST_F(CommandWindowTest, StartWhilePausedActsAsContinue) {
  const DmzjChapterPlan chapter = Chapter("续", "", 3);
  dmzj.AddChapter("/c/s.shtml", chapter);
  HeldPicture& first = HoldDmzj(chapter.pictures[0]);
  Add(dmzj.Address("/c/s.shtml"));
  Click(kIdStart);
  ASSERT_TRUE(PumpUntil([&] { return first.Arrived() == 1; }));
  Click(kIdPause);
  first.Release();
  ASSERT_TRUE(WaitForRow(0, u"1/3", u"暂停中"));
  Idle(200ms);
  // The second picture was begun ahead while the first was held; the third waits.
  EXPECT_EQ(server.Hits("/dmzjpic/" + chapter.pictures[2]), 0);

  ASSERT_TRUE(Running(SITE_DMZJ));
  Click(kIdStart);
  ASSERT_TRUE(WaitForRow(0, u"3/3", u"已完成"));
  // The paused worker went on: no second one read the chapter or its pictures again.
  EXPECT_EQ(dmzj.Hits("/c/s.shtml"), 2);  // Add, and the first step
  for (const std::string& picture : chapter.pictures)
    EXPECT_EQ(dmzj.PictureHits(picture), 1) << picture;
  EXPECT_EQ(Files("测试漫画/续"), (std::set<std::string>{"001.jpg", "002.jpg", "003.jpg"}));
}

TEST_F(CommandWindowTest, WorkersAskTheWindowForAFolderWhenTheirsCannotBeMade) {
  dmzj.AddChapter("/c/1.shtml", Chapter("第1话", "", 2));
  dmzj.AddChapter("/c/2.shtml", Chapter("第2话", "", 2));
  Add(dmzj.Address("/c/1.shtml"));
  Add(dmzj.Address("/c/2.shtml"));
  ASSERT_EQ(Rows(), 2);
  // The comic's folder becomes a plain file: neither chapter folder can be made again.
  std::filesystem::remove_all(dir.Path() / "测试漫画");
  WriteFileBytes(dir.Path() / "测试漫画", "in the way");

  // The first chapter's worker is given a folder; the picker is asked once, since the
  // task keeps the folder. For the second chapter the user cancels, once per picture,
  // and the chapter ends with both pictures missing.
  const std::u16string picked = dir.Wide("picked");
  std::filesystem::create_directory(dir.Path() / "picked");
  dialog->SetFolderPickerHook([&](std::u16string_view title) -> std::optional<std::u16string> {
    pickerTitles.emplace_back(title);
    if (pickerTitles.size() == 1) return picked;
    return std::nullopt;
  });
  Click(kIdStart);
  ASSERT_TRUE(WaitForRow(0, u"2/2", u"已完成"));
  ASSERT_TRUE(WaitForRow(1, u"2/2", u"未完成，缺2张"));
  ASSERT_TRUE(WaitForWorkersToEnd());
  // Each picker names the task's folder; the task's pictures go into a folder of its own
  // inside the one picked, never loose among what is there.
  const std::u16string title = u"创建文件夹失败，请手动选择漫画保存文件夹：";
  EXPECT_EQ(pickerTitles, (std::vector<std::u16string>{title + Folder("测试漫画/第1话"),
                                                       title + Folder("测试漫画/第2话"),
                                                       title + Folder("测试漫画/第2话")}));
  EXPECT_EQ(messages, Texts(2, u"无效的目录，请重新选择"));
  EXPECT_EQ(Files("picked"), (std::set<std::string>{"第1话"}));
  EXPECT_EQ(Files("picked/第1话"), (std::set<std::string>{"001.jpg", "002.jpg"}));
  EXPECT_EQ(dialog->Controller().Tasks().Find(0)->GetFolder(), picked + u"/第1话/");
  EXPECT_EQ(Cell(0, 1), Folder("测试漫画/第1话")) << "the row keeps the folder it was added with";
}

// Two tasks whose first pictures stall halfway: the server sends a status, a long
// Content-Length and a few bytes, then nothing. So does the chapter's second picture,
// begun ahead while the first one is in flight.
class ClosingTest : public CommandWindowTest {
 protected:
  void StartStalledDownloads() {
    eh.AddGallery("s", Gallery("Stalled Gallery", "s", 2));
    const DmzjChapterPlan chapter = Chapter("卡住", "", 2);
    dmzj.AddChapter("/c/s.shtml", chapter);
    server.Stall("/eh/pic/s/img1.jpg", "\x89PNG\r\n\x1A\n partial");
    server.Stall("/dmzjpic/" + chapter.pictures[0], "\xFF\xD8\xFF partial");
    server.Stall("/dmzjpic/" + chapter.pictures[1], "\xFF\xD8\xFF ahead");
    Add(EhAddress("s"));
    Add(dmzj.Address("/c/s.shtml"));
    idleThreads = ThreadIds();
    Click(kIdStart);
    ASSERT_TRUE(server.WaitForStalled(3));
    // The part files are being written: the transfers are really under way.
    ASSERT_TRUE(PumpUntil([this] {
      return PartFilesBeingWritten(dir.Path() / "Stalled Gallery") == 1 &&
             PartFilesBeingWritten(dir.Path() / "测试漫画" / "卡住") == 2;
    })) << "no part file appeared";
  }
  void ExpectNothingLeft() {
    EXPECT_TRUE(Files("Stalled Gallery").empty());
    EXPECT_TRUE(Files("测试漫画/卡住").empty());
    EXPECT_TRUE(NewThreads(idleThreads).empty());
  }

  std::set<int> idleThreads;
};

TEST_F(ClosingTest, EscapeWithBothWorkersMidTransferEndsPromptly) {
  StartStalledDownloads();
  QElapsedTimer clock;
  clock.start();
  QTest::keyClick(Box(kIdAddress), Qt::Key_Escape);
  EXPECT_LT(clock.elapsed(), 2000);
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(dialog->result(), QDialog::Rejected);
  EXPECT_FALSE(Running(SITE_EH));
  EXPECT_FALSE(Running(SITE_DMZJ));
  ExpectNothingLeft();
  // The rows' late writes are dropped; the window goes without waiting for anything.
  clock.restart();
  dialog.reset();
  EXPECT_LT(clock.elapsed(), 2000);
  QCoreApplication::processEvents();
  EXPECT_TRUE(NewThreads(idleThreads).empty());
}

TEST_F(ClosingTest, DestroyingTheWindowWithBothWorkersMidTransferEndsPromptly) {
  StartStalledDownloads();
  QElapsedTimer clock;
  clock.start();
  dialog.reset();
  EXPECT_LT(clock.elapsed(), 2000);
  QCoreApplication::processEvents();
  ExpectNothingLeft();
}

TEST_F(CommandWindowTest, GalleryAndSeriesRunFromAddToFinishedInOneWindow) {
  const EhGalleryPlan gallery = Gallery("Whole Gallery", "w", 3);
  eh.AddGallery("w", gallery);
  dmzj.AddSeries("/info/w.html", "/c/w1.shtml");
  const DmzjChapterPlan one = Chapter("第1话", "w2.shtml", 4);
  const DmzjChapterPlan two = Chapter("第2话", "", 3);
  dmzj.AddChapter("/c/w1.shtml", one);
  dmzj.AddChapter("/c/w2.shtml", two);
  HeldPicture& ehSecond = HoldEh(gallery.pictures[1].path);

  // The gallery by Enter, then Start: the EH worker downloads while the series is added.
  Type(EhAddress("w"));
  QTest::keyClick(Box(kIdAddress), Qt::Key_Return);
  WaitForAdds();
  ASSERT_EQ(Rows(), 1);
  Click(kIdStart);
  ASSERT_TRUE(PumpUntil([&] { return ehSecond.Arrived() == 1; }));
  Tick(kIdFollowNext);
  Add(dmzj.Address("/info/w.html"));
  ASSERT_EQ(Rows(), 3);
  EXPECT_EQ(Row(1), (Texts{u"1", Folder("测试漫画/第1话"), u"0/4", u"准备中"}));
  EXPECT_EQ(Row(2), (Texts{u"2", Folder("测试漫画/第2话"), u"0/3", u"准备中"}));
  ehSecond.Release();
  Click(kIdStart);  // a new DMZJ worker if the first has ended; the EH one is left alone

  ASSERT_TRUE(WaitForRow(0, u"3/3", u"已完成"));
  ASSERT_TRUE(WaitForRow(1, u"4/4", u"已完成"));
  ASSERT_TRUE(WaitForRow(2, u"3/3", u"已完成"));
  ASSERT_TRUE(WaitForWorkersToEnd());
  EXPECT_EQ(Row(0), (Texts{u"0", Folder("Whole Gallery"), u"3/3", u"已完成"}));
  EXPECT_TRUE(messages.empty());

  EXPECT_EQ(Files("Whole Gallery"), (std::set<std::string>{"001.jpg", "002.jpg", "003.jpg"}));
  for (int i = 0; i < 3; ++i) {
    const std::string name = "00" + std::to_string(i + 1) + ".jpg";
    EXPECT_EQ(File("Whole Gallery/" + name), EhSite::PictureBytes(gallery.pictures[i].path))
        << name;
  }
  EXPECT_EQ(Files("测试漫画/第1话"),
            (std::set<std::string>{"001.jpg", "002.jpg", "003.jpg", "004.jpg"}));
  EXPECT_EQ(Files("测试漫画/第2话"), (std::set<std::string>{"001.jpg", "002.jpg", "003.jpg"}));
  EXPECT_EQ(File("测试漫画/第1话/004.jpg"), DmzjSite::PictureBytes(one.pictures[3]));
  EXPECT_EQ(File("测试漫画/第2话/003.jpg"), DmzjSite::PictureBytes(two.pictures[2]));
  for (const std::string& picture : one.pictures)
    EXPECT_EQ(dmzj.PictureHits(picture), 1) << picture;
}

}  // namespace
}  // namespace pageloom::test

namespace pageloom::test {
namespace {

TEST_F(CommandWindowTest, SaveAsCbzPacksTasksAsTheyEndAndTheRowMenuPacksAFinishedOne) {
  eh.AddGallery("p1", Gallery("Packed Gallery", "p1", 2));
  eh.AddGallery("p2", Gallery("Later Gallery", "p2", 3));
  ASSERT_NE(Check(kIdSaveCbz), nullptr);
  EXPECT_EQ(Check(kIdSaveCbz)->text(), QStringLiteral("保存为CBZ"));
  EXPECT_FALSE(Check(kIdSaveCbz)->isChecked());
  Tick(kIdSaveCbz);
  EXPECT_TRUE(dialog->Controller().SaveCbz());
  Add(EhAddress("p1"));
  Click(kIdStart);
  ASSERT_TRUE(WaitForRow(0, u"2/2", u"已完成"));
  ASSERT_TRUE(WaitForWorkersToEnd());
  EXPECT_TRUE(std::filesystem::exists(dir.Path() / "Packed Gallery.cbz"));
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "Packed Gallery"));

  Tick(kIdSaveCbz);
  Add(EhAddress("p2"));
  std::unique_ptr<QMenu> early(dialog->CreateRowMenu(1));
  QAction* pack = early->findChild<QAction*>(QStringLiteral("packCbzAction"));
  ASSERT_NE(pack, nullptr);
  EXPECT_EQ(pack->text(), QStringLiteral("打包为CBZ"));
  pack->trigger();  // not finished yet: refused, with the reason
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], u"无法打包为CBZ：任务未完成");
  Click(kIdStart);
  ASSERT_TRUE(WaitForRow(1, u"3/3", u"已完成"));
  ASSERT_TRUE(WaitForWorkersToEnd());
  EXPECT_EQ(Files("Later Gallery"), (std::set<std::string>{"001.jpg", "002.jpg", "003.jpg"}));
  EXPECT_TRUE(std::filesystem::exists(dir.Path() / "Later Gallery" / "ComicInfo.xml"));
  std::unique_ptr<QMenu> menu(dialog->CreateRowMenu(1));
  menu->findChild<QAction*>(QStringLiteral("packCbzAction"))->trigger();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[1], u"已打包为CBZ：" + dir.Wide("Later Gallery.cbz"));
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "Later Gallery"));
}

}  // namespace
}  // namespace pageloom::test
