// What the window keeps between runs: written when one window closes, laid over the next
// one as it shows, and a missing or damaged settings file that changes nothing. (That the
// program keeps it in its config folder is seen by the window beacon's process test.)
#include "gui/window_settings.h"

#include <QAction>
#include <QCheckBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

#include "app/task_controller.h"
#include "gui/gui_test_support.h"
#include "gui/main_dialog.h"
#include "gui/window_with_engine.h"
#include "support/test_server.h"

namespace pageloom::test {
namespace {

::testing::Environment* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// A window as the program shows it.
std::unique_ptr<CpageLoomDlg> ShownWindow() {
  auto dialog = std::make_unique<test::WindowWithEngine>();
  dialog->show();
  EXPECT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
  return dialog;
}

QCheckBox* Check(CpageLoomDlg& dialog, int id) {
  return dialog.findChild<QCheckBox*>(ControlObjectName(id));
}

QAction* StartAfterAdd(CpageLoomDlg& dialog) {
  return dialog.findChild<QAction*>(QStringLiteral("startAfterAddAction"));
}

// What the settings cover, as the window shows it.
struct Seen {
  QString folder;
  bool rename, follow;
  QSize size;
  std::vector<int> widths;
  bool operator==(const Seen& o) const {
    return folder == o.folder && rename == o.rename && follow == o.follow && size == o.size &&
           widths == o.widths;
  }
};
Seen Look(CpageLoomDlg& dialog) {
  Seen seen{dialog.findChild<QLineEdit*>(ControlObjectName(kIdSaveFolder))->text(),
            Check(dialog, kIdAutoRename)->isChecked(),
            Check(dialog, kIdFollowNext)->isChecked(),
            dialog.size(),
            {}};
  for (int column = 0; column < 4; ++column)
    seen.widths.push_back(dialog.TaskTable()->horizontalHeader()->sectionSize(column));
  return seen;
}

TEST(WindowSettings, WhatOneWindowKeepsTheNextOneShowsAndItsLogicFollows) {
  TempDir dir;
  const WindowSettings kept(QString::fromStdString(dir.Str("conf/pageLoom.conf")));
  Seen before;
  {
    auto first = ShownWindow();
    first->SetSaveFolderText(u"/srv/漫画");
    QTest::mouseClick(Check(*first, kIdAutoRename), Qt::LeftButton);
    QTest::mouseClick(Check(*first, kIdFollowNext), Qt::LeftButton);
    StartAfterAdd(*first)->trigger();
    first->resize(first->width() + 150, first->height() + 90);
    QHeaderView* header = first->TaskTable()->horizontalHeader();
    header->resizeSection(0, 55);
    header->resizeSection(3, 81);
    before = Look(*first);
    ASSERT_TRUE(kept.Save(*first));
  }
  auto next = ShownWindow();
  ASSERT_FALSE(Look(*next) == before);
  kept.Restore(*next);
  EXPECT_TRUE(Look(*next) == before);
  EXPECT_FALSE(next->AddOptions().autoRename) << "an Add learns the kept options";
  EXPECT_TRUE(next->AddOptions().followNext);
  EXPECT_TRUE(StartAfterAdd(*next)->isChecked());
}

TEST(WindowSettings, NoFileOrAnUnusableOneLeavesTheWindowAsMade) {
  TempDir dir;
  auto made = ShownWindow();
  const Seen fresh = Look(*made);

  auto window = ShownWindow();
  const WindowSettings missing(QString::fromStdString(dir.Str("none/pageLoom.conf")));
  missing.Restore(*window);
  EXPECT_TRUE(Look(*window) == fresh);
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "none")) << "reading creates nothing";

  WriteFileBytes(dir.Path() / "bad.conf",
                 "[window]\nsize=-5, abc\ncolumnWidths=10, 20\n"
                 "[options]\nautoRename=maybe\nfollowNext=1\n\xff garbage\n");
  WindowSettings(QString::fromStdString(dir.Str("bad.conf"))).Restore(*window);
  EXPECT_TRUE(Look(*window) == fresh);

  // Usable values among unusable ones are taken; a size below the smallest is raised to it.
  WriteFileBytes(dir.Path() / "mixed.conf",
                 "[window]\nsaveFolder=/data/pics\nsize=10, 10\n"
                 "columnWidths=40, 0, 999999, 70\n");
  WindowSettings(QString::fromStdString(dir.Str("mixed.conf"))).Restore(*window);
  const Seen seen = Look(*window);
  EXPECT_EQ(seen.folder, QStringLiteral("/data/pics"));
  EXPECT_EQ(seen.size, fresh.size);
  EXPECT_EQ(seen.widths, (std::vector<int>{40, fresh.widths[1], fresh.widths[2], 70}));
}

}  // namespace
}  // namespace pageloom::test
