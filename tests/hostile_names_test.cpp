// Names from pages that are no fit names on disk: titles longer than a file name may be,
// titles and picture names with control characters, picture names that are empty or dots.
#include <chrono>
#include <filesystem>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "app/task_controller.h"
#include "engine/safe_names.h"
#include "store/folder_claims.h"
#include "support/dmzj_site.h"
#include "support/eh_site.h"
#include "support/fake_window.h"
#include "support/scripted_comic.h"
#include "support/test_server.h"
#include "support/test_settings.h"

namespace pageloom::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string Repeat(const std::string& piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}

class HostileNamesTest : public ::testing::Test {
 protected:
  HostileNamesTest() { window.SetSaveFolderText(dir.Wide()); }

  void AddAndRun(TaskController& controller, const std::u16string& address) {
    window.SetAddressText(address);
    controller.AddAddresses(window.AddressText(), window.Options());
    ASSERT_TRUE(WaitForAdds(controller.Adding(), 10s));
    controller.Start();
    ASSERT_TRUE(WaitUntil(
        [&] {
          return !controller.Workers().Running(SITE_EH) && !controller.Workers().Running(SITE_DMZJ);
        },
        20s));
  }
  // Every file and folder below the save folder, as paths relative to it.
  std::set<std::string> Tree() const {
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(dir.Path()))
      if (entry.path().filename() != kFolderSourceFile)
        names.insert(fs::relative(entry.path(), dir.Path()).u8string());
    return names;
  }

  TestServer server;
  TempDir dir;
  FakeWindow window;
};

TEST_F(HostileNamesTest, TitlesLongerThanAFileNameAreCutAtACharacter) {
  EhSite site(server);
  TaskController controller(window, TestSettings(site.Names()));
  // 100 Chinese characters (300 bytes), 90 Japanese ones, 70 emoji (280 bytes).
  const std::string chinese = Repeat("漫", 100);
  const std::string japanese = Repeat("の", 90);
  const std::string emoji = Repeat("\xF0\x9F\x98\x80", 70);
  int n = 0;
  for (const std::string& title : {chinese, japanese, emoji}) {
    const std::string name = "t" + std::to_string(n++);
    site.AddGallery(name, {title + " Page 1", false, {{"/eh/pic/" + name + "/1.jpg"}}});
    AddAndRun(controller, site.Address(EhSite::GalleryPath(name, false)));
  }
  ASSERT_EQ(window.RowCount(), 3);
  for (int row = 0; row < 3; ++row) {
    EXPECT_EQ(window.RowAt(row)[3], u"已完成") << row;
    const std::u16string folder = window.RowAt(row)[1];
    const std::u16string_view component = std::u16string_view(folder).substr(
        dir.Wide().size() + 1, folder.size() - dir.Wide().size() - 2);
    EXPECT_LE(Utf8Length(component), 255u) << row;
    EXPECT_EQ(component.find(u'\uFFFD'), std::u16string_view::npos) << "no character is split";
    EXPECT_TRUE(fs::exists(fs::path(ToUtf8(folder)) / "001.jpg")) << row;
  }
  EXPECT_EQ(window.RowAt(0)[1], dir.Wide() + u"/" + FromUtf8(Repeat("漫", 85)) + u"/");
  EXPECT_EQ(window.RowAt(2)[1],
            dir.Wide() + u"/" + FromUtf8(Repeat("\xF0\x9F\x98\x80", 63)) + u"/");
  EXPECT_TRUE(window.Messages().empty()) << "no picker was asked for";
}

TEST_F(HostileNamesTest, AFolderCutToThePathLimitLeavesRoomForItsPicturesOrSaysWhy) {
  EhSite site(server);
  TaskController controller(window, TestSettings(site.Names()));
  const std::string title = Repeat("T", 250);
  site.AddGallery("short", {title + " Page 1", false, {{"/eh/pic/short/1.jpg"}}});
  const std::string longName = "/eh/pic/long/" + Repeat("n", 40) + ".jpg";
  site.AddGallery("long", {title + "2 Page 1", false, {{"/eh/pic/long/1.jpg"}, {longName}}});
  AddAndRun(controller, site.Address(EhSite::GalleryPath("short", false)));
  window.SetAutoRename(false);
  AddAndRun(controller, site.Address(EhSite::GalleryPath("long", false)));

  ASSERT_EQ(window.RowCount(), 2);
  const std::u16string folder = window.RowAt(0)[1];
  EXPECT_EQ(folder.size(), kPathCapacity - 1 - kPictureNameRoom);
  EXPECT_EQ(window.RowAt(0)[3], u"已完成");
  EXPECT_TRUE(fs::exists(fs::path(ToUtf8(folder)) / "001.jpg"));
  // A picture's own name too long for the path: the task says it misses it, and why.
  EXPECT_EQ(window.RowAt(1)[3], u"未完成，缺1张");
  EXPECT_TRUE(fs::exists(fs::path(ToUtf8(window.RowAt(1)[1])) / "1.jpg"));
  const std::optional<TaskSnapshot> shown = window.SnapshotOf(1);
  ASSERT_TRUE(shown && shown->missing.size() == 1);
  EXPECT_EQ(shown->missing[0].reason.kind, FailureKind::kPathTooLong) << "not a disk failure";
  const std::vector<std::u16string> messages = window.Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].rfind(u"文件路径过长，图片未保存：", 0), 0u) << ToUtf8(messages[0]);
}

TEST_F(HostileNamesTest, ControlCharactersAndDotsNeverReachTheDisk) {
  DmzjSite site(server);
  TaskController controller(window, TestSettings(site.Names()));
  window.SetAutoRename(false);
  // A title with control characters and a dot-dot chapter; pictures named "" and with a
  // control character in their name.
  DmzjChapterPlan plan{"漫\x01画\x7F",
                       "..",
                       "3",
                       "",
                       {"p/a/",
                        "p/b\x02"
                        "z.jpg",
                        "p/ok.jpg"}};
  site.AddPage("/c/1.shtml", DmzjSite::ChapterPage(plan));
  server.Serve("/dmzjpic/p/a/", test::Jpeg("first"));
  site.AddPicture(
      "p/b\x02"
      "z.jpg");
  site.AddPicture("p/ok.jpg");
  AddAndRun(controller, site.Address("/c/1.shtml"));
  EXPECT_EQ(window.RowAt(0)[1], dir.Wide(u8"漫_画_/_") + u"/");
  EXPECT_EQ(Tree(), (std::set<std::string>{u8"漫_画_", u8"漫_画_/_", u8"漫_画_/_/001",
                                           u8"漫_画_/_/b_z.jpg", u8"漫_画_/_/ok.jpg"}));
  EXPECT_EQ(ReadFileBytes(dir.Path() / u8"漫_画_/_/001"), test::Jpeg("first"));
  EXPECT_EQ(window.RowAt(0)[3], u"已完成");
}

TEST_F(HostileNamesTest, ASlashAndHiddenControlsInATitleMakeOneFolderOfPlainCharacters) {
  EhSite site(server);
  TaskController controller(window, TestSettings(site.Names()));
  // A right-to-left override would show "Order exe.jpg" as something else; C1 controls.
  site.AddGallery("f", {"Fate/Grand Order\xE2\x80\xAEgpj.exe\xC2\x9B"
                        "1m Page 1",
                        false,
                        {{"/eh/pic/f/1.jpg"}}});
  AddAndRun(controller, site.Address(EhSite::GalleryPath("f", false)));
  EXPECT_EQ(window.RowAt(0)[1], dir.Wide("Fate_Grand Order_gpj.exe_1m") + u"/");
  EXPECT_EQ(Tree(), (std::set<std::string>{"Fate_Grand Order_gpj.exe_1m",
                                           "Fate_Grand Order_gpj.exe_1m/001.jpg"}));
}

TEST(PictureNames, EmptyAndDotNamesTakeThePicturesPlace) {
  ScriptedComic task(SITE_EH, 0, nullptr, ScriptedComic::Pictures(1));
  task.SetRenameFiles(0);
  EXPECT_EQ(task.PictureFileName(u"http://h/p/"), u"001");
  task.SetPictureCount(6);
  EXPECT_EQ(task.PictureFileName(u"http://h/p/."), u"007");
  EXPECT_EQ(task.PictureFileName(u"http://h/p/.."), u"007");
  EXPECT_EQ(task.PictureFileName(u"http://h/p/a\tb.png"), u"a_b.png");
  EXPECT_EQ(task.PictureFileName(u"http://h/p/x.jpg"), u"x.jpg");
  task.SetRenameFiles(1);
  EXPECT_EQ(task.PictureFileName(u"http://h/p/x.j\x01g"), u"001.j_g");
}

}  // namespace
}  // namespace pageloom::test
