// Saves of the lasting queue that fail: a data disk that is full when a task is added, and
// a write lock held by another connection while a gallery downloads. Each time the user is
// told once, and what failed is saved by a later step.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <unistd.h>

#include "app/task_controller.h"
#include "support/eh_site.h"
#include "support/fake_window.h"
#include "support/scripted_comic.h"
#include "support/test_server.h"
#include "support/test_settings.h"

namespace pageloom::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr char16_t kFailing[] = u"任务进度无法保存到任务队列文件，将在下一步重试：";
constexpr char16_t kAgain[] = u"任务进度又能保存到任务队列文件了。";

// The messages shown, cut to their fixed beginning where they go on with a reason.
std::vector<std::u16string> SavingMessages(const FakeWindow& window) {
  std::vector<std::u16string> said;
  for (const std::u16string& message : window.Messages()) {
    if (message.rfind(kFailing, 0) == 0)
      said.push_back(kFailing);
    else
      said.push_back(message);
  }
  return said;
}

class QueueFailuresTest : public ::testing::Test {
 protected:
  QueueFailuresTest() {
    window.SetSaveFolderText(save.Wide());
    EhGalleryPlan plan{"Kept Page 1", false, {}};
    for (int i = 1; i <= 3; ++i)
      plan.pictures.push_back({"/eh/pic/k/" + std::to_string(i) + ".jpg"});
    site.AddGallery("k", plan);
  }
  std::unique_ptr<TaskController> Open(FakeWindow& on, const fs::path& data) {
    ControllerSettings settings = TestSettings(site.Names());
    settings.dataFolder = data;
    return std::make_unique<TaskController>(on, settings);
  }
  void AddAndRun(TaskController& controller) {
    window.SetAddressText(site.Address(EhSite::GalleryPath("k", false)));
    controller.AddAddresses(window.AddressText(), window.Options());
    ASSERT_TRUE(WaitForAdds(controller.Adding(), 10s));
    controller.Start();
    ASSERT_TRUE(WaitUntil([&] { return !controller.Workers().Running(SITE_EH); }, 20s));
    ASSERT_EQ(window.RowCount(), 1);
    ASSERT_EQ(window.RowAt(0)[3], u"已完成");
  }
  // The queue as the next start finds it.
  void ExpectKept(const fs::path& data) {
    FakeWindow next;
    auto controller = Open(next, data);
    ASSERT_EQ(next.RowCount(), 1) << "the task was saved after all";
    EXPECT_EQ(next.RowAt(0)[2], u"3/3");
    EXPECT_EQ(next.RowAt(0)[3], u"已完成");
  }

  TestServer server;
  EhSite site{server};
  TempDir save;
  FakeWindow window;
};

TEST_F(QueueFailuresTest, ATaskAddedWhileTheDiskIsFullIsSavedOnceThereIsSpace) {
  TempDir mountPoint;
  if (::mount("tmpfs", mountPoint.Str().c_str(), "tmpfs", 0, "size=512k") != 0)
    GTEST_SKIP() << "a small tmpfs cannot be mounted here: " << std::strerror(errno);
  struct Unmount {
    std::string path;
    ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
  } unmount{mountPoint.Str()};
  const fs::path data = mountPoint.Path() / "data";
  {
    auto controller = Open(window, data);
    ASSERT_EQ(controller->Queue(), QueueState::kOpened);
    // Every block left is taken.
    const fs::path filler = mountPoint.Path() / "filler";
    {
      const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
      ASSERT_GE(fd, 0);
      const std::string block(4096, 'x');
      while (::write(fd, block.data(), block.size()) > 0) {
      }
      ::close(fd);
    }
    window.SetAddressText(site.Address(EhSite::GalleryPath("k", false)));
    controller->AddAddresses(window.AddressText(), window.Options());
    ASSERT_TRUE(WaitForAdds(controller->Adding(), 10s));
    EXPECT_EQ(SavingMessages(window), std::vector<std::u16string>{kFailing});
    fs::remove(filler);
    controller->Start();
    ASSERT_TRUE(WaitUntil([&] { return !controller->Workers().Running(SITE_EH); }, 20s));
    EXPECT_EQ(window.RowAt(0)[3], u"已完成");
    EXPECT_EQ(SavingMessages(window), (std::vector<std::u16string>{kFailing, kAgain}));
  }
  ExpectKept(data);
}

TEST_F(QueueFailuresTest, ALockHeldByAnotherConnectionDelaysSavesWhichThenCatchUp) {
  TempDir data;
  auto controller = Open(window, data.Path());
  sqlite3* opened = nullptr;
  ASSERT_EQ(sqlite3_open((data.Path() / "queue.sqlite").c_str(), &opened), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(opened, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  std::atomic<sqlite3*> other{opened};
  // The other program lets go while the second picture page is read.
  site.SetPageHook([&](const std::string& path) {
    if (path != EhSite::PagePath("k", false, 2)) return;
    if (sqlite3* db = other.exchange(nullptr)) {
      (void)sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
      sqlite3_close(db);
    }
  });
  AddAndRun(*controller);
  EXPECT_EQ(other.load(), nullptr);
  EXPECT_EQ(SavingMessages(window), (std::vector<std::u16string>{kFailing, kAgain}));
  const std::u16string reason = window.Messages().at(0).substr(std::u16string(kFailing).size());
  EXPECT_FALSE(reason.empty()) << "the reason is given";
  // The row said which steps were not saved, and says nothing once they were.
  std::vector<bool> notSaved;
  for (const TaskEvent& event : window.Events()) {
    if (const auto* added = std::get_if<TaskAdded>(&event))
      notSaved.push_back(added->snapshot.notSaved);
    if (const auto* changed = std::get_if<TaskChanged>(&event))
      notSaved.push_back(changed->snapshot.notSaved);
  }
  EXPECT_NE(std::find(notSaved.begin(), notSaved.end(), true), notSaved.end());
  ASSERT_FALSE(notSaved.empty());
  EXPECT_FALSE(notSaved.back());
  controller.reset();
  ExpectKept(data.Path());
}

}  // namespace
}  // namespace pageloom::test
