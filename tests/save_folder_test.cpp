// Save-folder preparation on real temporary folders, with the fake window answering
// the folder picker.
#include <array>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "base/fixed_text.h"
#include "engine/save_folder_prompt.h"
#include "support/fake_window.h"
#include "support/test_server.h"

namespace pageloom {
namespace {

namespace fs = std::filesystem;
using test::FakeWindow;
using test::TempDir;

constexpr char16_t kPickerTitle[] = u"创建文件夹失败，请手动选择漫画保存文件夹：";
constexpr char16_t kInvalidFolder[] = u"无效的目录，请重新选择";

struct Folder {
  std::array<char16_t, kPathCapacity> units{};
  explicit Folder(std::u16string_view text) { CopyWide(units.data(), units.size(), text); }
  std::u16string Text() const { return std::u16string(WideView(units.data(), units.size())); }
};

class SaveFolderTest : public ::testing::Test {
 protected:
  // A path that can never be created: its parent is a file.
  std::u16string Uncreatable(std::string_view below = "a/b") {
    test::WriteFileBytes(tmp.Path() / "plain-file", "x");
    return tmp.Wide("plain-file/" + std::string(below));
  }

  TempDir tmp;
  FakeWindow window;
};

TEST_F(SaveFolderTest, ExistingFolderGainsOneSeparator) {
  Folder f(tmp.Wide());
  EXPECT_EQ(PrepareSaveFolder(f.units.data(), window), 1);
  EXPECT_EQ(f.Text(), tmp.Wide() + u"/");
  EXPECT_EQ(PrepareSaveFolder(f.units.data(), window), 1);  // already ends with '/'
  EXPECT_EQ(f.Text(), tmp.Wide() + u"/");
  EXPECT_TRUE(window.PickerTitles().empty());
  EXPECT_TRUE(fs::is_empty(tmp.Path()));
}

TEST_F(SaveFolderTest, MissingFoldersAreCreatedWithTheirParents) {
  Folder f(tmp.Wide("漫画/第1话 上/pictures"));
  EXPECT_EQ(PrepareSaveFolder(f.units.data(), window), 1);
  EXPECT_TRUE(fs::is_directory(tmp.Path() / "漫画" / "第1话 上" / "pictures"));
  EXPECT_EQ(f.Text(), tmp.Wide("漫画/第1话 上/pictures/"));

  Folder slash(tmp.Wide("given/with/slash/"));
  EXPECT_EQ(PrepareSaveFolder(slash.units.data(), window), 1);
  EXPECT_TRUE(fs::is_directory(tmp.Path() / "given" / "with" / "slash"));
  EXPECT_EQ(slash.Text(), tmp.Wide("given/with/slash/"));
  EXPECT_TRUE(window.PickerTitles().empty());
}

TEST_F(SaveFolderTest, FileAtThePathCountsAsExisting) {
  test::WriteFileBytes(tmp.Path() / "cover.jpg", "jpeg");
  Folder f(tmp.Wide("cover.jpg"));
  EXPECT_EQ(PrepareSaveFolder(f.units.data(), window), 1);
  EXPECT_EQ(f.Text(), tmp.Wide("cover.jpg/"));
  EXPECT_TRUE(fs::is_regular_file(tmp.Path() / "cover.jpg"));
  EXPECT_EQ(test::ReadFileBytes(tmp.Path() / "cover.jpg"), "jpeg");
  EXPECT_TRUE(window.PickerTitles().empty());
}

TEST_F(SaveFolderTest, FolderThatCannotBeMadeAsksForAnother) {
  const std::u16string bad = Uncreatable();
  fs::create_directory(tmp.Path() / "picked");
  window.QueuePickerAnswer(tmp.Wide("picked"));
  Folder f(bad);
  EXPECT_EQ(PrepareSaveFolder(f.units.data(), window), 1);
  // The picker names the folder it stands in for; the task's folder, of the same name, is
  // made inside the one picked: its pictures never lie loose there.
  EXPECT_EQ(window.PickerTitles(), std::vector<std::u16string>{kPickerTitle + bad});
  EXPECT_TRUE(window.Messages().empty());
  EXPECT_EQ(f.Text(), tmp.Wide("picked/b/"));
  EXPECT_TRUE(fs::is_directory(tmp.Path() / "picked" / "b"));

  // A picked folder that does not exist yet is created.
  window.QueuePickerAnswer(tmp.Wide("new/one"));
  Folder g(bad);
  EXPECT_EQ(PrepareSaveFolder(g.units.data(), window), 1);
  EXPECT_TRUE(fs::is_directory(tmp.Path() / "new" / "one" / "b"));
  EXPECT_EQ(g.Text(), tmp.Wide("new/one/b/"));
}

TEST_F(SaveFolderTest, CancelledPickerKeepsThePathWithItsSeparator) {
  const std::u16string bad = Uncreatable();
  Folder f(bad);
  EXPECT_EQ(PrepareSaveFolder(f.units.data(), window), 1);
  EXPECT_EQ(window.PickerTitles().size(), 1u);
  EXPECT_EQ(window.Messages(), std::vector<std::u16string>{kInvalidFolder});
  EXPECT_EQ(f.Text(), bad + u"/");
}

TEST_F(SaveFolderTest, PickingBadFoldersAgainEndsWhenThePickerIsCancelled) {
  const std::u16string bad = Uncreatable();
  const std::u16string alsoBad = Uncreatable("other");
  window.QueuePickerAnswer(alsoBad);
  window.QueuePickerAnswer(std::u16string(2000, u'x'));  // does not fit: refused
  Folder f(bad);
  EXPECT_EQ(PrepareSaveFolder(f.units.data(), window), 1);
  EXPECT_EQ(window.PickerTitles().size(), 2u);
  EXPECT_EQ(window.Messages(), std::vector<std::u16string>{kInvalidFolder});
  EXPECT_EQ(f.Text(), alsoBad + u"/b/");
}

TEST_F(SaveFolderTest, FullBufferGetsNoSeparator) {
  // Existing folders whose paths are 258 and 259 units long.
  std::string path = tmp.Str();
  const std::size_t target = kPathCapacity - 2;
  while (path.size() + 1 < target) {
    const std::size_t part = std::min<std::size_t>(100, target - path.size() - 1);
    path += "/" + std::string(part, 'd');
  }
  ASSERT_EQ(path.size(), target);
  fs::create_directories(path);
  fs::create_directories(path + "e");

  Folder room(FromUtf8(path));
  EXPECT_EQ(PrepareSaveFolder(room.units.data(), window), 1);
  EXPECT_EQ(room.Text(), FromUtf8(path) + u"/");
  EXPECT_EQ(room.Text().size(), kPathCapacity - 1);

  Folder full(FromUtf8(path + "e"));
  EXPECT_EQ(PrepareSaveFolder(full.units.data(), window), 1);
  EXPECT_EQ(full.Text(), FromUtf8(path + "e"));
  EXPECT_EQ(full.units[kPathCapacity - 1], 0);

  // An unterminated buffer is read as its first 259 units and terminated.
  std::array<char16_t, kPathCapacity> raw{};
  const std::u16string wide = FromUtf8(path + "e");
  std::copy(wide.begin(), wide.end(), raw.begin());
  raw[kPathCapacity - 1] = u'z';
  EXPECT_EQ(PrepareSaveFolder(raw.data(), window), 1);
  EXPECT_EQ(WideView(raw.data(), raw.size()), wide);
  EXPECT_TRUE(window.PickerTitles().empty());
}

TEST_F(SaveFolderTest, NullAndEmptyPaths) {
  EXPECT_EQ(PrepareSaveFolder(nullptr, window), -1);
  EXPECT_TRUE(window.PickerTitles().empty());
  EXPECT_TRUE(window.Messages().empty());

  // An empty path names no folder: it is never turned into the root folder, nor into a
  // folder picked for it.
  window.QueuePickerAnswer(tmp.Wide());
  Folder empty(u"");
  EXPECT_EQ(PrepareSaveFolder(empty.units.data(), window), 1);
  EXPECT_EQ(empty.Text(), u"");
  EXPECT_EQ(window.PickerTitles().size(), 1u);
  EXPECT_EQ(window.Messages(), std::vector<std::u16string>{kInvalidFolder});
}

}  // namespace
}  // namespace pageloom
