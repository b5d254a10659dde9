// The main window's commands tried from the window itself: the messages of Add, Browse,
// Delete and Start, adding from both sites, the follow and rename options, and Delete with
// and without a worker running.
#include <functional>
#include <system_error>
#include <thread>

#include <gtest/gtest.h>

#include "gui/command_window.h"

namespace pageloom::test {
namespace {

::testing::Environment* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

using Messages = std::vector<std::u16string>;

TEST_F(CommandWindowTest, AddWithAnEmptyBoxAsksForAnAddressAndChangesNothing) {
  const QString saveFolder = Box(kIdSaveFolder)->text();
  Click(kIdAdd);
  EXPECT_EQ(messages, Messages{u"请输入网址"});
  EXPECT_EQ(Rows(), 0);
  EXPECT_EQ(Box(kIdSaveFolder)->text(), saveFolder);
  EXPECT_EQ(server.TotalHits(), 0);

  // A blank is text: it is taken, and belongs to neither site.
  Type(u" ");
  Click(kIdAdd);
  EXPECT_EQ(messages, (Messages{u"请输入网址", u"暂时不支持该网站漫画下载"}));
  EXPECT_TRUE(Box(kIdAddress)->text().isEmpty());
}

TEST_F(CommandWindowTest, AddressOfAnotherSiteIsRefusedAndTheBoxLeftEmpty) {
  server.Serve("/other/gallery/1", "<html>other</html>");
  Add(server.WideUrl("/other/gallery/1"));
  EXPECT_EQ(messages, Messages{u"暂时不支持该网站漫画下载"});
  EXPECT_TRUE(Box(kIdAddress)->text().isEmpty());
  EXPECT_EQ(Rows(), 0);
  EXPECT_EQ(server.TotalHits(), 0) << "nothing is fetched for an unknown site";
  EXPECT_TRUE(Files("").empty());
}

TEST_F(CommandWindowTest, BrowseCancelledSaysSoAndAnAnswerFillsTheSaveBox) {
  const QString before = Box(kIdSaveFolder)->text();
  Click(kIdBrowse);
  EXPECT_EQ(pickerTitles, Messages{u"请选择漫画下载目录："});
  EXPECT_EQ(messages, Messages{u"无效的目录，请重新选择"});
  EXPECT_EQ(Box(kIdSaveFolder)->text(), before);

  // A task added now goes to the box's folder; picking another folder moves nothing.
  dmzj.AddChapter("/c/1.shtml", Chapter("第1话", "", 1));
  Add(dmzj.Address("/c/1.shtml"));
  ASSERT_EQ(Rows(), 1);
  pickerAnswer = dir.Wide("选好的 目录");
  Click(kIdBrowse);
  EXPECT_EQ(pickerTitles.size(), 2u);
  EXPECT_EQ(messages.size(), 1u);
  EXPECT_EQ(Box(kIdSaveFolder)->text().toStdU16String(), dir.Wide("选好的 目录"));
  EXPECT_EQ(Cell(0, 1), Folder("测试漫画/第1话"));

  dmzj.AddChapter("/c/2.shtml", Chapter("第2话", "", 1));
  Add(dmzj.Address("/c/2.shtml"));
  ASSERT_EQ(Rows(), 2);
  EXPECT_EQ(Cell(1, 1), Folder("选好的 目录/测试漫画/第2话"));
}

TEST_F(CommandWindowTest, DeleteWithNothingSelectedSaysSo) {
  Click(kIdDelete);
  EXPECT_EQ(messages, Messages{u"请选择至少一行数据"});

  dmzj.AddChapter("/c/1.shtml", Chapter("第1话", "", 1));
  Add(dmzj.Address("/c/1.shtml"));
  ASSERT_EQ(Rows(), 1);
  Click(kIdDelete);
  EXPECT_EQ(messages, (Messages{u"请选择至少一行数据", u"请选择至少一行数据"}));
  EXPECT_EQ(Rows(), 1);
}

TEST_F(CommandWindowTest, FailedThreadCreationIsReportedPerWorkerAndRetried) {
  int calls = 0;
  starter = [&calls](std::function<void()> body) {
    if (++calls <= 3)
      throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    return std::thread(std::move(body));
  };
  Click(kIdStart);
  EXPECT_EQ(messages, (Messages{u"创建EH下载线程失败", u"创建DMZJ下载线程失败"}));
  EXPECT_FALSE(Running(SITE_EH));
  EXPECT_FALSE(Running(SITE_DMZJ));

  // The next Start tries both again: the EH worker fails once more, the DMZJ one starts.
  messages.clear();
  Click(kIdStart);
  EXPECT_EQ(messages, Messages{u"创建EH下载线程失败"});
  EXPECT_EQ(calls, 4);
  ASSERT_TRUE(WaitForWorkersToEnd());
}

TEST_F(CommandWindowTest, EachSiteAddsItsRowByButtonOrEnter) {
  eh.AddGallery("g1", Gallery("Eh Gallery", "g1", 2));
  Add(EhAddress("g1"));
  ASSERT_EQ(Rows(), 1);
  EXPECT_EQ(Row(0), (Messages{u"0", Folder("Eh Gallery"), u"0/0", u"准备中"}));
  EXPECT_TRUE(Box(kIdAddress)->text().isEmpty());
  EXPECT_TRUE(std::filesystem::is_directory(dir.Path() / "Eh Gallery"));

  dmzj.AddChapter("/c/7.shtml", Chapter("第7话", "", 12));
  Type(dmzj.Address("/c/7.shtml"));
  QTest::keyClick(Box(kIdAddress), Qt::Key_Return);
  WaitForAdds();
  ASSERT_EQ(Rows(), 2);
  EXPECT_EQ(Row(1), (Messages{u"1", Folder("测试漫画/第7话"), u"0/12", u"准备中"}));
  EXPECT_TRUE(Box(kIdAddress)->text().isEmpty());
  EXPECT_TRUE(std::filesystem::is_directory(dir.Path() / "测试漫画" / "第7话"));
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(dmzj.Hits("/c/7.shtml"), 1);
  EXPECT_FALSE(Running(SITE_EH)) << "adding starts nothing";
}

TEST_F(CommandWindowTest, FollowOptionAddsTheChapterAndEveryLaterOne) {
  dmzj.AddSeries("/info/s.html", "/c/1.shtml");
  dmzj.AddChapter("/c/1.shtml", Chapter("第1话", "2.shtml", 4));
  dmzj.AddChapter("/c/2.shtml", Chapter("第2话", "3.shtml", 2));
  dmzj.AddChapter("/c/3.shtml", Chapter("第3话", "", 5));

  Tick(kIdFollowNext);
  ASSERT_TRUE(Check(kIdFollowNext)->isChecked());
  Add(dmzj.Address("/info/s.html"));
  ASSERT_EQ(Rows(), 3);
  EXPECT_EQ(Row(0), (Messages{u"0", Folder("测试漫画/第1话"), u"0/4", u"准备中"}));
  EXPECT_EQ(Row(1), (Messages{u"1", Folder("测试漫画/第2话"), u"0/2", u"准备中"}));
  EXPECT_EQ(Row(2), (Messages{u"2", Folder("测试漫画/第3话"), u"0/5", u"准备中"}));

  // Cleared again: a chapter in the middle adds only itself.
  Tick(kIdFollowNext);
  Add(dmzj.Address("/c/2.shtml"));
  ASSERT_EQ(Rows(), 4);
  EXPECT_EQ(Row(3), (Messages{u"3", Folder("测试漫画/第2话"), u"0/2", u"准备中"}));
  EXPECT_EQ(dmzj.Hits("/c/3.shtml"), 1);
  EXPECT_TRUE(messages.empty());
}

TEST_F(CommandWindowTest, DeleteWithoutAWorkerRemovesEverySelectedRowWhateverItsState) {
  // Task 0: a chapter whose pictures are gone; its run ends unfinished.
  DmzjChapterPlan broken = Chapter("坏的", "", 2);
  dmzj.AddPage("/c/broken.shtml", DmzjSite::ChapterPage(broken));
  Add(dmzj.Address("/c/broken.shtml"));
  Click(kIdStart);
  ASSERT_TRUE(WaitForWorkersToEnd());
  ASSERT_TRUE(WaitForRow(0, u"2/2", u"未完成，缺2张"));

  Tick(kIdFollowNext);
  dmzj.AddChapter("/c/1.shtml", Chapter("第1话", "2.shtml", 2));
  dmzj.AddChapter("/c/2.shtml", Chapter("第2话", "3.shtml", 3));
  dmzj.AddChapter("/c/3.shtml", Chapter("第3话", "", 1));
  Add(dmzj.Address("/c/1.shtml"));
  ASSERT_EQ(Rows(), 4);

  SelectRows({0, 2});
  ASSERT_EQ(Selected(), (std::vector<int>{0, 2}));
  Click(kIdDelete);
  EXPECT_TRUE(messages.empty());
  ASSERT_EQ(Rows(), 2);
  EXPECT_EQ(Cell(0, 0), u"1");
  EXPECT_EQ(Cell(1, 0), u"3");
  EXPECT_TRUE(Selected().empty());
  EXPECT_FALSE(dialog->Controller().Tasks().Find(0));
  EXPECT_FALSE(dialog->Controller().Tasks().Find(2));

  // The kept tasks run in their new rows.
  Click(kIdStart);
  ASSERT_TRUE(WaitForRow(0, u"2/2", u"已完成"));
  ASSERT_TRUE(WaitForRow(1, u"1/1", u"已完成"));
  EXPECT_EQ(Files("测试漫画/第1话"), (std::set<std::string>{"001.jpg", "002.jpg"}));
  EXPECT_TRUE(Files("测试漫画/第2话").empty());
  EXPECT_EQ(Files("测试漫画/第3话"), std::set<std::string>{"001.jpg"});
}

TEST_F(CommandWindowTest, DeleteWhileAWorkerRunsKeepsDownloadingAndPausedRowsSelected) {
  eh.AddGallery("done", Gallery("Done", "done", 1));
  EhGalleryPlan limited = Gallery("Limited", "lim", 2);
  limited.pictures[0].path = "/eh/pic/lim/509.gif";  // the site's download-limit picture
  eh.AddGallery("lim", limited);
  const DmzjChapterPlan slow = Chapter("慢", "", 3);
  dmzj.AddChapter("/c/slow.shtml", slow);
  dmzj.AddChapter("/c/next.shtml", Chapter("下一个", "", 1));
  HeldPicture& second = HoldDmzj(slow.pictures[1]);

  Add(EhAddress("done"));              // 0: finished by the EH worker
  Add(EhAddress("lim"));               // 1: paused at the limit picture
  Add(dmzj.Address("/c/slow.shtml"));  // 2: downloading its second picture
  Add(dmzj.Address("/c/next.shtml"));  // 3: not reached yet
  ASSERT_EQ(Rows(), 4);
  Click(kIdStart);
  ASSERT_TRUE(WaitForRow(0, u"1/1", u"已完成"));
  ASSERT_TRUE(WaitForRow(1, u"", u"暂停中"));
  ASSERT_TRUE(WaitForRow(2, u"1/3", u"下载中"));
  ASSERT_TRUE(PumpUntil([&] { return second.Arrived() == 1; }));
  ASSERT_TRUE(Running(SITE_DMZJ));
  EXPECT_EQ(messages, Messages{u"已到达下载上限。请清空cookie，换IP后重试。"});
  messages.clear();

  SelectRows({0, 1, 2, 3});
  ASSERT_EQ(Selected(), (std::vector<int>{0, 1, 2, 3}));
  Click(kIdDelete);
  EXPECT_TRUE(messages.empty()) << "the kept rows are not mentioned";
  ASSERT_EQ(Rows(), 2);
  EXPECT_EQ(Cell(0, 0), u"1");
  EXPECT_EQ(Cell(0, 3), u"暂停中");
  EXPECT_EQ(Cell(1, 0), u"2");
  EXPECT_EQ(Cell(1, 3), u"下载中");
  EXPECT_EQ(Selected(), (std::vector<int>{0, 1}));

  // The download goes on; its progress lands in its new row, and the removed chapter
  // is never started.
  second.Release();
  ASSERT_TRUE(WaitForRow(1, u"3/3", u"已完成"));
  ASSERT_TRUE(WaitForWorkersToEnd());
  EXPECT_EQ(dmzj.Hits("/c/next.shtml"), 1);  // its Add only
  EXPECT_EQ(Files("测试漫画/慢"), (std::set<std::string>{"001.jpg", "002.jpg", "003.jpg"}));

  // With no worker left, the same selection goes.
  EXPECT_EQ(Selected(), (std::vector<int>{0, 1}));
  Click(kIdDelete);
  EXPECT_EQ(Rows(), 0);
  EXPECT_TRUE(dialog->Controller().Tasks().Numbers().empty());
}

TEST_F(CommandWindowTest, UntickingRenameAffectsOnlyTasksAddedAfterwards) {
  dmzj.AddChapter("/c/1.shtml", Chapter("前", "", 2));
  dmzj.AddChapter("/c/2.shtml", Chapter("后", "", 2));
  eh.AddGallery("g", Gallery("Later Gallery", "g", 2));
  Add(dmzj.Address("/c/1.shtml"));
  Tick(kIdAutoRename);
  ASSERT_FALSE(Check(kIdAutoRename)->isChecked());
  Add(dmzj.Address("/c/2.shtml"));
  Add(EhAddress("g"));
  ASSERT_EQ(Rows(), 3);

  Click(kIdStart);
  ASSERT_TRUE(WaitForRow(0, u"2/2", u"已完成"));
  ASSERT_TRUE(WaitForRow(1, u"", u"已完成"));
  ASSERT_TRUE(WaitForRow(2, u"", u"已完成"));
  EXPECT_EQ(Files("测试漫画/前"), (std::set<std::string>{"001.jpg", "002.jpg"}));
  EXPECT_EQ(Files("测试漫画/后"), (std::set<std::string>{"p1.jpg", "p2.jpg"}));
  EXPECT_EQ(Files("Later Gallery"), (std::set<std::string>{"img1.jpg", "img2.jpg"}));
  EXPECT_EQ(File("Later Gallery/img2.jpg"), EhSite::PictureBytes("/eh/pic/g/img2.jpg"));
}

}  // namespace
}  // namespace pageloom::test
