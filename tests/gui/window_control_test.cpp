// Control of the window beyond its buttons, against the local EH site: "添加后自动开始",
// the Delete key, a double-click that opens a task's folder, and the folder picker that
// opens at the save folder.
#include <QAction>
#include <QFileDialog>
#include <QMenu>

#include <gtest/gtest.h>

#include "gui/command_window.h"
#include "gui/language.h"
#include "gui/table_shortcuts.h"

namespace pageloom::test {
namespace {

::testing::Environment* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

using namespace std::chrono_literals;

class WindowControlTest : public CommandWindowTest {
 protected:
  QAction* StartAfterAddEntry() const {
    return dialog->findChild<QAction*>(QStringLiteral("startAfterAddAction"));
  }
  TableShortcuts* Shortcuts() const { return dialog->findChild<TableShortcuts*>(); }
  void PressKey(Qt::Key key) {
    Table()->setFocus();
    QTest::keyClick(Table(), key);
  }
  void DoubleClick(int row) {
    const QRect cell = Table()->visualRect(Table()->model()->index(row, 1));
    // As a hand does it: a click, then the second click of the double-click.
    QTest::mouseClick(Table()->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(Table()->viewport(), Qt::LeftButton, {}, cell.center());
  }
};

TEST_F(WindowControlTest, StartAfterAddIsOffByDefaultAndOnItStartsAddedTasksUnlessPaused) {
  for (const char* name : {"a", "b", "c"})
    eh.AddGallery(name, Gallery(std::string("Gallery ") + name, name, 2));
  ASSERT_NE(StartAfterAddEntry(), nullptr);
  EXPECT_FALSE(StartAfterAddEntry()->isChecked());
  std::unique_ptr<QMenu> menu(dialog->CreateContextMenu());
  EXPECT_TRUE(menu->actions().contains(StartAfterAddEntry())) << "an entry of the menu";
  EXPECT_EQ(StartAfterAddEntry()->text(), QStringLiteral("添加后自动开始"));
  {
    LanguageScope english(UiLanguage::kEnglish);
    Idle(50ms);
    EXPECT_EQ(StartAfterAddEntry()->text(), QStringLiteral("Start after Add"));
  }
  Idle(50ms);
  EXPECT_EQ(StartAfterAddEntry()->text(), QStringLiteral("添加后自动开始"));

  Add(EhAddress("a"));
  Idle(300ms);
  EXPECT_EQ(Cell(0, 3), u"准备中") << "without the option an added task waits for Start";
  EXPECT_EQ(server.Hits("/eh/pic/a/img1.jpg"), 0);

  StartAfterAddEntry()->trigger();
  Add(EhAddress("b"));
  EXPECT_TRUE(WaitForRow(1, u"2/2", u"已完成"));
  EXPECT_TRUE(WaitForRow(0, u"2/2", u"已完成")) << "Start takes every waiting task";
  ASSERT_TRUE(WaitForWorkersToEnd());

  Click(kIdPause);
  Add(EhAddress("c"));
  Idle(300ms);
  EXPECT_EQ(Cell(2, 3), u"准备中") << "a paused window stays paused";
  Click(kIdStart);
  EXPECT_TRUE(WaitForRow(2, u"2/2", u"已完成"));
  EXPECT_TRUE(messages.empty());
}

TEST_F(WindowControlTest, DeleteKeyDeletesAsTheButtonAndDoubleClickOpensTheFolder) {
  eh.AddGallery("a", Gallery("Kept", "a", 1));
  eh.AddGallery("b", Gallery("Gone", "b", 1));
  Add(EhAddress("a"));
  Add(EhAddress("b"));
  ASSERT_EQ(Rows(), 2);

  std::vector<QString> opened;
  bool opens = true;
  Shortcuts()->SetFolderOpener([&](const QString& folder) {
    opened.push_back(folder);
    return opens;
  });
  DoubleClick(0);
  EXPECT_EQ(opened, std::vector<QString>{QString::fromStdU16String(Folder("Kept"))});
  opens = false;  // the desktop could not open it
  DoubleClick(0);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages.back(), u"无法打开文件夹：" + Folder("Kept"));
  std::filesystem::remove_all(dir.Path() / "Gone");
  DoubleClick(1);
  EXPECT_EQ(opened.size(), 2u) << "a folder that is not there is not handed on";
  EXPECT_EQ(messages.back(), u"无法打开文件夹：" + Folder("Gone"));

  messages.clear();
  Table()->clearSelection();
  PressKey(Qt::Key_Delete);
  EXPECT_EQ(messages, std::vector<std::u16string>{u"请选择至少一行数据"});
  SelectRows({1});
  PressKey(Qt::Key_Delete);
  ASSERT_EQ(Rows(), 1);
  EXPECT_EQ(Row(0), (std::vector<std::u16string>{u"0", Folder("Kept"), u"0/0", u"准备中"}));
}

TEST(FolderPicker, OpensAtTheSaveFolderOrTheNearestFolderAboveIt) {
  TempDir dir;
  std::filesystem::create_directories(dir.Path() / "saved");
  test::WindowWithEngine dialog;
  std::vector<std::u16string> messages;
  dialog.SetMessageBoxHook([&](std::u16string_view text) { messages.emplace_back(text); });
  auto openedAt = [&](const std::string& box) {
    dialog.SetSaveFolderText(QString::fromStdString(box).toStdU16String());
    QString shown;
    WhenReady watch([] { return qobject_cast<QFileDialog*>(QApplication::activeModalWidget()); },
                    [&] {
                      auto* picker = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
                      shown = picker->directory().absolutePath();
                      picker->reject();
                    });
    QTest::mouseClick(dialog.findChild<QPushButton*>(ControlObjectName(kIdBrowse)), Qt::LeftButton);
    return shown.toStdString();
  };
  EXPECT_EQ(openedAt(dir.Str("saved")), dir.Str("saved"));
  EXPECT_EQ(openedAt(dir.Str("saved/not/yet")), dir.Str("saved"));
  EXPECT_EQ(openedAt(""), QDir::homePath().toStdString());
  EXPECT_EQ(messages.size(), 3u) << "each cancelled pick is said, as before";
}

}  // namespace
}  // namespace pageloom::test
