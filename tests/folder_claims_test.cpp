// Task folders claimed by their source file: two programs that add two galleries of one
// title at the same moment, and task folders holding a hostile source file.
#include "store/folder_claims.h"

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/task_controller.h"
#include "base/fixed_text.h"
#include "support/eh_site.h"
#include "support/fake_window.h"
#include "support/scripted_comic.h"
#include "support/test_server.h"
#include "support/test_settings.h"

namespace pageloom::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Holds each caller until `count` callers have come, or a few seconds have passed.
class Meeting {
 public:
  explicit Meeting(int count) : m_left(count) {}
  void Arrive() {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (--m_left <= 0) m_met.notify_all();
    m_met.wait_for(lock, 5s, [this] { return m_left <= 0; });
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_met;
  int m_left;
};

TEST(FolderClaims, TwoProgramsAddingGalleriesOfOneTitleAtOnceGetFoldersOfTheirOwn) {
  TestServer server;
  EhSite site(server);
  TempDir save;
  for (const std::string name : {"g1", "g2"}) {
    EhGalleryPlan plan{"Same Title Page 1", false, {}};
    for (int i = 1; i <= 3; ++i)
      plan.pictures.push_back({"/eh/pic/" + name + "/" + std::to_string(i) + ".jpg"});
    site.AddGallery(name, plan);
  }
  // Both programs have found the title's folder free before either claims it.
  Meeting meeting(2);
  ControllerSettings settings = TestSettings(site.Names());
  settings.beforeFolderClaim = [&](std::u16string_view folder) {
    if (folder == save.Wide("Same Title") + u"/") meeting.Arrive();
  };
  FakeWindow windows[2];
  std::unique_ptr<TaskController> programs[2];
  for (int k = 0; k < 2; ++k) {
    windows[k].SetSaveFolderText(save.Wide());
    programs[k] = std::make_unique<TaskController>(windows[k], settings);
    windows[k].SetAddressText(site.Address(EhSite::GalleryPath(k == 0 ? "g1" : "g2", false)));
    programs[k]->AddAddresses(windows[k].AddressText(), windows[k].Options());
  }
  for (auto& program : programs) {
    ASSERT_TRUE(WaitForAdds(program->Adding(), 10s));
    program->Start();
  }
  for (auto& program : programs)
    ASSERT_TRUE(WaitUntil([&] { return !program->Workers().Running(SITE_EH); }, 20s));

  ASSERT_EQ(windows[0].RowCount(), 1);
  ASSERT_EQ(windows[1].RowCount(), 1);
  const std::u16string folders[2] = {windows[0].RowAt(0)[1], windows[1].RowAt(0)[1]};
  EXPECT_NE(folders[0], folders[1]);
  for (int k = 0; k < 2; ++k) {
    const std::string name = k == 0 ? "g1" : "g2";
    const fs::path folder = fs::u8path(ToUtf8(folders[k]));
    EXPECT_EQ(windows[k].RowAt(0)[3], u"已完成");
    EXPECT_EQ(ReadFileBytes(folder / kFolderSourceFile),
              site.Url(EhSite::GalleryPath(name, false)) + "\n" +
                  site.Url(EhSite::PagePath(name, false, 1)))
        << "the folder names its own gallery: as added, then by its first page";
    for (int i = 1; i <= 3; ++i)
      EXPECT_EQ(ReadFileBytes(folder / ("00" + std::to_string(i) + ".jpg")),
                EhSite::PictureBytes("/eh/pic/" + name + "/" + std::to_string(i) + ".jpg"))
          << name << " " << i;
  }
}

TEST(FolderClaims, HostileSourceFilesAreNotOursAndNeitherBlockNorExhaust) {
  TempDir save;
  const std::vector<std::u16string> source{u"https://example.org/g/7/x/"};
  const auto prepared = [&](const std::string& title) {
    fs::create_directories(save.Path() / title);
    return save.Path() / title / kFolderSourceFile;
  };
  ASSERT_EQ(::mkfifo(prepared("Fifo").c_str(), 0644), 0);
  fs::create_symlink("/dev/zero", prepared("Zero"));
  fs::create_symlink(save.Path() / "elsewhere", prepared("Dangling"));
  WriteFileBytes(prepared("Huge"), std::string(kMaxSourceFileBytes + 1, 'h') + ToUtf8(source[0]));
  WriteFileBytes(prepared("Mine"), ToUtf8(source[0]));

  for (const std::string title : {"Fifo", "Zero", "Dangling", "Huge", "Mine"}) {
    // Run beside the test, so that a claim that blocks fails the test instead of hanging it.
    auto promise = std::make_shared<std::promise<std::u16string>>();
    std::future<std::u16string> claim = promise->get_future();
    std::thread([promise, folder = save.Wide(title) + u"/", source] {
      promise->set_value(ClaimTaskFolder(folder, source, u"7"));
    }).detach();
    ASSERT_EQ(claim.wait_for(10s), std::future_status::ready) << title;
    const std::u16string expected =
        title == "Mine" ? save.Wide(title) + u"/" : save.Wide(title + " (7)") + u"/";
    EXPECT_EQ(claim.get(), expected) << title;
  }
  EXPECT_TRUE(fs::is_fifo(save.Path() / "Fifo" / kFolderSourceFile)) << "left as it was";
  EXPECT_EQ(ReadFileBytes(save.Path() / "Zero (7)" / kFolderSourceFile), ToUtf8(source[0]));
}

}  // namespace
}  // namespace pageloom::test
