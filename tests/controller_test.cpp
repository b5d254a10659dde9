// The task table, the folder of a new task and the commands, against the fake window.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>

#include <gtest/gtest.h>

#include "app/task_controller.h"
#include "base/fixed_text.h"
#include "engine/safe_names.h"
#include "engine/task_folder.h"
#include "sites/sites.h"
#include "support/dmzj_site.h"
#include "support/fake_window.h"
#include "support/scripted_comic.h"
#include "support/test_server.h"
#include "support/test_settings.h"

namespace pageloom::test {
namespace {

using namespace std::chrono_literals;

class ControllerTest : public ::testing::Test {
 protected:
  std::shared_ptr<ScriptedComic> Register(int kind,
                                          ScriptedComic::Script script = ScriptedComic::Pictures(1),
                                          std::u16string folder = u"/save/t/") {
    auto task = std::make_shared<ScriptedComic>(kind, m_next, &m_log, std::move(script));
    EXPECT_EQ(m_controller->Tasks().Register(task, folder), m_next);
    ++m_next;
    return task;
  }

  std::u16string FolderFor(const std::u16string& box, std::string& title) {
    m_window.SetSaveFolderText(box);
    char16_t output[kPathCapacity];
    std::vector<char> text(title.begin(), title.end());
    text.push_back(0);
    const char16_t* result = MakeTaskFolderPath(output, text.data(), m_window.SaveFolderText());
    EXPECT_EQ(result, output);
    title = text.data();
    return std::u16string(WideView(output, kPathCapacity));
  }

  FakeWindow m_window;
  StepLog m_log;
  std::unique_ptr<TaskController> m_controller = std::make_unique<TaskController>(m_window);
  int m_next = 0;
};

TEST_F(ControllerTest, TasksAreNumberedRemovedAndRenumbered) {
  auto t0 = Register(SITE_EH);
  auto t1 = Register(SITE_DMZJ);
  auto t2 = Register(SITE_EH);
  EXPECT_EQ(t0->GetRow(), 0);
  EXPECT_EQ(t1->GetRow(), 1);
  EXPECT_EQ(t2->GetRow(), 2);
  ASSERT_EQ(m_window.RowCount(), 3);
  EXPECT_EQ(m_window.RowAt(1)[0], u"1");

  m_controller->Tasks().Remove(1);
  m_controller->Tasks().RenumberRows();
  EXPECT_EQ(m_controller->Tasks().Numbers(), (std::vector<int>{0, 2}));
  EXPECT_EQ(m_controller->Tasks().Find(1), nullptr);
  EXPECT_EQ(t2->GetRow(), 1);
  ASSERT_EQ(m_window.RowCount(), 2);
  EXPECT_EQ(m_window.RowAt(0)[0], u"0");
  EXPECT_EQ(m_window.RowAt(1)[0], u"2");

  auto t3 = Register(SITE_EH);  // numbers are never reused
  EXPECT_EQ(t3->GetRow(), 2);
  EXPECT_EQ(m_window.RowAt(2)[0], u"3");
  m_window.Publish(TaskChanged{3, MakeSnapshot(TaskStatus::kDownloading, 7, 9)});
  EXPECT_EQ(m_window.RowAt(2)[2], u"7/9");
}

TEST_F(ControllerTest, NewRowShowsFolderProgressAndStatus) {
  Register(SITE_EH, ScriptedComic::Pictures(1), u"/save/Abc/");
  auto dmzj = std::make_shared<ScriptedComic>(SITE_DMZJ, 1, nullptr, ScriptedComic::Pictures(1));
  dmzj->SetPictureCount(12);
  m_controller->Tasks().Register(dmzj, u"/save/c/ch/");
  EXPECT_EQ(m_window.RowAt(0), (FakeWindow::Row{u"0", u"/save/Abc/", u"0/0", u"准备中"}));
  EXPECT_EQ(m_window.RowAt(1), (FakeWindow::Row{u"1", u"/save/c/ch/", u"0/12", u"准备中"}));
}

TEST_F(ControllerTest, RemovedTaskLivesWhileHeldAndTasksGoWithTheController) {
  auto held = Register(SITE_EH);
  std::weak_ptr<ScriptedComic> other = Register(SITE_DMZJ);
  m_controller->Tasks().Remove(0);
  EXPECT_EQ(held.use_count(), 1);  // only this test holds it now
  EXPECT_FALSE(other.expired());
  m_controller.reset();
  EXPECT_TRUE(other.expired());
}

TEST_F(ControllerTest, FolderPathJoinsBoxAndTitle) {
  const std::u16string box = FromUtf8(::testing::TempDir() + "comic");
  std::string title = "Abc Page 3";
  EXPECT_EQ(FolderFor(box, title), box + u"/Abc/");
  EXPECT_EQ(title, "Abc");  // cut in place
  title = "Abc";
  EXPECT_EQ(FolderFor(box, title), box + u"/Abc/");
  title = "Abc";
  EXPECT_EQ(FolderFor(box + u"/", title), box + u"//Abc/");
  title = "";
  EXPECT_EQ(FolderFor(box, title), box + u"//");
  title = "A Pages Page 2 Page 3";  // the first " Page" ends it, case-sensitive
  EXPECT_EQ(FolderFor(box, title), box + u"/A/");
  title = "A page 2";
  EXPECT_EQ(FolderFor(box, title), box + u"/A page 2/");
  title = "\xe6\xbc\xab\xe7\x94\xbb \xf0\x9f\x98\x80";  // 漫画 and a character beyond the BMP
  EXPECT_EQ(FolderFor(box, title), box + u"/漫画 \U0001F600/");
  title = "comic\\chapter 2";  // the DMZJ adapter's comic\chapter nests
  EXPECT_EQ(FolderFor(box, title), box + u"/comic/chapter 2/");
}

TEST_F(ControllerTest, FolderPathStaysInsideTheSaveFolder) {
  const std::u16string box = u"/home/u/comic";
  std::string title = "..";
  EXPECT_EQ(FolderFor(box, title), u"/home/u/comic/_/");
  title = "../../etc";  // a '/' of a title is a character of its one folder's name
  EXPECT_EQ(FolderFor(box, title), u"/home/u/comic/.._.._etc/");
  title = "a\\..\\..\\b";
  EXPECT_EQ(FolderFor(box, title), u"/home/u/comic/a/_/_/b/");
  title = ".";
  EXPECT_EQ(FolderFor(box, title), u"/home/u/comic/_/");
  title = "x\\.\\y\\...";
  EXPECT_EQ(FolderFor(box, title), u"/home/u/comic/x/_/y/.../");
  title = "Fate/Grand Order";
  EXPECT_EQ(FolderFor(box, title), u"/home/u/comic/Fate_Grand Order/");
  title = "..hidden..\\ ..";
  EXPECT_EQ(FolderFor(box, title), u"/home/u/comic/..hidden../ ../");
}

TEST_F(ControllerTest, OverlongFolderPathLosesTheEndOfItsTitle) {
  // A cut title leaves room for the names of the pictures after it.
  constexpr std::size_t kRoom = kPathCapacity - 1 - kPictureNameRoom;
  const std::u16string box = u"/box";
  std::string title(400, 'x');
  std::u16string path = FolderFor(box, title);
  EXPECT_EQ(path.size(), kRoom);
  EXPECT_EQ(path.substr(0, 5), u"/box/");
  EXPECT_EQ(path.back(), u'/');
  EXPECT_EQ(path[path.size() - 2], u'x');

  // Exactly fitting: no cut.
  title = std::string(kRoom - 6, 'y');
  path = FolderFor(box, title);
  EXPECT_EQ(path, u"/box/" + std::u16string(kRoom - 6, u'y') + u"/");

  // A pair at the cut goes whole.
  title = std::string(kRoom - 6 - 1, 'z') + "\xf0\x9f\x98\x80" + "tail";
  path = FolderFor(box, title);
  EXPECT_EQ(path, u"/box/" + std::u16string(kRoom - 6 - 1, u'z') + u"/");

  // A nested title gives way in its comic part: the chapter folder stays whole.
  const std::u16string deepBox = u"/" + std::u16string(100, u'b');
  title = std::string(200, 'c') + "\\chapter 7";
  path = FolderFor(deepBox, title);
  EXPECT_EQ(path, deepBox + u"/" + std::u16string(146 - kPictureNameRoom, u'c') + u"/chapter 7/");

  // The cut may leave ".." behind: it is confined too.
  const std::u16string longBox(kRoom - 2 - 4, u'b');
  title = "a\\..zzz";
  EXPECT_EQ(FolderFor(longBox, title), longBox + u"/a/_/");

  // A box too long for any title keeps room for both separators.
  const std::u16string fullBox(kPathCapacity - 1, u'c');
  title = "t";
  path = FolderFor(fullBox, title);
  EXPECT_EQ(path, std::u16string(kPathCapacity - 3, u'c') + u"//");
}

TEST_F(ControllerTest, DeleteWithoutSelectionSaysSo) {
  Register(SITE_EH);
  m_controller->Delete(m_window.SelectedTasks());
  EXPECT_EQ(m_window.Messages(), (std::vector<std::u16string>{u"请选择至少一行数据"}));
  EXPECT_EQ(m_window.RowCount(), 1);
}

TEST_F(ControllerTest, DeleteWithoutWorkersRemovesEverySelectedRow) {
  for (int state :
       {STATE_PREPARING, STATE_DOWNLOADING, STATE_PAUSED, STATE_FINISHED, STATE_PREPARING})
    Register(SITE_EH)->SetState(state);
  m_window.Select({0, 1, 2, 3});
  m_controller->Delete(m_window.SelectedTasks());
  EXPECT_TRUE(m_window.Messages().empty());
  EXPECT_EQ(m_controller->Tasks().Numbers(), std::vector<int>{4});
  ASSERT_EQ(m_window.RowCount(), 1);
  EXPECT_EQ(m_window.RowAt(0)[0], u"4");
  EXPECT_EQ(m_controller->Tasks().Find(4)->GetRow(), 0);  // renumbered
}

TEST_F(ControllerTest, DeleteOfARowWithoutItsTaskRemovesOnlyTheRow) {
  Register(SITE_EH);
  Register(SITE_EH);
  // A row of a task the controller does not have (any more).
  m_window.Publish(TaskAdded{7, u"/save/gone/", MakeSnapshot(TaskStatus::kFinished)});
  m_window.Select({2});
  m_controller->Delete(m_window.SelectedTasks());
  EXPECT_EQ(m_controller->Tasks().Numbers(), (std::vector<int>{0, 1}));
  EXPECT_EQ(m_window.RowCount(), 2);
}

TEST_F(ControllerTest, DeleteWhileAWorkerRunsKeepsTasksInTheirDownload) {
  Latch inStep, release;
  Register(SITE_EH, [&](ScriptedComic& task) {
    task.SetState(STATE_DOWNLOADING);
    inStep.Open();
    release.Wait();
    task.SetState(STATE_FINISHED);
    return 0;
  });
  // Numbers 1..4, whose steps leave their state as it is.
  for (int state : {STATE_PREPARING, STATE_DOWNLOADING, STATE_PAUSED, STATE_FINISHED})
    Register(SITE_DMZJ, [](ScriptedComic&) { return 0; })->SetState(state);
  m_controller->Start();
  ASSERT_TRUE(inStep.Wait());
  // Let the DMZJ worker end: the EH one alone keeps "a worker runs" true.
  ASSERT_TRUE(WaitUntil([&] { return !m_controller->Workers().Running(SITE_DMZJ); }));
  ASSERT_TRUE(m_controller->Workers().Running(SITE_EH));

  m_window.Select({0, 1, 2, 3, 4});
  m_controller->Delete(m_window.SelectedTasks());
  std::vector<int> kept = m_controller->Tasks().Numbers();
  EXPECT_EQ(kept, (std::vector<int>{0, 2, 3}));
  EXPECT_EQ(m_window.SelectedRows(), (std::vector<int>{0, 1, 2}));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(m_controller->Tasks().Find(kept[i])->GetRow(), i);
  EXPECT_TRUE(m_window.Messages().empty());
  release.Open();
  m_controller.reset();  // joins the worker before the latches go
}

TEST_F(ControllerTest, DeleteBeforeStartCountsNoWorker) {
  Register(SITE_EH)->SetState(STATE_DOWNLOADING);
  EXPECT_FALSE(m_controller->Workers().Running(SITE_EH));
  EXPECT_FALSE(m_controller->Workers().Running(SITE_DMZJ));
  m_window.Select({0});
  m_controller->Delete(m_window.SelectedTasks());
  EXPECT_EQ(m_window.RowCount(), 0);
}

TEST_F(ControllerTest, AddWithAnEmptyBoxOrAnUnknownSite) {
  m_controller->AddAddresses(m_window.AddressText(), m_window.Options());
  EXPECT_EQ(m_window.Messages(), (std::vector<std::u16string>{u"请输入网址"}));

  m_window.SetAddressText(u"http://127.0.0.1:1/gallery/1");
  m_controller->AddAddresses(m_window.AddressText(), m_window.Options());
  EXPECT_EQ(m_window.Messages().back(), u"暂时不支持该网站漫画下载");
  EXPECT_EQ(m_window.RowCount(), 0);
}

TEST_F(ControllerTest, AddHandsKnownSitesToTheirAdapters) {
  m_controller = std::make_unique<TaskController>(
      m_window, TestSettings(SiteNames{u"eh.invalid", u"lofi.", u"dmzj.invalid",
                                       "http://127.0.0.1:1", u"http://127.0.0.1:1/"}));
  // Port 1 refuses at once: the adapters fail quietly or with their own messages,
  // never with the command's "unsupported" message.
  for (const char16_t* address :
       {u"http://127.0.0.1:1/dmzj.invalid/1/2.shtml", u"http://127.0.0.1:1/eh.invalid/g/1/",
        u"http://127.0.0.1:1/dmzj.invalid/eh.invalid/"}) {
    m_window.SetAddressText(address);
    m_controller->AddAddresses(m_window.AddressText(), m_window.Options());
  }
  ASSERT_TRUE(WaitForAdds(m_controller->Adding(), 10s));
  for (const auto& message : m_window.Messages()) EXPECT_NE(message, u"暂时不支持该网站漫画下载");
  // An address longer than the buffer is cut, not overrun.
  m_window.SetAddressText(std::u16string(5000, u'a'));
  m_controller->AddAddresses(m_window.AddressText(), m_window.Options());
  EXPECT_EQ(m_window.Messages().back(), u"暂时不支持该网站漫画下载");
}

TEST(AddCommand, TriesTheDmzjSiteFirstAndReadsAtMost2047Units) {
  TestServer server;
  DmzjSite site(server);
  TempDir dir;
  FakeWindow window;
  window.SetSaveFolderText(dir.Wide());
  {
    TaskController controller(window, TestSettings(site.Names()));
    site.AddChapter("/c/1.shtml",
                    {"漫画", "第1话", "3", "2.shtml", {"p/1.jpg", "p/2.jpg", "p/3.jpg"}});
    // Both markers: the DMZJ adapter takes it.
    window.SetAddressText(site.Address("/c/1.shtml") + u"?/no-eh-site/");
    controller.AddAddresses(window.AddressText(), window.Options());
    ASSERT_TRUE(WaitForAdds(controller.Adding(), 10s));
    ASSERT_EQ(window.RowCount(), 1);
    EXPECT_EQ(window.RowAt(0)[2], u"0/3");
    EXPECT_EQ(controller.Tasks().Find(0)->GetSiteKind(), SITE_DMZJ);
    EXPECT_EQ(site.Hits("/c/1.shtml"), 1);

    // The marker in the last of 2047 units is seen; one unit further it is cut off.
    const std::u16string head = u"http://127.0.0.1:1/";
    const std::u16string marker = u"/dmzj/";
    const std::u16string fits =
        head + std::u16string(2047 - head.size() - marker.size(), u'a') + marker;
    window.SetAddressText(fits);
    controller.AddAddresses(window.AddressText(), window.Options());
    ASSERT_TRUE(WaitForAdds(controller.Adding(), 10s));
    EXPECT_TRUE(window.Messages().empty());
    window.SetAddressText(head + u"a" + fits.substr(head.size()));
    controller.AddAddresses(window.AddressText(), window.Options());
    EXPECT_EQ(window.Messages(), (std::vector<std::u16string>{u"暂时不支持该网站漫画下载"}));
    EXPECT_EQ(window.RowCount(), 1);
  }
}

TEST(AddCommand, QueuedAddressesKeepTheirOrderAndClosingEndsOnlyItsOwnController) {
  TestServer server;
  DmzjSite site(server);
  TempDir dir;
  site.AddChapter("/c/2.shtml", {"漫画", "第2话", "1", "", {"p/2.jpg"}});
  // Chapter 1's page is held until the test lets it go.
  Latch release;
  const std::string held = DmzjSite::ChapterPage({"漫画", "第1话", "1", "", {"p/1.jpg"}});
  server.Handle("/dmzj/c/1.shtml", [&](const httplib::Request&, httplib::Response& res) {
    release.Wait();
    res.set_content(held, "text/html");
  });
  const auto add = [&](TaskController& controller, FakeWindow& window, const std::string& path) {
    window.SetSaveFolderText(dir.Wide());
    window.SetAddressText(site.Address(path));
    controller.AddAddresses(window.AddressText(), window.Options());
  };

  FakeWindow keptWindow;
  TaskController kept(keptWindow, TestSettings(site.Names()));
  add(kept, keptWindow, "/c/1.shtml");
  add(kept, keptWindow, "/c/2.shtml");  // queued behind the held page
  {
    FakeWindow closedWindow;
    TaskController closed(closedWindow, TestSettings(site.Names(), {2, 60}));
    add(closed, closedWindow, "/c/1.shtml");
    ASSERT_TRUE(WaitUntil([&] { return site.Hits("/c/1.shtml") == 2; }));
    // Closing this window ends its own reading at once, with no task made.
    const auto start = std::chrono::steady_clock::now();
    closed.Shutdown();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_EQ(closedWindow.RowCount(), 0);
    EXPECT_FALSE(closed.Adding().Pending());
  }
  // The other window's reading goes on: nothing of it was aborted.
  EXPECT_TRUE(kept.Adding().Pending());
  EXPECT_EQ(keptWindow.RowCount(), 0);
  release.Open();
  ASSERT_TRUE(WaitForAdds(kept.Adding(), 10s));
  ASSERT_EQ(keptWindow.RowCount(), 2);
  EXPECT_EQ(keptWindow.RowAt(0)[1], dir.Wide("漫画/第1话") + u"/");
  EXPECT_EQ(keptWindow.RowAt(1)[1], dir.Wide("漫画/第2话") + u"/");
}

TEST(DefaultSaveFolder, IsComicInTheHomeFolder) {
  const char* old = std::getenv("HOME");
  const std::string saved = old ? old : "";
  setenv("HOME", "/home/reader/", 1);
  EXPECT_EQ(DefaultSaveFolder(), u"/home/reader/comic");
  setenv("HOME", "/home/读者", 1);
  EXPECT_EQ(DefaultSaveFolder(), u"/home/读者/comic");
  if (old)
    setenv("HOME", saved.c_str(), 1);
  else
    unsetenv("HOME");
}

}  // namespace
}  // namespace pageloom::test
