// Adding what the download record knows, in the real window: one gallery is asked about
// with Yes/No, a chain once for all its chapters, and each answer makes the rows it says.
#include <QAction>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <ctime>

#include "gui/command_window.h"
#include "gui/tray_notifier.h"
#include "store/download_record.h"

namespace pageloom::test {
namespace {

::testing::Environment* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

class RecordQuestionTest : public CommandWindowTest {
 protected:
  void SetUp() override {
    {
      const std::unique_ptr<DownloadRecord> record = DownloadRecord::Open(RecordFile());
      ASSERT_TRUE(record);
      const std::int64_t now = std::time(nullptr);
      ASSERT_TRUE(record->Add({"EH", "77", "Seen Before", "/old/Seen Before/", now}));
      ASSERT_TRUE(record->Add({"DMZJ", "1", "测试漫画 第1话", "/old/1/", now}));
      ASSERT_TRUE(record->Add({"DMZJ", "2", "测试漫画 第2话", "/old/2/", now}));
    }
    SiteNames names = dmzj.Names();
    EhSite::Apply(names);
    ControllerSettings settings = TestSettings(names);
    settings.recordFile = RecordFile();
    dialog = std::make_unique<test::WindowWithEngine>(settings);
    dialog->SetMessageBoxHook([this](std::u16string_view text) { messages.emplace_back(text); });
    Box(kIdSaveFolder)->setText(QString::fromStdU16String(dir.Wide()));
    dialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    eh.AddGallery("77", Gallery("Seen Before", "77", 1));
    for (int i = 1; i <= 3; ++i)
      dmzj.AddChapter("/c/" + std::to_string(i) + ".shtml",
                      Chapter("第" + std::to_string(i) + "话",
                              i < 3 ? std::to_string(i + 1) + ".shtml" : "", 1));
  }
  std::filesystem::path RecordFile() const { return dir.Path() / "data" / "record.sqlite"; }

  // Adds `address` and answers the question with the button that reads `answer`; returns
  // the question's text, and the rows the Add made.
  std::pair<QString, int> AddAnswering(const std::u16string& address, const QString& answer) {
    const int before = Rows();
    QString question;
    WhenReady click(
        [] { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()) != nullptr; },
        [&] {
          auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
          question = box->text();
          // Yes and No by their role (their words are the toolkit's), the others by text.
          if (answer == QLatin1String("Yes") || answer == QLatin1String("No")) {
            box->button(answer == QLatin1String("Yes") ? QMessageBox::Yes : QMessageBox::No)
                ->click();
            return;
          }
          for (QAbstractButton* button : box->buttons())
            if (button->text() == answer) button->click();
        },
        std::chrono::seconds(10));
    Add(address);
    return {question, Rows() - before};
  }
};

TEST_F(RecordQuestionTest, AGalleryIsAskedWithYesNoAndAChainOnceForAllItsChapters) {
  const QString date = QString::fromStdString(RecordDate(std::time(nullptr)));
  auto [question, made] = AddAnswering(EhAddress("77"), QStringLiteral("No"));
  EXPECT_EQ(question, QStringLiteral("已下载过：Seen Before（%1）。仍然下载？").arg(date));
  EXPECT_EQ(made, 0);
  EXPECT_EQ(eh.Hits(EhSite::PagePath("77", false, 1)), 0) << "no page read for a No";
  EXPECT_EQ(AddAnswering(EhAddress("77"), QStringLiteral("Yes")).second, 1);

  Tick(kIdFollowNext);
  const std::u16string chain = dmzj.Address("/c/1.shtml");
  std::tie(question, made) = AddAnswering(chain, QStringLiteral("只下载新的"));
  EXPECT_EQ(question, QStringLiteral("3话中有2话已下载过。"));
  ASSERT_EQ(made, 1);
  EXPECT_EQ(Cell(Rows() - 1, 1), Folder("测试漫画/第3话"));
  EXPECT_EQ(AddAnswering(chain, QStringLiteral("全部下载")).second, 3);
  EXPECT_EQ(Cell(Rows() - 3, 1), Folder("测试漫画/第1话")) << "in the chain's order";
  EXPECT_EQ(AddAnswering(chain, QStringLiteral("都不下载")).second, 0);
  EXPECT_TRUE(messages.empty());
}

TEST_F(RecordQuestionTest, CheckForUpdatesAddsTheNewChaptersSaysSoInTheTrayAndListsTheComic) {
  std::vector<QString> tray;
  dialog->Tray().SetMessageHook([&](const QString&, const QString& text) { tray.push_back(text); });
  const auto action = [this](const char* name) {
    return dialog->findChild<QAction*>(QString::fromLatin1(name));
  };
  dmzj.AddChapter("/c/5.shtml", Chapter("第5话", "", 1));
  Tick(kIdFollowNext);
  Add(dmzj.Address("/c/5.shtml"));
  ASSERT_EQ(Rows(), 1);
  action("checkUpdatesAction")->trigger();
  WaitForAdds();
  EXPECT_EQ(Rows(), 1);
  EXPECT_TRUE(tray.empty());

  dmzj.AddChapter("/c/5.shtml", Chapter("第5话", "6.shtml", 1));
  dmzj.AddChapter("/c/6.shtml", Chapter("第6话", "", 1));
  action("checkUpdatesAction")->trigger();  // checked a moment ago: a note, no request
  WaitForAdds();
  EXPECT_EQ(Rows(), 1);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], u"10分钟内检查过，这次未检查：测试漫画");

  // The automatic check checks at once when ticked; this one is let through.
  const std::unique_ptr<DownloadRecord> record = DownloadRecord::Open(RecordFile());
  std::vector<FollowedComic> followed = record->Followed();
  ASSERT_EQ(followed.size(), 1u);
  followed[0].lastCheck = 1;
  ASSERT_TRUE(record->Checked(followed[0]));
  action("autoCheckUpdatesAction")->trigger();
  WaitForAdds();
  ASSERT_EQ(Rows(), 2);
  EXPECT_EQ(Cell(1, 1), Folder("测试漫画/第6话"));
  EXPECT_EQ(tray, std::vector<QString>{QStringLiteral("测试漫画：1个新章节")});

  // The followed comics' dialog lists it and unfollows it.
  std::vector<QString> listed;
  WhenReady unfollow([] { return QApplication::activeModalWidget() != nullptr; },
                     [&] {
                       QWidget* box = QApplication::activeModalWidget();
                       auto* table = box->findChild<QTableWidget*>();
                       for (int column = 0; column < table->columnCount(); ++column)
                         listed.push_back(table->item(0, column)->text());
                       table->selectRow(0);
                       box->findChild<QPushButton*>(QStringLiteral("unfollowButton"))->click();
                       listed.push_back(QString::number(table->rowCount()));
                       box->close();
                     });
  action("followedComicsAction")->trigger();
  ASSERT_EQ(listed.size(), 5u);
  EXPECT_EQ(listed[0], QStringLiteral("测试漫画"));
  EXPECT_TRUE(listed[1].endsWith(QStringLiteral("/c/6.shtml"))) << listed[1].toStdString();
  EXPECT_EQ(listed[3], QStringLiteral("1"));
  EXPECT_EQ(listed[4], QStringLiteral("0"));
  EXPECT_TRUE(record->Followed().empty());
}

}  // namespace
}  // namespace pageloom::test
