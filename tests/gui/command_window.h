// The main window driven the way a user drives it, against the local EH and DMZJ sites:
// addresses typed into the box, buttons and check boxes clicked, rows picked with the
// mouse, the table read through the dialog's model, and the message box and the folder
// picker answered by the test.
#pragma once

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/task_controller.h"
#include "gui/gui_test_support.h"
#include "gui/main_dialog.h"
#include "gui/task_table_model.h"
#include "gui/window_with_engine.h"
#include "net/page_fetch.h"
#include "store/folder_claims.h"
#include "support/dmzj_site.h"
#include "support/eh_site.h"
#include "support/test_server.h"
#include "support/test_settings.h"

namespace pageloom::test {

// A picture the server holds back until the test lets it go, then sends whole. It stands
// for a slow picture whose transfer is in flight.
class HeldPicture {
 public:
  HeldPicture(TestServer& server, const std::string& path, std::string bytes)
      : m_state(std::make_shared<State>()) {
    server.Handle(path, [state = m_state, body = std::move(bytes)](const httplib::Request&,
                                                                   httplib::Response& response) {
      std::unique_lock<std::mutex> lock(state->mutex);
      ++state->arrived;
      state->changed.notify_all();
      state->changed.wait_for(lock, std::chrono::seconds(10), [&] { return state->released; });
      response.set_content(body, "image/jpeg");
    });
  }
  ~HeldPicture() { Release(); }
  HeldPicture(const HeldPicture&) = delete;
  HeldPicture& operator=(const HeldPicture&) = delete;

  void Release() {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->released = true;
    m_state->changed.notify_all();
  }
  int Arrived() const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->arrived;
  }

 private:
  struct State {
    std::mutex mutex;
    std::condition_variable changed;
    int arrived = 0;
    bool released = false;
  };
  std::shared_ptr<State> m_state;
};

// The threads of this process right now, by id.
// The threads of this process that run the program's own code: std::thread keeps the name of
// the thread that made it, while the toolkit names its own (a pool thread may start at any time).
inline std::set<int> ThreadIds() {
  const auto name = [](const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
  };
  const std::string own = name("/proc/self/comm");
  std::set<int> ids;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
    if (name(entry.path() / "comm") == own) ids.insert(std::stoi(entry.path().filename().string()));
  return ids;
}

// Threads running now that were not running at `before` (threads that ended meanwhile,
// such as an idle pool thread of the toolkit, do not count).
inline std::set<int> NewThreads(const std::set<int>& before) {
  std::set<int> added;
  for (const int id : ThreadIds())
    if (before.count(id) == 0) added.insert(id);
  return added;
}

class CommandWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SiteNames names = dmzj.Names();
    EhSite::Apply(names);  // the EH site's markers are laid over the DMZJ site's
    ControllerSettings settings = TestSettings(names);
    settings.threadStarter = [this](std::function<void()> body) {
      return starter ? starter(std::move(body)) : std::thread(std::move(body));
    };
    dialog = std::make_unique<test::WindowWithEngine>(std::move(settings));
    dialog->SetMessageBoxHook([this](std::u16string_view text) { messages.emplace_back(text); });
    dialog->SetFolderPickerHook([this](std::u16string_view title) {
      pickerTitles.emplace_back(title);
      return pickerAnswer;
    });
    Box(kIdSaveFolder)->setText(QString::fromStdU16String(dir.Wide()));
    dialog->show();
    QApplication::setActiveWindow(dialog.get());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
  }
  void TearDown() override {
    dialog.reset();
    held.clear();
  }

  // --- controls ---
  QPushButton* Button(int id) const {
    return dialog->findChild<QPushButton*>(ControlObjectName(id));
  }
  QLineEdit* Box(int id) const { return dialog->findChild<QLineEdit*>(ControlObjectName(id)); }
  QCheckBox* Check(int id) const { return dialog->findChild<QCheckBox*>(ControlObjectName(id)); }
  QTableView* Table() const {
    return dialog->findChild<QTableView*>(ControlObjectName(kIdTaskList));
  }

  void Click(int id) { QTest::mouseClick(Button(id), Qt::LeftButton); }
  void Tick(int id) { QTest::mouseClick(Check(id), Qt::LeftButton); }
  void Type(const std::u16string& text) {
    Box(kIdAddress)->setFocus();
    QTest::keyClicks(Box(kIdAddress), QString::fromStdU16String(text));
  }
  // Types the address, presses Add and waits until its pages are read and its rows in.
  void Add(const std::u16string& address) {
    Type(address);
    Click(kIdAdd);
    WaitForAdds();
  }
  void WaitForAdds() {
    EXPECT_TRUE(PumpUntil([this] { return !dialog->Controller().Adding().Pending(); },
                          std::chrono::seconds(10)));
    // The registrations the add thread posted last.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
  }
  // Clicks the first row, then Ctrl-clicks the others.
  void SelectRows(const std::vector<int>& rows) {
    bool first = true;
    for (const int row : rows) {
      const QRect cell = Table()->visualRect(Table()->model()->index(row, 1));
      QTest::mouseClick(
          Table()->viewport(), Qt::LeftButton,
          first ? Qt::KeyboardModifiers() : Qt::KeyboardModifiers(Qt::ControlModifier),
          cell.center());
      first = false;
    }
  }
  std::vector<int> Selected() const { return dialog->SelectedRows(); }

  // --- the table, through the dialog's model ---
  int Rows() const { return Table()->model()->rowCount(); }
  std::u16string Cell(int row, int column) const {
    return Table()->model()->index(row, column).data().toString().toStdU16String();
  }
  std::vector<std::u16string> Row(int row) const {
    std::vector<std::u16string> texts;
    for (int column = 0; column < TaskTableModel::kColumnCount; ++column)
      texts.push_back(Cell(row, column));
    return texts;
  }
  // Waits until row `row` shows `progress` (empty: any) and `status`.
  bool WaitForRow(int row, const std::u16string& progress, const std::u16string& status,
                  std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    return PumpUntil(
        [&] { return (progress.empty() || Cell(row, 2) == progress) && Cell(row, 3) == status; },
        timeout);
  }
  bool WaitForWorkersToEnd() {
    return PumpUntil([this] { return !Running(SITE_EH) && !Running(SITE_DMZJ); });
  }
  bool Running(int siteKind) { return dialog->Controller().Workers().Running(siteKind); }
  // Runs the window's events for a while: the time in which something must NOT happen.
  static void Idle(std::chrono::milliseconds span) {
    PumpUntil([] { return false; }, span);
  }

  // --- fixture sites ---
  // Chapter `name` of 测试漫画 with `pictures` pictures under "c<n>/".
  DmzjChapterPlan Chapter(const std::string& name, const std::string& next, int pictures) {
    const std::string folder = "c" + std::to_string(m_chapters++) + "/p";
    std::vector<std::string> paths;
    for (int i = 1; i <= pictures; ++i) paths.push_back(folder + std::to_string(i) + ".jpg");
    return DmzjChapterPlan{"测试漫画", name, std::to_string(pictures), next, std::move(paths)};
  }
  static EhGalleryPlan Gallery(const std::string& title, const std::string& name, int pictures) {
    EhGalleryPlan plan{title + " Page 1", false, {}};
    for (int i = 1; i <= pictures; ++i)
      plan.pictures.push_back({"/eh/pic/" + name + "/img" + std::to_string(i) + ".jpg"});
    return plan;
  }
  std::u16string EhAddress(const std::string& name) const {
    return eh.Address(EhSite::GalleryPath(name, false));
  }
  HeldPicture& HoldDmzj(const std::string& picture) {
    held.push_back(std::make_unique<HeldPicture>(server, "/dmzjpic/" + picture,
                                                 DmzjSite::PictureBytes(picture)));
    return *held.back();
  }
  HeldPicture& HoldEh(const std::string& picture) {
    held.push_back(std::make_unique<HeldPicture>(server, picture, EhSite::PictureBytes(picture)));
    return *held.back();
  }

  // --- disk ---
  std::u16string Folder(const std::string& inside) const { return dir.Wide(inside) + u"/"; }
  // Every entry of a task folder, hidden ones included, but the note of its source and
  // the metadata files.
  std::set<std::string> Files(const std::string& inside) const {
    std::set<std::string> names;
    std::error_code error;
    for (const auto& entry :
         std::filesystem::directory_iterator(dir.Path() / std::filesystem::u8path(inside), error))
      if (entry.path().filename() != kFolderSourceFile &&
          entry.path().filename() != "ComicInfo.xml" && entry.path().filename() != "info.json")
        names.insert(entry.path().filename().u8string());
    return names;
  }
  std::string File(const std::string& inside) const {
    return ReadFileBytes(dir.Path() / std::filesystem::u8path(inside));
  }

  TestServer server;
  DmzjSite dmzj{server};
  EhSite eh{server};
  TempDir dir;
  std::list<std::unique_ptr<HeldPicture>> held;
  // How the workers' threads are made, when a test says.
  std::function<std::thread(std::function<void()>)> starter;
  std::unique_ptr<CpageLoomDlg> dialog;

  std::vector<std::u16string> messages;
  std::vector<std::u16string> pickerTitles;
  std::optional<std::u16string> pickerAnswer;

 private:
  int m_chapters = 0;
};

}  // namespace pageloom::test
