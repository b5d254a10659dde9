// Adding off the window thread: while the pages of an address arrive the window keeps
// answering, rows appear page by page in the order of the addresses, and closing ends the
// reading at once. The task table is one stop in the tab order.
#include <QTest>

#include "gui/command_window.h"

namespace pageloom::test {
namespace {

::testing::Environment* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

class AddingTest : public CommandWindowTest {
 protected:
  // A chain of chapters 1 -> 2 -> ... -> count; the pages of the chapters in `held` are
  // held by the server until the test lets them go.
  void Chain(int count, std::initializer_list<int> heldChapters) {
    for (int i = 1; i <= count; ++i) {
      const std::string next = i < count ? std::to_string(i + 1) + ".shtml" : "";
      const DmzjChapterPlan plan = Chapter("第" + std::to_string(i) + "话", next, 2);
      dmzj.AddChapter(ChapterPath(i), plan);
      for (const int h : heldChapters)
        if (h == i) pages[i] = &HoldPage(ChapterPath(i), DmzjSite::ChapterPage(plan));
    }
  }
  static std::string ChapterPath(int i) { return "/c/" + std::to_string(i) + ".shtml"; }
  HeldPicture& HoldPage(const std::string& path, std::string body) {
    held.push_back(std::make_unique<HeldPicture>(server, "/dmzj" + path, std::move(body)));
    return *held.back();
  }
  // Presses Add for the chain with the follow option and returns how long the click took.
  qint64 ClickAddForChain() {
    Tick(kIdFollowNext);
    Type(dmzj.Address(ChapterPath(1)));
    QElapsedTimer clock;
    clock.start();
    Click(kIdAdd);
    return clock.elapsed();
  }

  std::map<int, HeldPicture*> pages;
};

TEST_F(AddingTest, ASlowChainFillsTheTableRowByRowWhileTheWindowAnswers) {
  Chain(3, {2, 3});
  // The click returns while chapter 2's page is held by the server.
  EXPECT_LT(ClickAddForChain(), 1000);
  ASSERT_TRUE(PumpUntil([&] { return Rows() == 1 && pages[2]->Arrived() == 1; }));
  EXPECT_EQ(Row(0),
            (std::vector<std::u16string>{u"0", Folder("测试漫画/第1话"), u"0/2", u"准备中"}));
  EXPECT_TRUE(Box(kIdAddress)->text().isEmpty());

  // Meanwhile the window serves the user: Browse opens the picker, a second Add is queued
  // behind the chain, the table can be worked with.
  pickerAnswer = dir.Wide("elsewhere");
  Click(kIdBrowse);
  EXPECT_EQ(pickerTitles, std::vector<std::u16string>{u"请选择漫画下载目录："});
  EXPECT_EQ(Box(kIdSaveFolder)->text().toStdU16String(), dir.Wide("elsewhere"));
  eh.AddGallery("after", Gallery("After Chain", "after", 1));
  Type(EhAddress("after"));
  Click(kIdAdd);
  SelectRows({0});
  EXPECT_EQ(Selected(), std::vector<int>{0});
  Idle(std::chrono::milliseconds(50));
  EXPECT_EQ(Rows(), 1) << "the gallery waits for the chain";

  pages[2]->Release();
  ASSERT_TRUE(PumpUntil([&] { return Rows() == 2 && pages[3]->Arrived() == 1; }));
  EXPECT_EQ(Cell(1, 1), Folder("测试漫画/第2话"));
  pages[3]->Release();
  WaitForAdds();
  ASSERT_EQ(Rows(), 4);
  EXPECT_EQ(Cell(2, 1), Folder("测试漫画/第3话"));
  // The chain was added with the folder of its own moment, the gallery with the new one.
  EXPECT_EQ(Cell(3, 0), u"3");
  EXPECT_EQ(Cell(3, 1), dir.Wide("elsewhere") + u"/After Chain/");
  EXPECT_TRUE(messages.empty());
}

TEST_F(AddingTest, EscapeDuringASlowChainEndsTheProgramPromptlyWithNoHalfMadeTask) {
  Chain(3, {2});
  const std::set<int> before = ThreadIds();
  ClickAddForChain();
  ASSERT_TRUE(PumpUntil([&] { return Rows() == 1 && pages[2]->Arrived() == 1; }));

  QElapsedTimer clock;
  clock.start();
  QTest::keyClick(Box(kIdAddress), Qt::Key_Escape);
  RecordProperty("escape_ms", static_cast<int>(clock.elapsed()));
  EXPECT_LT(clock.elapsed(), 2000) << "closing waited for the held page";
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_FALSE(dialog->Controller().Adding().Pending());
  EXPECT_TRUE(NewThreads(before).empty()) << "the add thread is gone";
  Idle(std::chrono::milliseconds(50));
  EXPECT_EQ(Rows(), 1);
  EXPECT_EQ(dialog->Controller().Tasks().Numbers(), std::vector<int>{0});
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "测试漫画" / "第2话"));
  EXPECT_EQ(dmzj.Hits(ChapterPath(3)), 0);
}

TEST_F(AddingTest, AnInvalidSaveFolderAtAddMakesNoTaskThatLastsOrAsksAgainAtStart) {
  eh.AddGallery("g", Gallery("Nowhere", "g", 2));
  TempDir data;
  const auto reopen = [&] {
    SiteNames names = dmzj.Names();
    EhSite::Apply(names);
    ControllerSettings settings = TestSettings(names);
    settings.dataFolder = data.Path();
    dialog.reset();
    dialog = std::make_unique<test::WindowWithEngine>(settings);
    dialog->SetMessageBoxHook([this](std::u16string_view text) { messages.emplace_back(text); });
    dialog->SetFolderPickerHook([this](std::u16string_view title) {
      pickerTitles.emplace_back(title);
      return pickerAnswer;
    });
    dialog->show();
  };
  reopen();
  WriteFileBytes(dir.Path() / "plain", "a file, not a folder");
  Box(kIdSaveFolder)->setText(QString::fromStdU16String(dir.Wide("plain/sub")));
  pickerAnswer = std::nullopt;  // the user cancels the picker
  Add(EhAddress("g"));
  EXPECT_EQ(Rows(), 0);
  EXPECT_EQ(pickerTitles.size(), 1u);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0], u"无效的目录，请重新选择");
  EXPECT_EQ(messages[1], u"无法创建任务文件夹，任务未添加：" + Folder("plain/sub/Nowhere"));

  Click(kIdStart);
  ASSERT_TRUE(WaitForWorkersToEnd());
  EXPECT_EQ(pickerTitles.size(), 1u) << "Start asks for no folder";
  EXPECT_EQ(eh.Hits("/eh/pic/g/img1.jpg"), 0);
  EXPECT_FALSE(std::filesystem::exists("001.jpg")) << "no picture beside the program";
  // Nor below it: a save folder that is no path from the root makes no task.
  Box(kIdSaveFolder)->setText(QStringLiteral("relative-save"));
  Add(EhAddress("g"));
  EXPECT_EQ(Rows(), 0);
  EXPECT_EQ(messages.back(), u"无效的目录，请重新选择");
  EXPECT_FALSE(std::filesystem::exists("relative-save"));

  reopen();
  EXPECT_EQ(Rows(), 0) << "no task came back from the queue";
}

TEST_F(AddingTest, TheTaskTableIsOneStopInTheTabOrder) {
  eh.AddGallery("g", Gallery("Tab Gallery", "g", 1));
  Add(EhAddress("g"));
  Add(EhAddress("g"));
  ASSERT_EQ(Rows(), 2);
  Table()->setFocus();
  Table()->setCurrentIndex(Table()->model()->index(0, 0));
  ASSERT_TRUE(Table()->hasFocus());

  // Arrows move inside the table.
  QTest::keyClick(Table(), Qt::Key_Down);
  EXPECT_EQ(Table()->currentIndex().row(), 1);
  QTest::keyClick(Table(), Qt::Key_Right);
  EXPECT_TRUE(Table()->hasFocus());

  // Tab leaves it forward, Shift+Tab backward, whatever cell is current.
  QTest::keyClick(Table(), Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), Button(kIdPause));
  QTest::keyClick(Button(kIdPause), Qt::Key_Backtab, Qt::ShiftModifier);
  EXPECT_EQ(QApplication::focusWidget(), Table());
  QTest::keyClick(Table(), Qt::Key_Backtab, Qt::ShiftModifier);
  EXPECT_EQ(QApplication::focusWidget(), Button(kIdStart));
}

}  // namespace
}  // namespace pageloom::test
