// A task folder as a reader's library gets it: the CBZ packer read back with libzip,
// `unzip -t` and Python's zipfile, archives of other sources left alone, a packer killed
// mid-way, and, through the controller against the local site, galleries that end as
// one archive, pack only once complete, and keep twin titles apart.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zip.h>

#include "app/task_controller.h"
#include "base/fixed_text.h"
#include "library/cbz_packer.h"
#include "library/comic_info.h"
#include "library/task_finish.h"
#include "support/eh_site.h"
#include "support/fake_window.h"
#include "support/test_server.h"
#include "support/test_settings.h"

namespace pageloom {
namespace {

namespace fs = std::filesystem;
using test::EhGalleryPlan;
using test::EhSite;
using test::ReadFileBytes;
using test::WriteFileBytes;

// The entries of an archive as libzip reads them: name, method, bytes.
struct Entry {
  std::string name;
  int method = -1;
  std::string bytes;
};

std::vector<Entry> ReadArchive(const fs::path& archive) {
  std::vector<Entry> entries;
  int error = 0;
  zip_t* zip = zip_open(archive.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
  if (zip == nullptr) return entries;
  for (zip_int64_t i = 0; i < zip_get_num_entries(zip, 0); ++i) {
    zip_stat_t st;
    zip_stat_index(zip, static_cast<zip_uint64_t>(i), 0, &st);
    Entry entry{st.name, st.comp_method, std::string(st.size, '\0')};
    zip_file_t* file = zip_fopen_index(zip, static_cast<zip_uint64_t>(i), 0);
    if (file != nullptr) {
      const zip_int64_t n = zip_fread(file, entry.bytes.data(), st.size);
      if (n != static_cast<zip_int64_t>(st.size)) entry.method = -2;
      zip_fclose(file);
    }
    entries.push_back(std::move(entry));
  }
  zip_discard(zip);
  return entries;
}

// What other tools say of the archive: `unzip -t`, and Python's zipfile (entries, their
// methods and sizes, and its own check).
bool UnzipAccepts(const fs::path& archive) {
  return std::system(("unzip -tqq '" + archive.string() + "' >/dev/null").c_str()) == 0;
}
std::string PythonListing(const fs::path& archive) {
  const std::string command =
      "python3 -c \"import sys, zipfile\nz = zipfile.ZipFile(sys.argv[1])\nassert z.testzip() "
      "is None\nfor i in z.infolist(): print(i.filename, i.compress_type, i.file_size)\" '" +
      archive.string() + "'";
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
  return pclose(pipe) == 0 ? out : "failed: " + out;
}

// A task folder of `count` pictures named 1.jpg .. N.jpg of `size` bytes each.
std::vector<std::string> MakeFolder(const fs::path& folder, int count, std::size_t size,
                                    const std::string& source) {
  fs::create_directories(folder);
  WriteFileBytes(folder / ".pageloom-source", source);
  std::vector<std::string> names;
  for (int i = 1; i <= count; ++i) {
    names.push_back(std::to_string(i) + ".jpg");
    std::string bytes = test::DistinctBytes("\xFF\xD8", names.back());
    bytes.resize(size, static_cast<char>(i));
    WriteFileBytes(folder / names.back(), bytes);
  }
  return names;
}

TEST(CbzPacker, StoredFlatInPageOrderAndByteEqual) {
  test::TempDir dir;
  const fs::path folder = dir.Path() / "标题 & Title";
  const std::vector<std::string> names = MakeFolder(folder, 12, 3000, "http://h/s/1-1");
  std::vector<std::string> pictures;
  for (const std::string& name : names) pictures.push_back(ReadFileBytes(folder / name));
  const std::string comicInfo = "<?xml version=\"1.0\"?><ComicInfo/>";
  WriteFileBytes(folder / "info.json", "{}");

  const PackResult result = PackFolder(folder, {"http://h/s/1-1"}, &comicInfo);
  ASSERT_EQ(result.status, PackStatus::kPacked) << result.detail;
  const fs::path archive = dir.Path() / "标题 & Title.cbz";
  EXPECT_EQ(result.archive, archive);
  EXPECT_FALSE(fs::exists(folder)) << "the folder goes once the archive is checked";

  const std::vector<Entry> entries = ReadArchive(archive);
  ASSERT_EQ(entries.size(), 13u);
  std::string listing;
  for (std::size_t i = 0; i < 12; ++i) {
    EXPECT_EQ(entries[i].name, names[i]);  // 1.jpg .. 12.jpg: 10 after 9
    EXPECT_EQ(entries[i].method, ZIP_CM_STORE);
    EXPECT_EQ(entries[i].bytes, pictures[i]);
    listing += names[i] + " 0 3000\n";
  }
  EXPECT_EQ(entries[12].name, "ComicInfo.xml");
  EXPECT_EQ(entries[12].bytes, comicInfo);
  EXPECT_TRUE(UnzipAccepts(archive));
  EXPECT_EQ(PythonListing(archive),
            listing + "ComicInfo.xml 0 " + std::to_string(comicInfo.size()) + "\n");
  EXPECT_EQ(ArchiveSource(archive), "http://h/s/1-1");

  // A folder whose name takes all 255 bytes a name may have still gets its archive.
  std::string longName;
  for (int i = 0; i < 85; ++i) longName += "长";
  const fs::path longFolder = dir.Path() / longName;
  MakeFolder(longFolder, 2, 10, "http://h/long");
  const PackResult packedLong = PackFolder(longFolder, {"http://h/long"}, nullptr);
  ASSERT_EQ(packedLong.status, PackStatus::kPacked) << packedLong.detail;
  EXPECT_EQ(packedLong.archive.filename().string().size(), 249u + 4u);
  EXPECT_EQ(ReadArchive(packedLong.archive).size(), 2u);
}

TEST(CbzPacker, AnArchiveThereIsNeverOverwritten) {
  test::TempDir dir;
  const fs::path folder = dir.Path() / "Same";
  MakeFolder(folder, 2, 100, "http://h/a");
  ASSERT_EQ(PackFolder(folder, {"http://h/a"}, nullptr).status, PackStatus::kPacked);
  const std::string packed = ReadFileBytes(dir.Path() / "Same.cbz");

  // The same source again: done, nothing touched. Another source: refused, both kept.
  MakeFolder(folder, 3, 100, "http://h/a");
  EXPECT_EQ(PackFolder(folder, {"http://h/a"}, nullptr).status, PackStatus::kAlreadyThere);
  // Also when the archive names the task by the other name its folder's mark keeps.
  EXPECT_EQ(PackFolder(folder, {"http://h/g/added", "http://h/a"}, nullptr).status,
            PackStatus::kAlreadyThere);
  fs::remove_all(folder);
  MakeFolder(folder, 3, 100, "http://h/b");
  EXPECT_TRUE(ArchiveOfOtherSource(folder, "http://h/b"));
  EXPECT_FALSE(ArchiveOfOtherSource(folder, "http://h/a"));
  EXPECT_EQ(PackFolder(folder, {"http://h/b"}, nullptr).status, PackStatus::kTakenByOther);
  EXPECT_EQ(ReadFileBytes(dir.Path() / "Same.cbz"), packed);
  EXPECT_EQ(test::ReadFileBytes(folder / "3.jpg").size(), 100u);

  // An archive of no source (made by someone else) is another source's too.
  WriteFileBytes(dir.Path() / "Other.cbz", "not even a zip");
  EXPECT_TRUE(ArchiveOfOtherSource(dir.Path() / "Other", "http://h/a"));

  // Folders that are not complete are refused with a reason, and stay.
  const fs::path holes = dir.Path() / "Holes";
  MakeFolder(holes, 2, 100, "http://h/c");
  FolderInfo info;
  info.source = "http://h/c";
  info.missing = {"3.jpg"};
  WriteFileBytes(holes / "info.json", InfoJson(info));
  PackResult refused = PackTaskFolder(holes);
  EXPECT_EQ(refused.status, PackStatus::kRefused);
  EXPECT_EQ(refused.refusal, PackRefusal::kPicturesMissing);
  EXPECT_EQ(refused.missingCount, 1);
  info.missing.clear();
  info.metadata.length = 5;
  WriteFileBytes(holes / "info.json", InfoJson(info));
  EXPECT_EQ(PackTaskFolder(holes).missingCount, 3);
  EXPECT_EQ(PackTaskFolder(dir.Path() / "nowhere").status, PackStatus::kRefused);
  fs::remove(holes / ".pageloom-source");
  EXPECT_EQ(PackTaskFolder(holes).refusal, PackRefusal::kNotATaskFolder);
  // A mark that is a FIFO is no mark, and reading it never waits for a writer.
  ASSERT_EQ(::mkfifo((holes / ".pageloom-source").c_str(), 0644), 0);
  EXPECT_EQ(PackTaskFolder(holes).refusal, PackRefusal::kNotATaskFolder);
  EXPECT_TRUE(fs::exists(holes / "2.jpg"));
  EXPECT_FALSE(fs::exists(dir.Path() / "Holes.cbz"));
}

TEST(CbzPacker, KilledWhilePackingLeavesTheFolderWholeAndPacksNextTime) {
  test::TempDir dir;
  const fs::path folder = dir.Path() / "Big";
  const std::vector<std::string> names = MakeFolder(folder, 160, 400 * 1024, "http://h/big");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0)
    _exit(PackFolder(folder, {"http://h/big"}, nullptr).status == PackStatus::kPacked ? 0 : 1);
  // Killed as soon as its part file appears.
  bool seen = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!seen && std::chrono::steady_clock::now() < deadline) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir.Path(), ec))
      seen = seen || entry.path().filename().string().rfind(".Big.cbz.", 0) == 0;
    if (!seen) std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  if (!seen || !WIFSIGNALED(status)) GTEST_SKIP() << "the packer ended before it was killed";

  EXPECT_FALSE(fs::exists(dir.Path() / "Big.cbz")) << "no archive under the final name";
  for (const std::string& name : names) ASSERT_EQ(fs::file_size(folder / name), 400u * 1024);
  const PackResult again = PackFolder(folder, {"http://h/big"}, nullptr);
  ASSERT_EQ(again.status, PackStatus::kPacked) << again.detail;
  EXPECT_EQ(ReadArchive(dir.Path() / "Big.cbz").size(), names.size());
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(dir.Path()))
    left.push_back(entry.path().filename().string());
  EXPECT_EQ(left, std::vector<std::string>{"Big.cbz"}) << "the killed packer's parts are gone";
}

// Galleries through the controller, packed as they end.
class CbzDownload : public ::testing::Test {
 protected:
  CbzDownload() {
    window.SetSaveFolderText(dir.Wide());
    controller.SetSaveCbz(true);
    controller.SetWriteMetadata(true);
  }
  ~CbzDownload() override { controller.Shutdown(); }
  EhGalleryPlan Plan(const std::string& title, const std::string& name, int count) {
    EhGalleryPlan plan{title + " Page 1", false, {}, {}};
    for (int i = 1; i <= count; ++i)
      plan.pictures.push_back({"/eh/pic/" + name + "/" + std::to_string(i) + ".jpg"});
    return plan;
  }
  void Add(const std::string& name) {
    window.SetAddressText(site.Address(EhSite::GalleryPath(name, false)));
    controller.AddAddresses(window.AddressText(), window.Options());
    ASSERT_TRUE(test::WaitForAdds(controller.Adding(), std::chrono::seconds(10)));
  }
  void RunToEnd() {
    controller.Start();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (controller.Workers().Running(SITE_EH) && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_FALSE(controller.Workers().Running(SITE_EH));
  }

  test::TestServer server;
  EhSite site{server};
  test::TempDir dir;
  test::FakeWindow window;
  TaskController controller{window, test::TestSettings(site.Names())};
};

TEST_F(CbzDownload, GalleryEndsAsOneArchiveWithItsMetadata) {
  EhGalleryPlan plan = Plan("Short Title", "m1", 5);
  test::EhGalleryDetails details;
  details.title = "Full &amp; Long Title";
  details.length = "7 pages";
  details.language = "Chinese";
  details.tags = {{"artist", {"pen"}}, {"female", {"glasses"}}};
  plan.details = EhSite::DetailsMarkup(details);
  site.AddGallery("m1", plan);
  Add("m1");
  EXPECT_EQ(window.RowAt(0)[2], u"0/7") << "the announced length is the known total";
  RunToEnd();
  EXPECT_EQ(window.RowAt(0)[2], u"5/7") << "the walk ends by its pages, not by the number";
  EXPECT_EQ(window.RowAt(0)[3], u"已完成");

  const fs::path archive = dir.Path() / "Short Title.cbz";
  EXPECT_FALSE(fs::exists(dir.Path() / "Short Title"));
  const std::vector<Entry> entries = ReadArchive(archive);
  ASSERT_EQ(entries.size(), 6u);
  for (int i = 1; i <= 5; ++i) {
    EXPECT_EQ(entries[i - 1].name, "00" + std::to_string(i) + ".jpg");
    EXPECT_EQ(entries[i - 1].bytes,
              EhSite::PictureBytes("/eh/pic/m1/" + std::to_string(i) + ".jpg"));
  }
  const std::string& xml = entries[5].bytes;
  EXPECT_NE(xml.find("<Title>Full &amp; Long Title</Title>"), std::string::npos) << xml;
  EXPECT_NE(xml.find("<Writer>pen</Writer>"), std::string::npos);
  EXPECT_NE(xml.find("<Tags>female:glasses</Tags>"), std::string::npos);
  EXPECT_NE(xml.find("<LanguageISO>zh</LanguageISO>"), std::string::npos);
  EXPECT_NE(xml.find("<PageCount>5</PageCount>"), std::string::npos);
  EXPECT_TRUE(UnzipAccepts(archive));
  EXPECT_TRUE(window.Messages().empty());
}

TEST_F(CbzDownload, MissingPicturePacksOnlyOnceTheNextStartCompletesIt) {
  EhGalleryPlan plan = Plan("Holes", "h1", 3);
  plan.pictures[1].served = false;
  site.AddGallery("h1", plan);
  Add("h1");
  RunToEnd();
  EXPECT_EQ(window.RowAt(0)[3], u"未完成，缺1张");
  const fs::path folder = dir.Path() / "Holes";
  EXPECT_FALSE(fs::exists(dir.Path() / "Holes.cbz"));
  const std::optional<FolderInfo> info = ReadInfoJson(folder);
  ASSERT_TRUE(info);
  EXPECT_FALSE(info->complete);
  EXPECT_EQ(info->missing, std::vector<std::string>{"002.jpg"});
  EXPECT_EQ(info->files.size(), 2u);
  EXPECT_TRUE(fs::exists(folder / "ComicInfo.xml"));
  EXPECT_EQ(controller.PackTask(0).refusal, PackRefusal::kUnfinished);

  site.SetPicture("h1", 2, {"/eh/pic/h1/2.jpg", true});
  RunToEnd();
  EXPECT_EQ(window.RowAt(0)[3], u"已完成");
  EXPECT_FALSE(fs::exists(folder));
  const std::vector<Entry> entries = ReadArchive(dir.Path() / "Holes.cbz");
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[1].name, "002.jpg");
  EXPECT_NE(entries[3].bytes.find("<PageCount>3</PageCount>"), std::string::npos);
}

TEST_F(CbzDownload, TwinTitlesGetArchivesOfTheirOwn) {
  site.AddGallery("t1", Plan("Twin", "t1", 2));
  site.AddGallery("t2", Plan("Twin", "t2", 3));
  Add("t1");
  RunToEnd();
  ASSERT_TRUE(fs::exists(dir.Path() / "Twin.cbz"));
  // The archive names the gallery as it was added, as its folder did.
  EXPECT_EQ(ArchiveSource(dir.Path() / "Twin.cbz"),
            ToUtf8(site.Address(EhSite::GalleryPath("t1", false))));
  const std::string first = ReadFileBytes(dir.Path() / "Twin.cbz");
  // The first one's folder is gone, but its archive keeps the name.
  Add("t2");
  RunToEnd();
  EXPECT_EQ(ReadArchive(dir.Path() / "Twin (t2).cbz").size(), 4u);
  EXPECT_EQ(ReadFileBytes(dir.Path() / "Twin.cbz"), first);
  // The first one again: its archive is there, so it counts as done and stays as it was.
  Add("t1");
  RunToEnd();
  EXPECT_EQ(window.RowAt(2)[3], u"已完成");
  EXPECT_EQ(ReadFileBytes(dir.Path() / "Twin.cbz"), first);
  EXPECT_TRUE(window.Messages().empty())
      << (window.Messages().empty() ? "" : ToUtf8(window.Messages()[0]));
}

}  // namespace
}  // namespace pageloom
