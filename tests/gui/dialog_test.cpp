// The main window and the About box as the user meets them: controls, texts, ids,
// layout, defaults, the table's columns, keys, the background menu and start-up.
#include <QAbstractItemView>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/version.h"
#include "gui/about_dialog.h"
#include "gui/application.h"
#include "gui/dialog_units.h"
#include "gui/gui_test_support.h"
#include "gui/main_dialog.h"
#include "gui/task_table_model.h"
#include "gui/window_with_engine.h"

namespace pageloom::test {
namespace {

::testing::Environment* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dialog = std::make_unique<test::WindowWithEngine>();
    dialog->SetMessageBoxHook([this](std::u16string_view text) { messages.emplace_back(text); });
    dialog->SetFolderPickerHook(
        [](std::u16string_view) { return std::optional<std::u16string>(); });
  }

  template <typename W>
  W* Control(int id) const {
    W* widget = dialog->findChild<W*>(ControlObjectName(id));
    EXPECT_NE(widget, nullptr) << "control " << id;
    return widget;
  }

  void ShowAndActivate() {
    dialog->show();
    QApplication::setActiveWindow(dialog.get());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
  }

  std::unique_ptr<CpageLoomDlg> dialog;
  std::vector<std::u16string> messages;
};

TEST_F(DialogTest, ControlsCarryTheirIdsTextsAndDefaults) {
  EXPECT_EQ(dialog->windowTitle(), QStringLiteral("pageLoom"));
  const std::vector<std::pair<int, const char*>> buttons = {
      {kIdOk, "确定"},    {kIdCancel, "取消"}, {kIdAdd, "添加"},      {kIdBrowse, "浏览"},
      {kIdStart, "开始"}, {kIdPause, "暂停"},  {kIdContinue, "继续"}, {kIdDelete, "删除"}};
  for (const auto& [id, text] : buttons) {
    auto* button = Control<QPushButton>(id);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(), QString::fromUtf8(text)) << id;
    EXPECT_FALSE(button->isDefault()) << id;
  }
  EXPECT_TRUE(Control<QPushButton>(kIdOk)->isHidden());
  EXPECT_TRUE(Control<QPushButton>(kIdCancel)->isHidden());

  EXPECT_EQ(Control<QLineEdit>(kIdAddress)->text(), QString());
  EXPECT_EQ(Control<QLineEdit>(kIdSaveFolder)->text(), QDir::homePath() + QStringLiteral("/comic"));
  EXPECT_EQ(dialog->SaveFolderText(),
            (QDir::homePath() + QStringLiteral("/comic")).toStdU16String());
  EXPECT_NE(Control<QTableView>(kIdTaskList), nullptr);

  auto* rename = Control<QCheckBox>(kIdAutoRename);
  auto* follow = Control<QCheckBox>(kIdFollowNext);
  EXPECT_EQ(rename->text(), QStringLiteral("是否自动重命名文件"));
  EXPECT_EQ(follow->text(), QStringLiteral("是否下载此话之后的漫画（仅适用于DMZJ）"));
  EXPECT_TRUE(rename->isChecked());
  EXPECT_FALSE(follow->isChecked());
  EXPECT_TRUE(dialog->AddOptions().autoRename);
  EXPECT_FALSE(dialog->AddOptions().followNext);

  const std::vector<std::pair<const char*, const char*>> labels = {
      {"labelAddress", "下载链接"}, {"labelSaveFolder", "保存路径"}, {"labelTaskList", "漫画列表"}};
  for (const auto& [name, text] : labels) {
    auto* label = dialog->findChild<QLabel*>(QString::fromLatin1(name));
    ASSERT_NE(label, nullptr) << name;
    EXPECT_EQ(label->text(), QString::fromUtf8(text));
  }
}

TEST_F(DialogTest, FontAndGeometryFollowDialogUnits) {
  const QFont font = dialog->font();
  EXPECT_EQ(font.pointSize(), 9);
  EXPECT_TRUE(font.families().contains(QStringLiteral("WenQuanYi Micro Hei")));

  const DialogUnits units(font);
  EXPECT_GT(units.BaseX(), 2);
  EXPECT_GT(units.BaseY(), 8);
  EXPECT_EQ(dialog->size(), units.Size(425, 262));
  EXPECT_EQ(Control<QWidget>(kIdAddress)->geometry(), units.Rect(71, 22, 260, 14));
  EXPECT_EQ(Control<QWidget>(kIdAdd)->geometry(), units.Rect(345, 21, 50, 16));
  EXPECT_EQ(Control<QWidget>(kIdSaveFolder)->geometry(), units.Rect(71, 42, 260, 15));
  EXPECT_EQ(Control<QWidget>(kIdBrowse)->geometry(), units.Rect(345, 42, 50, 16));
  EXPECT_EQ(Control<QWidget>(kIdTaskList)->geometry(), units.Rect(71, 82, 324, 124));
  EXPECT_EQ(Control<QWidget>(kIdStart)->geometry(), units.Rect(71, 215, 50, 14));
  EXPECT_EQ(Control<QWidget>(kIdPause)->geometry(), units.Rect(133, 215, 50, 14));
  EXPECT_EQ(Control<QWidget>(kIdContinue)->geometry(), units.Rect(197, 214, 50, 14));
  EXPECT_EQ(Control<QWidget>(kIdDelete)->geometry(), units.Rect(263, 214, 50, 14));
  // Texts keep their place and are never narrower than their rectangle or their text.
  for (int id : {kIdAutoRename, kIdFollowNext}) {
    auto* box = Control<QCheckBox>(id);
    EXPECT_GE(box->width(), box->sizeHint().width()) << id;
  }
  const QRect rename = Control<QWidget>(kIdAutoRename)->geometry();
  EXPECT_EQ(rename.x(), units.X(70));
  EXPECT_GE(rename.width(), units.X(78));
  auto* label = dialog->findChild<QLabel*>(QStringLiteral("labelAddress"));
  EXPECT_EQ(label->x(), units.X(34));
  EXPECT_GE(label->width(), label->sizeHint().width());
}

TEST(DialogUnitsTest, RoundsToTheNearestPixel) {
  const DialogUnits units(7, 15);
  EXPECT_EQ(units.X(0), 0);
  EXPECT_EQ(units.X(1), 2);  // 1.75
  EXPECT_EQ(units.X(2), 4);  // 3.5 rounds up
  EXPECT_EQ(units.X(425), 744);
  EXPECT_EQ(units.Y(1), 2);  // 1.875
  EXPECT_EQ(units.Y(4), 8);  // 7.5 rounds up
  EXPECT_EQ(units.Y(262), 491);
  EXPECT_EQ(units.Rect(71, 22, 260, 14), QRect(124, 41, 455, 26));
  const DialogUnits degenerate(0, -3);
  EXPECT_EQ(degenerate.BaseX(), 1);
  EXPECT_EQ(degenerate.BaseY(), 1);
}

TEST_F(DialogTest, TableHasFourLeftAlignedColumnsAndWholeRowSelection) {
  auto* table = Control<QTableView>(kIdTaskList);
  ASSERT_NE(table, nullptr);
  QAbstractItemModel* model = table->model();
  ASSERT_EQ(model->columnCount(), 4);
  const std::vector<std::pair<const char*, int>> columns = {
      {"编号", 37}, {"名称", 400}, {"进度", 60}, {"状态", 50}};
  for (int c = 0; c < 4; ++c) {
    EXPECT_EQ(model->headerData(c, Qt::Horizontal).toString(), QString::fromUtf8(columns[c].first));
    EXPECT_EQ(table->horizontalHeader()->sectionSize(c), columns[c].second) << c;
    EXPECT_EQ(model->headerData(c, Qt::Horizontal, Qt::TextAlignmentRole).value<Qt::Alignment>() &
                  Qt::AlignHorizontal_Mask,
              Qt::AlignLeft);
  }
  EXPECT_EQ(model->rowCount(), 0);
  EXPECT_TRUE(table->showGrid());
  EXPECT_TRUE(table->verticalHeader()->isHidden());
  EXPECT_EQ(table->selectionBehavior(), QAbstractItemView::SelectRows);
  EXPECT_EQ(table->selectionMode(), QAbstractItemView::ExtendedSelection);
  EXPECT_EQ(table->editTriggers(), QAbstractItemView::NoEditTriggers);

  dialog->Publish(TaskAdded{0, u"/home/u/comic/标题/", {}});
  const QModelIndex cell = model->index(0, 1);
  EXPECT_FALSE(model->flags(cell) & Qt::ItemIsEditable);
  EXPECT_TRUE(model->flags(cell) & Qt::ItemIsSelectable);
  EXPECT_EQ(
      model->data(cell, Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignHorizontal_Mask,
      Qt::AlignLeft);
}

TEST_F(DialogTest, TabOrderFollowsTheTemplate) {
  std::vector<QString> order;
  QWidget* widget = dialog.get();
  for (int guard = 0; guard < 200; ++guard) {
    widget = widget->nextInFocusChain();
    if (widget == dialog.get()) break;
    if ((widget->focusPolicy() & Qt::TabFocus) &&
        widget->objectName().startsWith(QStringLiteral("ctl")))
      order.push_back(widget->objectName());
  }
  const std::vector<QString> expected = {
      QStringLiteral("ctl1"),    QStringLiteral("ctl2"),    QStringLiteral("ctl1000"),
      QStringLiteral("ctl1001"), QStringLiteral("ctl1002"), QStringLiteral("ctl1003"),
      QStringLiteral("ctl1004"), QStringLiteral("ctl1005"), QStringLiteral("ctl1006"),
      QStringLiteral("ctl1007"), QStringLiteral("ctl1008"), QStringLiteral("ctl1010"),
      QStringLiteral("ctl1011"), QStringLiteral("ctl1012")};
  EXPECT_EQ(order, expected);
}

TEST_F(DialogTest, CheckBoxesToggleOnClick) {
  ShowAndActivate();
  EXPECT_TRUE(dialog->AddOptions().autoRename);
  EXPECT_FALSE(dialog->AddOptions().followNext);
  QTest::mouseClick(Control<QCheckBox>(kIdFollowNext), Qt::LeftButton);
  EXPECT_TRUE(dialog->AddOptions().followNext);
  QTest::mouseClick(Control<QCheckBox>(kIdAutoRename), Qt::LeftButton);
  EXPECT_FALSE(dialog->AddOptions().autoRename);
  QTest::keyClick(Control<QCheckBox>(kIdAutoRename), Qt::Key_Space);
  EXPECT_TRUE(dialog->AddOptions().autoRename);
  EXPECT_TRUE(dialog->AddOptions().followNext);
  EXPECT_TRUE(dialog->isVisible());
}

TEST_F(DialogTest, BrowsePutsThePickedFolderIntoTheBox) {
  std::vector<std::optional<std::u16string>> answers = {u"/new/place", std::nullopt, u"",
                                                        std::u16string(kPathCapacity, u'p'),
                                                        std::u16string(kPathCapacity - 1, u'p')};
  std::vector<std::u16string> titles;
  dialog->SetFolderPickerHook([&](std::u16string_view title) {
    titles.emplace_back(title);
    std::optional<std::u16string> answer = answers.front();
    answers.erase(answers.begin());
    return answer;
  });
  dialog->SetSaveFolderText(u"/old");
  dialog->OnBnClickedBrowse();
  EXPECT_EQ(dialog->SaveFolderText(), u"/new/place");
  EXPECT_EQ(titles, (std::vector<std::u16string>{u"请选择漫画下载目录："}));
  EXPECT_TRUE(messages.empty());
  // Cancelled, empty, and a path that does not fit the path buffer (never cut to the path
  // of some other folder) are refused.
  for (int i = 0; i < 3; ++i) dialog->OnBnClickedBrowse();
  EXPECT_EQ(dialog->SaveFolderText(), u"/new/place");
  EXPECT_EQ(messages, (std::vector<std::u16string>(3, u"无效的目录，请重新选择")));
  dialog->OnBnClickedBrowse();
  EXPECT_EQ(dialog->SaveFolderText(), std::u16string(kPathCapacity - 1, u'p'));
}

TEST_F(DialogTest, EscapeEndsTheDialog) {
  ShowAndActivate();
  QTest::keyClick(Control<QLineEdit>(kIdSaveFolder), Qt::Key_Escape);
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(dialog->result(), QDialog::Rejected);
  EXPECT_TRUE(dialog->IsClosing());
}

TEST_F(DialogTest, ClosingTheWindowEndsTheDialog) {
  ShowAndActivate();
  EXPECT_TRUE(dialog->close());
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_TRUE(dialog->IsClosing());
}

TEST_F(DialogTest, CloseDuringACommandWaitsUntilTheCommandReturns) {
  ShowAndActivate();
  bool visibleInside = false;
  bool closingInside = true;
  dialog->SetMessageBoxHook([&](std::u16string_view text) {
    messages.emplace_back(text);
    dialog->close();  // the window is closed while Add's message box is up
    visibleInside = dialog->isVisible();
    closingInside = dialog->IsClosing();
  });
  QTest::mouseClick(Control<QPushButton>(kIdAdd), Qt::LeftButton);
  EXPECT_EQ(messages, std::vector<std::u16string>{u"请输入网址"});
  EXPECT_TRUE(visibleInside);
  EXPECT_FALSE(closingInside);
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_TRUE(dialog->IsClosing());
  // A closing dialog runs no more commands.
  Control<QPushButton>(kIdAdd)->click();
  EXPECT_EQ(messages.size(), 1u);
}

TEST_F(DialogTest, EnterNeverEndsTheDialogAndRunsAddInTheAddressBox) {
  ShowAndActivate();
  auto* address = Control<QLineEdit>(kIdAddress);
  address->setFocus();
  QTest::keyClick(address, Qt::Key_Return);
  QTest::keyClick(address, Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_FALSE(dialog->IsClosing());
  // Add with an empty box asks for an address, once per Enter.
  EXPECT_EQ(messages, (std::vector<std::u16string>{u"请输入网址", u"请输入网址"}));

  messages.clear();
  auto* folder = Control<QLineEdit>(kIdSaveFolder);
  folder->setFocus();
  QTest::keyClick(folder, Qt::Key_Return);
  auto* follow = Control<QCheckBox>(kIdFollowNext);
  follow->setFocus();
  QTest::keyClick(follow, Qt::Key_Return);
  auto* table = Control<QTableView>(kIdTaskList);
  table->setFocus();
  QTest::keyClick(table, Qt::Key_Return);
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_FALSE(dialog->IsClosing());
  EXPECT_TRUE(messages.empty());
  EXPECT_FALSE(follow->isChecked());

  // A focused button is pressed by Enter, as by Space.
  auto* add = Control<QPushButton>(kIdAdd);
  add->setFocus();
  QTest::keyClick(add, Qt::Key_Return);
  EXPECT_EQ(messages, std::vector<std::u16string>{u"请输入网址"});
  EXPECT_TRUE(dialog->isVisible());
}

TEST_F(DialogTest, BackgroundMenuEndsWithTheAboutItemThatOpensTheAboutBox) {
  ShowAndActivate();
  QStringList menuTexts;
  bool separatorBeforeAbout = false;
  QString aboutTitle;
  QString aboutText;
  QString aboutButton;
  bool aboutModal = false;
  std::unique_ptr<WhenReady> aboutWatch;
  WhenReady menuWatch(
      [] { return qobject_cast<QMenu*>(QApplication::activePopupWidget()) != nullptr; },
      [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        const QList<QAction*> actions = menu->actions();
        for (QAction* action : actions) menuTexts << action->text();
        separatorBeforeAbout = actions.size() >= 2 && actions[actions.size() - 2]->isSeparator();
        aboutWatch = std::make_unique<WhenReady>(
            [] { return qobject_cast<CAboutDlg*>(QApplication::activeModalWidget()) != nullptr; },
            [&] {
              auto* about = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
              aboutTitle = about->windowTitle();
              aboutText = about->TextLabel()->text();
              aboutButton = about->OkButton()->text();
              aboutModal = about->isModal();
              QTest::mouseClick(about->OkButton(), Qt::LeftButton);
            });
        QTest::keyClick(menu, Qt::Key_A);  // the item's mnemonic picks it from the open menu
      });
  const QPoint where(5, 5);
  QContextMenuEvent event(QContextMenuEvent::Mouse, where, dialog->mapToGlobal(where));
  QApplication::sendEvent(dialog.get(), &event);

  ASSERT_FALSE(menuTexts.isEmpty());
  EXPECT_EQ(menuTexts.back(), QStringLiteral("关于 pageLoom(&A)..."));
  EXPECT_TRUE(separatorBeforeAbout);
  EXPECT_EQ(aboutTitle, QStringLiteral("关于 pageLoom"));
  EXPECT_EQ(aboutText, QStringLiteral("pageLoom，version ") + QLatin1String(kVersion));
  EXPECT_EQ(aboutButton, QStringLiteral("确定"));
  EXPECT_TRUE(aboutModal);
  EXPECT_TRUE(dialog->isVisible());
}

TEST(AboutDialogTest, ShowsIconVersionAndClosesWithOk) {
  CAboutDlg about;
  EXPECT_EQ(about.windowTitle(), QStringLiteral("关于 pageLoom"));
  EXPECT_EQ(about.TextLabel()->text(),
            QStringLiteral("pageLoom，version ") + QLatin1String(kVersion));
  EXPECT_EQ(about.TextLabel()->textFormat(), Qt::PlainText);
  EXPECT_GE(about.TextLabel()->width(), about.TextLabel()->sizeHint().width());
  EXPECT_LE(about.TextLabel()->geometry().right(), about.width());
  EXPECT_FALSE(about.IconLabel()->pixmap().isNull());
  EXPECT_TRUE(about.OkButton()->isDefault());
  const DialogUnits units(about.font());
  EXPECT_EQ(about.OkButton()->geometry(), units.Rect(113, 41, 50, 14));
  EXPECT_EQ(about.height(), units.Y(62));
  about.show();
  QTest::keyClick(&about, Qt::Key_Return);
  EXPECT_EQ(about.result(), QDialog::Accepted);
  EXPECT_FALSE(about.isVisible());
}

TEST(StartUpTest, OpensMinimisedUnlessAskedToShowNormally) {
  ::unsetenv(CpageLoomApp::kShowNormalVariable);
  EXPECT_TRUE(CpageLoomApp::StartsMinimised());
  bool minimised = false;
  QString save;
  const auto findDialog = []() -> CpageLoomDlg* {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* dialog = qobject_cast<CpageLoomDlg*>(widget);
      if (dialog != nullptr && dialog->isVisible()) return dialog;
    }
    return nullptr;
  };
  WhenReady watch([&] { return findDialog() != nullptr; },
                  [&] {
                    CpageLoomDlg* dialog = findDialog();
                    minimised = dialog->isMinimized();
                    save = dialog->findChild<QLineEdit*>(ControlObjectName(kIdSaveFolder))->text();
                    QTest::keyClick(dialog->findChild<QLineEdit*>(ControlObjectName(kIdAddress)),
                                    Qt::Key_Escape);
                  });
  EXPECT_EQ(CpageLoomApp::RunMainDialog(), 0);  // returns once Esc has ended the dialog
  EXPECT_TRUE(minimised);
  EXPECT_EQ(save, QDir::homePath() + QStringLiteral("/comic"));

  ::setenv(CpageLoomApp::kShowNormalVariable, "1", 1);
  EXPECT_FALSE(CpageLoomApp::StartsMinimised());
  ::unsetenv(CpageLoomApp::kShowNormalVariable);
}

}  // namespace
}  // namespace pageloom::test
