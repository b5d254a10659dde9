// The window as a desktop program: its two languages, its size, the cookie commands of
// its menu, addresses dropped on it or pasted into it, the bytes of a picture in flight,
// the tray's messages, and texts from pages that are shown and never interpreted.
#include <QClipboard>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QToolTip>
#include <QUrl>
#include <csignal>

#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include "gui/about_dialog.h"
#include "gui/command_window.h"
#include "gui/dialog_units.h"
#include "gui/language.h"
#include "gui/tray_notifier.h"
#include "support/fake_window.h"

namespace pageloom::test {
namespace {

::testing::Environment* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

using namespace std::chrono_literals;
using Messages = std::vector<std::u16string>;

class DesktopTest : public ::testing::Test {
 protected:
  void SetUp() override { Make(ControllerSettings{}); }
  void Make(ControllerSettings settings) {
    dialog = std::make_unique<test::WindowWithEngine>(std::move(settings));
    dialog->SetMessageBoxHook([this](std::u16string_view text) { messages.emplace_back(text); });
    dialog->SetFolderPickerHook([this](std::u16string_view title) {
      pickerTitles.emplace_back(title);
      return std::optional<std::u16string>();
    });
    dialog->SetCookieFilePickerHook([this](std::u16string_view) { return cookieFile; });
  }
  QWidget* Control(const QString& name) const { return dialog->findChild<QWidget*>(name); }
  QString Text(int id) const {
    return qobject_cast<QAbstractButton*>(Control(ControlObjectName(id)))->text();
  }
  QString Shown(int row, int column) const {
    return dialog->TableModel().index(row, column).data().toString();
  }
  void MenuCommand(const char* action) {
    std::unique_ptr<QMenu> menu(dialog->CreateContextMenu());
    menu->findChild<QAction*>(QString::fromLatin1(action))->trigger();
  }
  // Runs the window thread's queue once everything posted before has arrived.
  static void Settle() {
    PumpUntil([] { return false; }, 50ms);
  }

  std::unique_ptr<CpageLoomDlg> dialog;
  Messages messages;
  Messages pickerTitles;
  std::optional<std::u16string> cookieFile;
};

TEST(LanguageChoice, TheVariableDecidesThenTheUsersFirstLanguage) {
  EXPECT_EQ(ChooseLanguage("zh", {"en-US"}), UiLanguage::kChinese);
  EXPECT_EQ(ChooseLanguage("en", {"zh-CN"}), UiLanguage::kEnglish);
  EXPECT_EQ(ChooseLanguage(nullptr, {"zh-TW", "en"}), UiLanguage::kChinese);
  EXPECT_EQ(ChooseLanguage(nullptr, {"de-DE", "zh-CN"}), UiLanguage::kEnglish);
  EXPECT_EQ(ChooseLanguage(nullptr, {}), UiLanguage::kEnglish);
  EXPECT_EQ(ChooseLanguage("fr", {"zh-CN"}), UiLanguage::kChinese)
      << "an unknown value leaves it to the locale";
}

TEST_F(DesktopTest, EnglishTranslatesEveryTextButPageNamesAndChineseComesBackAtOnce) {
  // A folder name is never translated.
  dialog->Publish(TaskAdded{0, u"/home/u/comic/已完成/", MakeSnapshot(TaskStatus::kFinished)});
  dialog->Publish(TaskAdded{1, u"", MakeSnapshot(TaskStatus::kIncomplete, 0, 0, 3)});
  TaskSnapshot banned = MakeSnapshot(TaskStatus::kBanned);
  banned.banMinutes = 42;
  dialog->Publish(TaskAdded{2, u"", banned});
  {
    LanguageScope english(UiLanguage::kEnglish);
    ASSERT_TRUE(english.CatalogueLoaded());
    Settle();
    EXPECT_EQ(Text(kIdAdd), QStringLiteral("Add"));
    EXPECT_EQ(Text(kIdDelete), QStringLiteral("Delete"));
    EXPECT_EQ(Text(kIdFollowNext), QStringLiteral("Also download the later chapters (DMZJ only)"));
    EXPECT_EQ(qobject_cast<QLabel*>(Control(QStringLiteral("labelSaveFolder")))->text(),
              QStringLiteral("Save to"));
    EXPECT_EQ(dialog->TableModel().headerData(1, Qt::Horizontal).toString(),
              QStringLiteral("Name"));
    EXPECT_EQ(Shown(0, 1), QStringLiteral("/home/u/comic/已完成/"));
    EXPECT_EQ(Shown(0, 3), QStringLiteral("Done"));
    EXPECT_EQ(Shown(1, 3), QStringLiteral("3 missing"));
    EXPECT_EQ(Shown(2, 3), QStringLiteral("banned, retry in 42 min"));
    EXPECT_EQ(dialog->GetItemText(0, 3), u"已完成") << "the logic reads what it wrote";
    // Longer texts push the second option along instead of covering it.
    EXPECT_GT(Control(ControlObjectName(kIdFollowNext))->x(),
              Control(ControlObjectName(kIdAutoRename))->geometry().right());

    dialog->ShowMessage(Message{MessageKind::kEnterAddress, {}});
    // A path in a message is shown as it is.
    dialog->ShowMessage(Message{MessageKind::kQueueSetAside, {u"<b>not a known text</b>"}});
    dialog->ShowMessage(Message{MessageKind::kBanned, {u"1"}});
    // Why a folder was not packed travels as a value and is worded here.
    const PackResult refused{
        PackStatus::kRefused, "/c/T.cbz", PackRefusal::kPicturesMissing, 2, {}};
    dialog->ShowMessage(PackFailedMessage(refused));
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_EQ(messages[3], u"2 missing: /c/T.cbz");
    EXPECT_EQ(messages[0], u"Please enter an address.");
    EXPECT_EQ(messages[1].substr(messages[1].size() - 23), u"<b>not a known text</b>");
    EXPECT_EQ(messages[1].find(u"任务"), std::u16string::npos);
    EXPECT_EQ(messages[2], u"banned, retry in 1 min");
    EXPECT_FALSE(dialog->PickFolder(Message{MessageKind::kPickSaveFolder, {}}).has_value());
    EXPECT_EQ(pickerTitles, Messages{u"Choose the folder to download comics into:"});
    std::unique_ptr<QMenu> menu(dialog->CreateContextMenu());
    EXPECT_EQ(menu->actions().back()->text(), QStringLiteral("&About pageLoom..."));
    EXPECT_EQ(CAboutDlg().windowTitle(), QStringLiteral("About pageLoom"));
  }
  Settle();
  EXPECT_EQ(Text(kIdAdd), QStringLiteral("添加"));
  EXPECT_EQ(Shown(0, 3), QStringLiteral("已完成"));
  EXPECT_EQ(Shown(1, 3), QStringLiteral("未完成，缺3张"));
  EXPECT_EQ(dialog->TableModel().headerData(1, Qt::Horizontal).toString(), QStringLiteral("名称"));
  dialog->ShowMessage(
      PackFailedMessage(PackResult{PackStatus::kBusy, "/c/T.cbz", PackRefusal::kBusy, 0, {}}));
  EXPECT_EQ(messages.back(), u"另一个程序正在打包该文件夹：/c/T.cbz");
}

TEST_F(DesktopTest, WindowGrowsFromItsDialogUnitSizeAndTheNameColumnTakesTheWidth) {
  const DialogUnits units(dialog->font());
  const QSize smallest = units.Size(425, 262);
  EXPECT_EQ(dialog->minimumSize(), smallest);
  EXPECT_TRUE(dialog->windowFlags() & Qt::WindowMaximizeButtonHint);
  dialog->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
  QTableView* table = dialog->TaskTable();
  QHeaderView* header = table->horizontalHeader();

  dialog->resize(smallest + QSize(300, 150));
  ASSERT_TRUE(PumpUntil([&] { return dialog->size() == smallest + QSize(300, 150); }));
  EXPECT_EQ(table->geometry(), units.Rect(71, 82, 324, 124).adjusted(0, 0, 300, 150));
  EXPECT_EQ(Control(ControlObjectName(kIdAddress))->geometry(),
            units.Rect(71, 22, 260, 14).adjusted(0, 0, 300, 0));
  EXPECT_EQ(Control(ControlObjectName(kIdAdd))->geometry(),
            units.Rect(345, 21, 50, 16).translated(300, 0));
  EXPECT_EQ(Control(ControlObjectName(kIdDelete))->geometry(),
            units.Rect(263, 214, 50, 14).translated(0, 150));
  EXPECT_EQ(Control(ControlObjectName(kIdAutoRename))->x(), units.X(70));
  EXPECT_EQ(header->sectionSize(1), 700);
  EXPECT_EQ(header->sectionSize(3), 50);

  // Never smaller than the dialog-unit size; the name column gives back what it took.
  dialog->resize(smallest - QSize(100, 100));
  ASSERT_TRUE(PumpUntil([&] { return dialog->size() == smallest; }));
  EXPECT_EQ(table->geometry(), units.Rect(71, 82, 324, 124));
  EXPECT_EQ(header->sectionSize(1), 400);
}

TEST_F(DesktopTest, CookiesAreImportedAndClearedFromTheMenuAndKeptInTheDataFolder) {
  TestServer server;
  server.Serve("/page", "ok");
  TempDir dir;
  ControllerSettings settings;
  settings.dataFolder = dir.Path() / "data";
  Make(settings);
  WriteFileBytes(dir.Path() / "export.txt",
                 "# Netscape HTTP Cookie File\n"
                 "127.0.0.1\tFALSE\t/\tFALSE\t4102444800\tipb_member_id\t42\n"
                 "#HttpOnly_127.0.0.1\tFALSE\t/\tFALSE\t0\tipb_pass_hash\tabc\n"
                 "not a cookie\n"
                 "127.0.0.1\tFALSE\t/\tFALSE\t1\told\t1\n"
                 "127.0.0.1\tFALSE\t/\n");
  const auto sentCookies = [&] {
    auto page = std::make_unique<PageBuffer>();
    EXPECT_EQ(FetchPage(dialog->Controller().InternetSession(), server.WideUrl("/page"), *page), 1);
    return server.LastHeader("Cookie");
  };

  MenuCommand("importCookiesAction");  // the picker cancelled: nothing happens
  EXPECT_TRUE(messages.empty());
  cookieFile = dir.Wide("export.txt");
  MenuCommand("importCookiesAction");  // read beside the window, which says the result
  ASSERT_TRUE(PumpUntil([&] { return !messages.empty(); }));
  EXPECT_EQ(messages, Messages{u"已导入 2 条Cookies，跳过 3 行。"});
  const std::string sent = sentCookies();
  EXPECT_NE(sent.find("ipb_member_id=42"), std::string::npos) << sent;
  EXPECT_NE(sent.find("ipb_pass_hash=abc"), std::string::npos) << sent;

  cookieFile = dir.Wide("missing.txt");
  MenuCommand("importCookiesAction");
  ASSERT_TRUE(PumpUntil([&] { return messages.size() == 2; }));
  EXPECT_EQ(messages.back(), u"无法读取Cookies文件：" + dir.Wide("missing.txt"));

  MenuCommand("clearCookiesAction");
  EXPECT_EQ(messages.back(), u"Cookies已清除");
  EXPECT_EQ(sentCookies(), "");
  EXPECT_EQ(ReadFileBytes(settings.dataFolder / "cookies.txt").find("ipb_"), std::string::npos);
}

TEST_F(DesktopTest, PictureBytesShowBesideTheProgressUntilTheNextRowWrite) {
  dialog->Publish(TaskAdded{7, u"", MakeSnapshot(TaskStatus::kDownloading, 3, 10)});
  std::thread([&] {
    dialog->PostPictureProgress(7, 100, 1000);
    dialog->PostPictureProgress(7, 450, 1000);
    dialog->PostPictureProgress(99, 1, 2);  // no such task
  }).join();
  EXPECT_TRUE(PumpUntil([&] { return Shown(0, 2) == QStringLiteral("3/10 (45%)"); }));
  EXPECT_EQ(dialog->GetItemText(0, 2), u"3/10");

  // Bytes posted after a row write show after it, however the posts fall.
  std::thread([&] {
    dialog->PostPictureProgress(7, 999, 1000);
    dialog->Publish(TaskChanged{7, MakeSnapshot(TaskStatus::kDownloading, 4, 10)});
    dialog->PostPictureProgress(7, 1258291, -1);
  }).join();
  EXPECT_TRUE(PumpUntil([&] { return Shown(0, 2) == QStringLiteral("4/10 (1.2 MB)"); }));
  Settle();
  EXPECT_EQ(Shown(0, 2), QStringLiteral("4/10 (1.2 MB)"));

  std::thread([&] {
    dialog->Publish(TaskChanged{7, MakeSnapshot(TaskStatus::kFinished, 4, 10)});
  }).join();
  EXPECT_TRUE(PumpUntil([&] { return Shown(0, 2) == QStringLiteral("4/10"); }));
  // A text too wide for its column widens it; the name column gives the width.
  dialog->PostPictureProgress(7, 123456789, -1);
  EXPECT_TRUE(PumpUntil([&] { return Shown(0, 2) == QStringLiteral("4/10 (117.7 MB)"); }));
  QHeaderView* header = dialog->TaskTable()->horizontalHeader();
  EXPECT_GE(header->sectionSize(2),
            QFontMetrics(dialog->TaskTable()->font()).horizontalAdvance(Shown(0, 2)));
  EXPECT_EQ(header->sectionSize(1) + header->sectionSize(2), 460);
}

TEST_F(DesktopTest, TheStatusTooltipNamesTheMissingPicturesWithTheirReasons) {
  TaskSnapshot snapshot = MakeSnapshot(TaskStatus::kIncomplete, 3, 3, 2);
  snapshot.missing[1].reason = FailureReason{FailureKind::kTimedOut, 0};
  dialog->Publish(TaskAdded{0, u"/save/t/", snapshot});
  TaskSnapshot stalled = MakeSnapshot(TaskStatus::kIncomplete, 1, 1);
  stalled.lastError = FailureReason{FailureKind::kHttpStatus, 503};
  dialog->Publish(TaskAdded{1, u"/save/u/", stalled});
  const auto tip = [&](int row) {
    return dialog->TableModel().index(row, 3).data(Qt::ToolTipRole).toString();
  };
  EXPECT_TRUE(tip(0).contains(QStringLiteral("1.jpg: HTTP 404"))) << tip(0).toStdString();
  EXPECT_TRUE(tip(0).contains(QStringLiteral("2.jpg: 超时"))) << tip(0).toStdString();
  EXPECT_TRUE(tip(1).contains(QStringLiteral("HTTP 503"))) << tip(1).toStdString();
  // A row that appears with a long status widens its column at once.
  const QFontMetrics metrics(dialog->TaskTable()->font());
  EXPECT_GE(dialog->TaskTable()->horizontalHeader()->sectionSize(3),
            metrics.horizontalAdvance(Shown(0, 3)));
  LanguageScope english(UiLanguage::kEnglish);
  Settle();
  EXPECT_TRUE(tip(0).contains(QStringLiteral("2.jpg: timed out"))) << tip(0).toStdString();
  EXPECT_EQ(Shown(0, 3), QStringLiteral("2 missing"));
}

TEST_F(DesktopTest, TheTraySaysWhenTasksEndAndWhenTheQueueIsDone) {
  EXPECT_EQ(dialog->Tray().Icon(), nullptr) << "the offscreen desktop has no tray";
  QStringList said;
  dialog->Tray().SetMessageHook([&](const QString&, const QString& text) { said << text; });
  dialog->Publish(TaskAdded{0, u"", MakeSnapshot(TaskStatus::kDownloading)});
  for (int no : {1, 2}) dialog->Publish(TaskAdded{no, u"", MakeSnapshot(TaskStatus::kPreparing)});
  std::thread([&] {
    dialog->Publish(TaskChanged{0, MakeSnapshot(TaskStatus::kFinished, 2, 2)});
    // Seen again by a later walk: said once.
    dialog->Publish(TaskChanged{0, MakeSnapshot(TaskStatus::kFinished, 2, 2)});
    dialog->Publish(TaskChanged{1, MakeSnapshot(TaskStatus::kIncomplete, 1, 3, 2)});
    dialog->Publish(TaskChanged{2, MakeSnapshot(TaskStatus::kPaused, 0, 4)});
    dialog->Publish(RunEnded{3, 1, 1});
    dialog->Publish(RunEnded{3, 1, 1});  // nothing ended since the queue was said done
  }).join();
  Settle();
  EXPECT_EQ(said, (QStringList{QStringLiteral("任务 0 已完成"),
                               QStringLiteral("任务 1 已结束，缺 2 张图片"),
                               QStringLiteral("下载队列已结束，2 个任务未完成")}));
}

// Counts the opens and reads of a file from now on.
class FileWatch {
 public:
  explicit FileWatch(const std::filesystem::path& file)
      : m_fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    EXPECT_GE(inotify_add_watch(m_fd, file.c_str(), IN_OPEN | IN_ACCESS), 0);
  }
  ~FileWatch() { ::close(m_fd); }
  bool Touched() const {
    char events[4096];
    return ::read(m_fd, events, sizeof events) > 0;
  }

 private:
  int m_fd;
};

TEST_F(DesktopTest, MarkupInPageTextIsShownNeverInterpreted) {
  TempDir dir;
  WriteFileBytes(dir.Path() / "picture.png", DistinctBytes("\x89PNG", "picture"));
  const QString markup =
      QStringLiteral("<img src=\"%1\">").arg(QString::fromStdU16String(dir.Wide("picture.png")));
  const FileWatch watch(dir.Path() / "picture.png");

  dialog->Publish(TaskAdded{0, markup.toStdU16String(), MakeSnapshot(TaskStatus::kPreparing)});
  dialog->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
  QTableView* table = dialog->TaskTable();
  const QRect cell = table->visualRect(dialog->TableModel().index(0, 1));
  QHelpEvent hover(QEvent::ToolTip, cell.center(), table->viewport()->mapToGlobal(cell.center()));
  QApplication::sendEvent(table->viewport(), &hover);
  EXPECT_TRUE(PumpUntil([] { return QToolTip::isVisible(); }));
  EXPECT_TRUE(QToolTip::text().contains(QStringLiteral("&lt;img")))
      << QToolTip::text().toStdString();
  QToolTip::hideText();

  // The real message box, not the test's.
  test::WindowWithEngine real;
  Qt::TextFormat format = Qt::AutoText;
  WhenReady close(
      [] { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()) != nullptr; },
      [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        format = box->textFormat();
        box->close();
      });
  real.ShowMessage(Message{MessageKind::kQueueSetAside, {markup.toStdU16String()}});
  EXPECT_EQ(format, Qt::PlainText);
  EXPECT_FALSE(watch.Touched()) << "a file named in page text was opened";
}

TEST(StopSignalTest, SigtermDismissesTheOpenMessageThenClosesTheWindowAndLeavesNoHandler) {
  ::setenv(CpageLoomApp::kShowNormalVariable, "1", 1);
  bool boxSeen = false;
  std::unique_ptr<WhenReady> boxWatch;
  const auto findDialog = []() -> CpageLoomDlg* {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* dialog = qobject_cast<CpageLoomDlg*>(widget);
      if (dialog != nullptr && dialog->isVisible()) return dialog;
    }
    return nullptr;
  };
  WhenReady dialogWatch(
      [&] { return findDialog() != nullptr; },
      [&] {
        CpageLoomDlg* dialog = findDialog();
        boxWatch = std::make_unique<WhenReady>(
            [] { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()) != nullptr; },
            [&] {
              boxSeen = true;
              ::raise(SIGTERM);
              // Should the signal be lost, the test still ends.
              QTimer::singleShot(5000, [&] {
                if (findDialog() == nullptr) return;
                ADD_FAILURE() << "SIGTERM left the window open";
                if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
                findDialog()->close();
              });
            });
        // Returns once the box is gone.
        dialog->ShowMessage(Message{MessageKind::kEnterAddress, {}});
      });
  EXPECT_EQ(CpageLoomApp::RunMainDialog(), 0);
  ::unsetenv(CpageLoomApp::kShowNormalVariable);
  EXPECT_TRUE(boxSeen);
  struct sigaction now {};
  ASSERT_EQ(sigaction(SIGTERM, nullptr, &now), 0);
  EXPECT_EQ(now.sa_handler, SIG_DFL);
}

TEST_F(CommandWindowTest, DroppedAddressesAreAddedOneTaskEachInOrder) {
  for (const char* name : {"d1", "d2", "d3", "d4"})
    eh.AddGallery(name, Gallery(std::string("Dropped ") + name, name, 1));
  const auto url = [&](const char* name) {
    return QUrl(QString::fromStdString(eh.Url(EhSite::GalleryPath(name, false))));
  };
  const auto drop = [&](QMimeData& mime) {
    const QPoint where = Table()->geometry().center();
    QDragEnterEvent enter(where, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(dialog.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent dropped(where, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(dialog.get(), &dropped);
    WaitForAdds();
  };
  QMimeData links;
  links.setUrls({url("d1"), QUrl(QString::fromStdString(server.Url("/other/1"))), url("d2")});
  drop(links);
  QMimeData text;
  text.setText(url("d3").toString() + QStringLiteral("\n\n  ") + url("d4").toString() +
               QStringLiteral("\r\n"));
  drop(text);

  ASSERT_EQ(Rows(), 4);
  for (int row = 0; row < 4; ++row)
    EXPECT_EQ(Cell(row, 1), Folder("Dropped d" + std::to_string(row + 1))) << row;
  EXPECT_EQ(messages, Messages{u"暂时不支持该网站漫画下载"}) << "said once for the drop";
}

TEST_F(CommandWindowTest, PastedLinesAreAddedEveryOneByAdd) {
  eh.AddGallery("p1", Gallery("Pasted One", "p1", 1));
  eh.AddGallery("p2", Gallery("Pasted Two", "p2", 1));
  QGuiApplication::clipboard()->setText(
      QString::fromStdU16String(EhAddress("p1") + u"\n" + EhAddress("p2") + u"\r\n"));
  Box(kIdAddress)->setFocus();
  QTest::keySequence(Box(kIdAddress), QKeySequence::Paste);
  Click(kIdAdd);
  WaitForAdds();
  ASSERT_EQ(Rows(), 2);
  EXPECT_EQ(Cell(0, 1), Folder("Pasted One"));
  EXPECT_EQ(Cell(1, 1), Folder("Pasted Two"));
  EXPECT_TRUE(messages.empty());
  EXPECT_TRUE(Box(kIdAddress)->text().isEmpty());
}

}  // namespace
}  // namespace pageloom::test
