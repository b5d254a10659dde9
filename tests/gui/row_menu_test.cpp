// A task row's menu in the window: one task held while the others of its site go on, moved
// to the top, its address copied, the finished ones cleared; and the status line's counts.
#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <memory>

#include <gtest/gtest.h>

#include "gui/command_window.h"
#include "gui/status_line.h"

namespace pageloom::test {
namespace {

::testing::Environment* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

class RowMenuTest : public CommandWindowTest {
 protected:
  // Triggers the menu item `name` of `row`; false when it is not there or not enabled.
  bool Trigger(int row, const char* name) {
    std::unique_ptr<QMenu> menu(dialog->CreateRowMenu(row));
    QAction* action = menu->findChild<QAction*>(QString::fromLatin1(name));
    if (action == nullptr || !action->isEnabled()) return false;
    action->trigger();
    return true;
  }
  bool StatusLineReads(const QString& counts, const QString& stored) {
    return PumpUntil([&] {
      const QString text = dialog->Status().text();
      return text.startsWith(counts) && text.endsWith(stored);
    });
  }
};

TEST_F(RowMenuTest, HoldMoveCopyAndClearFromTheRowMenuWithTheStatusLineCounting) {
  eh.AddGallery("m1", Gallery("First", "m1", 2));
  eh.AddGallery("m2", Gallery("Second", "m2", 1));
  eh.AddGallery("m3", Gallery("Third", "m3", 1));
  for (const char* name : {"m1", "m2", "m3"}) Add(EhAddress(name));
  ASSERT_EQ(Rows(), 3);
  EXPECT_TRUE(StatusLineReads(QStringLiteral("等待 3 · 下载中 0 · 已完成 0 · 缺图 0 · "),
                              QStringLiteral("本次已存 0 张")));
  EXPECT_FALSE(Trigger(0, "moveUpAction"));        // first already
  EXPECT_FALSE(Trigger(0, "retryMissingAction"));  // nothing missing
  ASSERT_TRUE(Trigger(0, "pauseTaskAction"));
  EXPECT_EQ(Cell(0, 3), u"暂停中");
  ASSERT_TRUE(Trigger(2, "moveTopAction"));
  EXPECT_EQ(Cell(0, 0), u"2");
  EXPECT_EQ(Cell(1, 0), u"0");
  ASSERT_TRUE(Trigger(0, "copyAddressAction"));
  EXPECT_EQ(QGuiApplication::clipboard()->text().toStdU16String(),
            dialog->Controller().Tasks().Find(2)->GetStartUrl());

  Click(kIdStart);
  ASSERT_TRUE(WaitForWorkersToEnd());
  ASSERT_TRUE(WaitForRow(2, u"1/1", u"已完成"));
  EXPECT_EQ(Row(0)[3], u"已完成");
  EXPECT_EQ(Cell(1, 0), u"0");  // held: not a picture fetched
  EXPECT_EQ(Cell(1, 3), u"暂停中");
  EXPECT_TRUE(StatusLineReads(QStringLiteral("等待 1 · 下载中 0 · 已完成 2 · 缺图 0 · "),
                              QStringLiteral("本次已存 2 张")));

  ASSERT_TRUE(Trigger(1, "continueTaskAction"));
  Click(kIdStart);
  ASSERT_TRUE(WaitForRow(1, u"2/2", u"已完成"));
  ASSERT_TRUE(WaitForWorkersToEnd());
  EXPECT_TRUE(StatusLineReads(QStringLiteral("等待 0 · 下载中 0 · 已完成 3 · 缺图 0 · "),
                              QStringLiteral("本次已存 4 张")));
  ASSERT_TRUE(Trigger(1, "clearFinishedAction"));
  EXPECT_EQ(Rows(), 0);
  EXPECT_TRUE(messages.empty());
}

}  // namespace
}  // namespace pageloom::test
