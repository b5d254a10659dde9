// The DMZJ worker with chapters whose scripts never end: closing the window ends the
// evaluation at once, and the worker's script helper goes with the worker.
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "app/task_controller.h"
#include "support/dmzj_site.h"
#include "support/fake_window.h"
#include "support/processes.h"
#include "support/test_server.h"

namespace pageloom::test {
namespace {

using namespace std::chrono_literals;

// A chapter page whose packed script is replaced by `script` (the text behind "eval").
std::string ChapterWithScript(const std::string& script) {
  std::string page = DmzjSite::ChapterPage(DmzjChapterPlan{"漫画", "第1话", "3", "", {"p/1.jpg"}});
  const auto eval = page.find("eval(function");
  const auto end = page.find('\n', eval);
  return page.replace(eval, end - eval, "eval" + script);
}

bool WaitForChildren(std::size_t count) {
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (ChildProcesses().size() != count) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

TEST(ScriptWorkerTest, ClosingEndsAScriptThatNeverEnds) {
  TestServer server;
  DmzjSite site(server);
  TempDir dir;
  FakeWindow window;
  window.SetSaveFolderText(dir.Wide());
  ControllerSettings settings;
  settings.sites = site.Names();
  settings.timeouts = {2, 2};
  auto controller = std::make_unique<TaskController>(window, settings);

  // Calls itself again from its own catch: no engine interruption stops it.
  site.AddPage("/c/1.shtml",
               ChapterWithScript("(function f() { try { f(); } catch (e) { f(); } }())"));
  window.SetAddressText(site.Address("/c/1.shtml"));
  controller->AddAddresses(window.AddressText(), window.Options());
  ASSERT_TRUE(WaitForAdds(controller->Adding(), 10s));
  ASSERT_EQ(window.RowCount(), 1);
  controller->Start();
  ASSERT_TRUE(WaitForChildren(1)) << "the worker's helper evaluates the chapter";
  std::this_thread::sleep_for(100ms);

  const auto start = std::chrono::steady_clock::now();
  controller.reset();  // the window closes
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_TRUE(ChildProcesses().empty());
  EXPECT_EQ(site.PictureHits("p/1.jpg"), 0);
}

}  // namespace
}  // namespace pageloom::test
