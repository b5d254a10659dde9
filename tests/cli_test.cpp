// pageloom-cli run as a process against the local fixture sites: whole downloads, the
// failures it reports, its usage errors, a stop by signal, and addresses read from
// standard input.
#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <unistd.h>

#include "base/fixed_text.h"
#include "base/version.h"
#include "cli/cli_texts.h"
#include "cli/progress_view.h"
#include "cli/terminal_text.h"
#include "cli/terminal_window.h"
#include "store/instance_lock.h"
#include "support/dmzj_site.h"
#include "support/eh_site.h"
#include "support/fake_window.h"
#include "support/program_run.h"
#include "support/test_server.h"

namespace pageloom::test {
namespace {

namespace fs = std::filesystem;

EhGalleryPlan GalleryPlan(const std::string& title, const std::string& name, int count) {
  EhGalleryPlan plan{title + " Page 1", false, {}};
  for (int i = 1; i <= count; ++i)
    plan.pictures.push_back({"/eh/pic/" + name + "/" + std::to_string(i) + ".jpg"});
  return plan;
}

// Chapter `number` of 中文漫画, its pictures under "c/<number>/".
DmzjChapterPlan Chapter(int number, const std::string& next, int count) {
  DmzjChapterPlan plan{
      "中文漫画", "第" + std::to_string(number) + "话", std::to_string(count), next, {}};
  for (int i = 1; i <= count; ++i)
    plan.pictures.push_back("c/" + std::to_string(number) + "/p" + std::to_string(i) + ".png");
  return plan;
}

class CliTest : public ::testing::Test {
 protected:
  CliTest() {
    SiteNames names = dmzj.Names();
    EhSite::Apply(names);
    WriteFileBytes(home.Path() / "sites",
                   "eh-host-marker=" + ToUtf8(names.ehHostMarker) + "\neh-mirror-marker=" +
                       ToUtf8(names.ehMirrorMarker) + "\ndmzj-host=" + ToUtf8(names.dmzjHost) +
                       "\ndmzj-site-root=" + names.dmzjSiteRoot +
                       "\ndmzj-picture-host=" + ToUtf8(names.dmzjPictureHost) + "\n");
  }

  std::unique_ptr<ProgramRun> Start(const std::vector<std::string>& args,
                                    const std::string& input = {},
                                    const std::string& outputTo = {}) {
    return std::make_unique<ProgramRun>(
        PAGELOOM_CLI_PATH, args,
        std::map<std::string, std::string>{{"HOME", home.Str()},
                                           {"XDG_DATA_HOME", home.Str("data")},
                                           {"PAGELOOM_SITES_FILE", home.Str("sites")},
                                           {"PAGELOOM_RETRY_PAUSES_MS", "1,1"},
                                           {"PAGELOOM_LANG", "en"}},
        input, outputTo);
  }
  // Runs to the end; the exit status.
  int Run(const std::vector<std::string>& args, const std::string& input = {}) {
    last = Start(args, input);
    const std::optional<int> status = last->Wait();
    EXPECT_TRUE(status) << "pageloom-cli did not end";
    return status.value_or(-1);
  }
  std::string GalleryUrl(const std::string& name) const {
    return eh.Url(EhSite::GalleryPath(name, false));
  }
  // Names of the pictures in a task folder: the hidden source file and the metadata files
  // left out.
  std::set<std::string> Files(const fs::path& folder) const {
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec))
      if (entry.path().filename() != ".pageloom-source" &&
          entry.path().filename() != "ComicInfo.xml" && entry.path().filename() != "info.json")
        names.insert(entry.path().filename().string());
    return names;
  }
  void ExpectGallery(const std::string& folder, const std::string& name, int count) {
    std::set<std::string> expected;
    for (int i = 1; i <= count; ++i) {
      const std::string file = (i < 10 ? "00" : "0") + std::to_string(i) + ".jpg";
      expected.insert(file);
      EXPECT_EQ(ReadFileBytes(save.Path() / fs::u8path(folder) / file),
                EhSite::PictureBytes("/eh/pic/" + name + "/" + std::to_string(i) + ".jpg"));
    }
    EXPECT_EQ(Files(save.Path() / fs::u8path(folder)), expected);
  }

  TestServer server;
  EhSite eh{server};
  DmzjSite dmzj{server};
  TempDir save;
  TempDir home;
  std::unique_ptr<ProgramRun> last;
};

TEST_F(CliTest, GalleryAndChapterChainEndWholeWithPlainLines) {
  eh.AddGallery("g1", GalleryPlan("Abc", "g1", 3));
  dmzj.AddChapter("/c/1.shtml", Chapter(1, "2.shtml", 2));
  dmzj.AddChapter("/c/2.shtml", Chapter(2, "", 3));

  ASSERT_EQ(
      Run({"--save", save.Str(), "--follow", GalleryUrl("g1"), ToUtf8(dmzj.Address("/c/1.shtml"))}),
      0)
      << last->Out() << last->Err();
  ExpectGallery("Abc", "g1", 3);
  for (const auto& [chapter, count] : std::map<int, int>{{1, 2}, {2, 3}}) {
    const fs::path folder =
        save.Path() / fs::u8path("中文漫画/第" + std::to_string(chapter) + "话");
    EXPECT_EQ(Files(folder).size(), static_cast<std::size_t>(count));
    for (int i = 1; i <= count; ++i)
      EXPECT_EQ(ReadFileBytes(folder / ("00" + std::to_string(i) + ".png")),
                DmzjSite::PictureBytes("c/" + std::to_string(chapter) + "/p" + std::to_string(i) +
                                       ".png"));
  }
  const std::string out = last->Out();
  EXPECT_NE(out.find("[0] Abc: 2/2\n"), std::string::npos) << out;  // one line per picture
  EXPECT_NE(out.find("[0] Abc: finished (3/3)\n"), std::string::npos) << out;
  EXPECT_NE(out.find("[2] 中文漫画/第2话: finished (3/3)\n"), std::string::npos) << out;
  EXPECT_NE(out.find("3 tasks, 3 finished"), std::string::npos) << out;
  EXPECT_EQ(last->Err(), "");
  EXPECT_FALSE(fs::exists(home.Path() / "data" / "pageLoom")) << "no queue, no cookies kept";
}

TEST_F(CliTest, FailuresEndWithStatusOneAndAreListed) {
  EhGalleryPlan plan = GalleryPlan("Holes", "g2", 3);
  plan.pictures[1].served = false;
  eh.AddGallery("g2", plan);

  EXPECT_EQ(Run({"--save=" + save.Str(), "--user-agent", "Cli/3 (x)", GalleryUrl("g2"),
                 "http://elsewhere.invalid/x", eh.Url("/eh/g-gone/token/")}),
            1);
  EXPECT_EQ(server.LastHeader("User-Agent"), "Cli/3 (x)");
  EXPECT_EQ(Files(save.Path() / "Holes"), (std::set<std::string>{"001.jpg", "003.jpg"}));
  const std::string out = last->Out();
  EXPECT_NE(out.find("[0] Holes: 1 missing (3/3)"), std::string::npos) << out;
  EXPECT_NE(out.find("      002.jpg: HTTP 404\n"), std::string::npos) << out;
  EXPECT_NE(out.find("2 addresses gave no task:\n  http://elsewhere.invalid/x: addresses of this "
                     "site are not supported\n"),
            std::string::npos)
      << out;
  EXPECT_NE(
      out.find("  " + eh.Url("/eh/g-gone/token/") + ": cannot read the gallery page: HTTP 404\n"),
      std::string::npos)
      << out;
  EXPECT_NE(
      last->Err().find("addresses of this site are not supported: http://elsewhere.invalid/x\n"),
      std::string::npos);
  EXPECT_NE(last->Err().find("no task was added for " + eh.Url("/eh/g-gone/token/")),
            std::string::npos)
      << last->Err();
}

TEST_F(CliTest, AChineseLocaleGetsTheWindowsWordsAndTheSameFailures) {
  EhGalleryPlan plan = GalleryPlan("Holes", "g2", 3);
  plan.pictures[1].served = false;
  eh.AddGallery("g2", plan);
  last = std::make_unique<ProgramRun>(
      PAGELOOM_CLI_PATH,
      std::vector<std::string>{"--save", save.Str(), GalleryUrl("g2"),
                               "http://elsewhere.invalid/x"},
      std::map<std::string, std::string>{{"HOME", home.Str()},
                                         {"PAGELOOM_SITES_FILE", home.Str("sites")},
                                         {"PAGELOOM_RETRY_PAUSES_MS", "1,1"},
                                         {"PAGELOOM_LANG", ""},
                                         {"LANGUAGE", ""},
                                         {"LC_ALL", "zh_CN.UTF-8"}});
  ASSERT_EQ(last->Wait(), 1);
  const std::string out = last->Out();
  EXPECT_NE(out.find("[0] Holes: 未完成，缺1张 (3/3)\n"), std::string::npos) << out;
  EXPECT_NE(out.find("1个任务，0个已完成，1个未完成："), std::string::npos) << out;
  EXPECT_NE(out.find("      002.jpg: HTTP 404\n"), std::string::npos) << out;
  EXPECT_NE(last->Err().find("暂时不支持该网站漫画下载"), std::string::npos) << last->Err();
  for (const char* english : {"missing", "finished", "task", "address", "supported"})
    EXPECT_EQ((out + last->Err()).find(english), std::string::npos) << english << "\n" << out;
}

TEST_F(CliTest, AShortBanIsWaitedOutAndALongOneEndsTheRunWithStatusOne) {
  const std::string ban =
      "Your IP address has been temporarily banned for excessive pageloads. The ban expires in ";
  eh.AddGallery("g5", GalleryPlan("Short", "g5", 2));
  const std::string picture = EhSite::PictureBytes("/eh/pic/g5/1.jpg");
  auto asked = std::make_shared<std::atomic<int>>(0);
  server.Handle("/eh/pic/g5/1.jpg", [=](const httplib::Request&, httplib::Response& res) {
    if (++*asked == 1)
      res.set_content(ban + "1 second", "text/html");
    else
      res.set_content(picture, "image/jpeg");
  });
  EXPECT_EQ(Run({"--save", save.Str(), GalleryUrl("g5")}), 0) << last->Err();
  EXPECT_NE(last->Err().find("pageloom-cli: banned by EH, retry in 1 min: waiting for the ban"),
            std::string::npos)
      << last->Err();
  ExpectGallery("Short", "g5", 2);

  eh.AddGallery("g6", GalleryPlan("Long", "g6", 2));
  server.Serve("/eh/pic/g6/1.jpg", ban + "5 hours and 1 minute", "text/html");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Run({"--save", save.Str(), GalleryUrl("g6")}), 1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_NE(last->Err().find("pageloom-cli: banned by EH until "), std::string::npos)
      << last->Err();
  EXPECT_NE(last->Err().find(" (301 min): the run ends"), std::string::npos) << last->Err();
  EXPECT_TRUE(Files(save.Path() / "Long").empty());
}

TEST_F(CliTest, BadUsageEndsWithStatusTwoAndOneLinePointingToHelp) {
  const std::vector<std::vector<std::string>> bad{{},
                                                  {"--bogus", "x"},
                                                  {"--save"},
                                                  {"--save="},
                                                  {"-d"},
                                                  {"-qx", "x"},
                                                  {"-q", "-v", "x"},
                                                  {"--range", "5-2", "x"},
                                                  {"--range=1,,2", "x"},
                                                  {"--follow=yes", "x"},
                                                  {"--input", home.Str("no-such-list")},
                                                  {"-i", home.Str("no-such-list")},
                                                  {"--cookies", home.Str("no-such-cookies"), "x"},
                                                  {"--sleep", "5-2", "x"},
                                                  {"--sleep=soon", "x"}};
  for (const auto& args : bad) {
    EXPECT_EQ(Run(args), 2) << ::testing::PrintToString(args);
    const std::string said = last->Err();
    EXPECT_EQ(said.find("Usage:"), std::string::npos) << said;
    EXPECT_EQ(said.find('\n'), said.size() - 1) << said;
    EXPECT_EQ(said.rfind("pageloom-cli: ", 0), 0u) << said;
    EXPECT_NE(said.find("(try 'pageloom-cli --help')"), std::string::npos) << said;
    EXPECT_EQ(last->Out(), "");
  }
  EXPECT_EQ(Run({"--help"}), 0);
  EXPECT_NE(last->Out().find("--no-rename"), std::string::npos);
  EXPECT_EQ(Run({"--version"}), 0);
  EXPECT_EQ(last->Out(), std::string("pageloom-cli ") + kVersion + "\n");
}

TEST_F(CliTest, ShortFormsAndARangeStoreOnlyTheChosenPictures) {
  eh.AddGallery("r1", GalleryPlan("Ranged", "r1", 6));
  dmzj.AddChapter("/c/9.shtml", Chapter(9, "", 4));
  WriteFileBytes(home.Path() / "list", ToUtf8(dmzj.Address("/c/9.shtml")) + "\n");
  EXPECT_EQ(
      Run({"-d", save.Str(), "-q", "--range", "2-3,5", "-i" + home.Str("list"), GalleryUrl("r1")}),
      0)
      << last->Err();
  EXPECT_EQ(Files(save.Path() / "Ranged"),
            (std::set<std::string>{"002.jpg", "003.jpg", "005.jpg"}));
  EXPECT_EQ(ReadFileBytes(save.Path() / "Ranged" / "005.jpg"),
            EhSite::PictureBytes("/eh/pic/r1/5.jpg"));
  for (const int page : {1, 4, 6})
    EXPECT_EQ(eh.Hits("/eh/pic/r1/" + std::to_string(page) + ".jpg"), 0) << page;
  EXPECT_EQ(eh.Hits(EhSite::PagePath("r1", false, 6)), 0) << "no page is read past the range";
  const fs::path chapter = save.Path() / fs::u8path("中文漫画") / fs::u8path("第9话");
  EXPECT_EQ(Files(chapter), (std::set<std::string>{"002.png", "003.png"}));
  EXPECT_EQ(server.Hits("/dmzjpic/c/9/p4.png"), 0);
  EXPECT_EQ(last->Out().find("[0]"), std::string::npos) << "quiet: " << last->Out();
  EXPECT_EQ(last->Err().find("pageLoom: "), std::string::npos) << last->Err();

  eh.AddGallery("r2", GalleryPlan("Told", "r2", 1));
  EXPECT_EQ(Run({"-v", "-d" + save.Str(), GalleryUrl("r2")}), 0) << last->Err();
  EXPECT_NE(last->Err().find("pageLoom: 001.jpg"), std::string::npos) << last->Err();
  EXPECT_NE(last->Out().find("[0] Told: "), std::string::npos) << last->Out();
}

TEST_F(CliTest, ASaveFolderThatCannotTakePicturesIsSaidInOneLineBeforeAnyDownload) {
  eh.AddGallery("g", GalleryPlan("Abc", "g", 1));
  WriteFileBytes(home.Path() / "plain", "a file, not a folder");
  std::vector<std::string> folders{home.Str("plain") + "/sub"};
  TempDir readOnly;
  const bool mounted =
      ::mount("tmpfs", readOnly.Str().c_str(), "tmpfs", MS_RDONLY, "size=64k") == 0;
  if (mounted) folders.push_back(readOnly.Str());
  for (const std::string& folder : folders) {
    EXPECT_EQ(Run({"--save", folder, GalleryUrl("g")}), 2) << folder;
    const std::string err = last->Err();
    EXPECT_EQ(err.rfind("pageloom-cli: cannot save pictures in " + folder + ": ", 0), 0u) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  }
  if (mounted) ::umount2(readOnly.Str().c_str(), MNT_DETACH);
  EXPECT_EQ(eh.Hits(EhSite::GalleryPath("g", false)), 0) << "nothing was downloaded";
}

TEST_F(CliTest, SignalMidPictureLeavesNoPartialFile) {
  int stalled = 0;  // the server holds every stalled request to its end
  for (const auto& [signal, status] : std::map<int, int>{{SIGINT, 130}, {SIGTERM, 143}}) {
    const std::string name = "s" + std::to_string(signal);
    eh.AddGallery(name, GalleryPlan("Stop " + name, name, 3));
    server.Stall("/eh/pic/" + name + "/2.jpg", std::string(300, 'p'));
    std::unique_ptr<ProgramRun> run = Start({"--save", save.Str(), GalleryUrl(name)});
    ASSERT_TRUE(server.WaitForStalled(++stalled, std::chrono::seconds(60)));
    run->Signal(signal);
    EXPECT_EQ(run->Wait(), status) << run->Err();
    EXPECT_EQ(Files(save.Path() / ("Stop " + name)), std::set<std::string>{"001.jpg"});
    EXPECT_NE(run->Out().find("Stopped. 1 task, 0 finished, 1 not:"), std::string::npos)
        << run->Out();
  }
}

// The output of a shell command, and whether it ended with status 0.
std::pair<std::string, bool> Shell(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return {out, false};
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  return {out, pclose(pipe) == 0};
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t count = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++count;
  return count;
}

TEST_F(CliTest, CbzMetadataAndPackingFoldersMadeBefore) {
  EhGalleryPlan big = GalleryPlan("Big", "big", 300);
  EhGalleryDetails details;
  details.title = "Big &amp; Long";
  details.length = "300 pages";
  details.tags = {{"artist", {"pen"}}, {"female", {"glasses"}}};
  big.details = EhSite::DetailsMarkup(details);
  eh.AddGallery("big", big);
  dmzj.AddChapter("/c/9.shtml", Chapter(9, "", 2));
  ASSERT_EQ(
      Run({"--save", save.Str(), "--cbz", GalleryUrl("big"), ToUtf8(dmzj.Address("/c/9.shtml"))}),
      0)
      << last->Err();
  const std::string chapter = save.Str("中文漫画/第9话.cbz");
  EXPECT_FALSE(fs::exists(save.Path() / fs::u8path("中文漫画/第9话")));
  const std::string chapterXml = Shell("unzip -p '" + chapter + "' ComicInfo.xml").first;
  EXPECT_NE(chapterXml.find("<Series>中文漫画</Series>"), std::string::npos) << chapterXml;
  EXPECT_NE(chapterXml.find("<Number>9</Number>"), std::string::npos);
  const std::string archive = (save.Path() / "Big.cbz").string();
  EXPECT_FALSE(fs::exists(save.Path() / "Big"));
  EXPECT_TRUE(Shell("unzip -tqq '" + archive + "'").second);
  const auto [xml, read] = Shell("unzip -p '" + archive + "' ComicInfo.xml");
  ASSERT_TRUE(read);
  EXPECT_NE(xml.find("<Title>Big &amp; Long</Title>"), std::string::npos);
  EXPECT_NE(xml.find("<Tags>female:glasses</Tags>"), std::string::npos);
  EXPECT_EQ(Count(xml, "<Page "), 300u);
  EXPECT_NE(last->Out().find("finished (300/300)"), std::string::npos);

  // Without --cbz the folder keeps its metadata files, and --pack packs it later.
  eh.AddGallery("later", GalleryPlan("Later", "later", 3));
  EhGalleryPlan holes = GalleryPlan("Holes", "holes", 3);
  holes.pictures[2].served = false;
  eh.AddGallery("holes", holes);
  eh.AddGallery("bare", GalleryPlan("Bare", "bare", 1));
  EXPECT_EQ(Run({"--save", save.Str(), GalleryUrl("later"), GalleryUrl("holes")}), 1);
  EXPECT_EQ(Run({"--save", save.Str(), "--no-metadata", GalleryUrl("bare")}), 0);
  EXPECT_TRUE(fs::exists(save.Path() / "Later" / "ComicInfo.xml"));
  EXPECT_TRUE(fs::exists(save.Path() / "Later" / "info.json"));
  EXPECT_FALSE(fs::exists(save.Path() / "Bare" / "ComicInfo.xml"));
  EXPECT_FALSE(fs::exists(save.Path() / "Bare" / "info.json"));

  EXPECT_EQ(Run({"--pack", save.Str("Later"), save.Str("Holes"), save.Str("Bare")}), 1);
  EXPECT_NE(last->Out().find(save.Str("Later.cbz")), std::string::npos) << last->Out();
  EXPECT_NE(last->Err().find("Holes: 1 picture missing\n"), std::string::npos) << last->Err();
  EXPECT_EQ(Shell("unzip -Z1 '" + save.Str("Later.cbz") + "'").first,
            "001.jpg\n002.jpg\n003.jpg\nComicInfo.xml\n");
  EXPECT_EQ(Shell("unzip -Z1 '" + save.Str("Bare.cbz") + "'").first, "001.jpg\n");
  EXPECT_FALSE(fs::exists(save.Path() / "Later"));
  EXPECT_EQ(Files(save.Path() / "Holes"), (std::set<std::string>{"001.jpg", "002.jpg"}));
  EXPECT_FALSE(fs::exists(save.Path() / "Holes.cbz"));
  EXPECT_EQ(Run({"--pack"}), 2);
}

TEST_F(CliTest, AddressesFromStandardInputKeepTheirNames) {
  eh.AddGallery("g3", GalleryPlan("Listed", "g3", 2));
  dmzj.AddChapter("/c/7.shtml", Chapter(7, "", 2));
  const std::string input =
      "# my list\n\n   " + GalleryUrl("g3") + "  \r\n" + ToUtf8(dmzj.Address("/c/7.shtml")) + "\n";

  ASSERT_EQ(Run({"--save", save.Str(), "--no-rename", "--input", "-"}, input), 0) << last->Err();
  EXPECT_EQ(Files(save.Path() / "Listed"), (std::set<std::string>{"1.jpg", "2.jpg"}));
  EXPECT_EQ(Files(save.Path() / fs::u8path("中文漫画/第7话")),
            (std::set<std::string>{"p1.png", "p2.png"}));
}

TEST_F(CliTest, LastingQueueIsItsOwnAndHeldByOneProgram) {
  eh.AddGallery("g4", GalleryPlan("Kept", "g4", 2));
  const fs::path queue = home.Path() / "data" / "pageLoom" / "cli";
  fs::create_directories(queue);
  {
    std::optional<InstanceLock> held = InstanceLock::Acquire(queue / "lock");
    ASSERT_TRUE(held);
    EXPECT_EQ(Run({"--queue", "--save", save.Str(), GalleryUrl("g4")}), 1);
    EXPECT_NE(last->Err().find("another pageloom-cli is using the queue"), std::string::npos);
    EXPECT_FALSE(fs::exists(save.Path() / "Kept"));
  }
  EXPECT_EQ(Run({"--queue", "--save", save.Str(), GalleryUrl("g4")}), 0) << last->Err();
  ExpectGallery("Kept", "g4", 2);
  EXPECT_TRUE(fs::exists(queue / "queue.sqlite"));
  EXPECT_FALSE(fs::exists(home.Path() / "data" / "pageLoom" / "queue.sqlite"))
      << "the window's queue";
  // A finished task leaves the queue: the next run has nothing to do.
  EXPECT_EQ(Run({"--queue"}), 0);
  EXPECT_NE(last->Out().find("0 tasks, 0 finished: nothing to do."), std::string::npos)
      << last->Out();
}

// Columns a line of UTF-8 takes, the CJK characters of the program's texts two each.
int Columns(const std::string& line) {
  int columns = 0;
  for (unsigned char c : line) {
    if ((c & 0xC0) == 0x80) continue;
    columns += c >= 0xE3 && c <= 0xE9 ? 2 : 1;
  }
  return columns;
}

TEST_F(CliTest, TerminalKeepsLiveLinesWithinItsWidth) {
  eh.AddGallery("g5", GalleryPlan(std::string(90, 'T'), "g5", 3));
  const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(terminal, 0);
  ASSERT_EQ(grantpt(terminal), 0);
  ASSERT_EQ(unlockpt(terminal), 0);
  const std::string side = ptsname(terminal);
  const int held = open(side.c_str(), O_RDWR | O_NOCTTY);  // the terminal stays up after the child
  winsize size{};
  size.ws_col = 60;
  size.ws_row = 10;
  ASSERT_EQ(ioctl(terminal, TIOCSWINSZ, &size), 0);

  // The last picture waits until the live line of the two before it has been seen.
  const std::string lastPicture = "/eh/pic/g5/3.jpg";
  server.Stall(lastPicture);  // answers 503 when released
  last = Start({"--save", save.Str(), GalleryUrl("g5")}, {}, side);
  std::string screen;
  for (bool ended = false, released = false; !ended;) {
    ended = last->Wait(std::chrono::milliseconds(0)).has_value();
    pollfd ready{terminal, POLLIN, 0};
    char buffer[4096];
    while (poll(&ready, 1, ended ? 0 : 20) > 0 && (ready.revents & POLLIN) != 0) {
      const ssize_t got = read(terminal, buffer, sizeof buffer);
      if (got <= 0) break;
      screen.append(buffer, static_cast<std::size_t>(got));
    }
    if (!released && screen.find("2/2  downloading") != std::string::npos) {
      server.Serve(lastPicture, EhSite::PictureBytes(lastPicture),
                   "image/jpeg");  // its retry gets it
      server.ReleaseStalls();
      released = true;
    }
  }
  close(held);
  close(terminal);
  EXPECT_EQ(last->Wait(), 0) << last->Err();
  EXPECT_NE(screen.find("\x1b[2A\r\x1b[J"), std::string::npos)
      << "the block of task and total is redrawn";
  EXPECT_NE(screen.find("\ntotal: "), std::string::npos) << screen;
  EXPECT_NE(screen.find("1 task, 1 finished: every picture is there."), std::string::npos);
  int live = 0;
  for (std::size_t start = 0, end; start < screen.size(); start = end + 1) {
    end = std::min(screen.find('\n', start), screen.size());
    std::string line = screen.substr(start, end - start);
    line = line.substr(
        line.rfind('\x1b') == std::string::npos ? 0 : line.find('J', line.rfind('\x1b')) + 1);
    if (line.find("downloading") == std::string::npos && line.find("queued") == std::string::npos)
      continue;
    ++live;
    EXPECT_LE(Columns(line), 60) << line;  // the '\r' of the terminal's line end included
  }
  EXPECT_GE(live, 1);
}

// Each line of `out` read as a JSON object: its "event", then its other members in a
// fixed order (name=value), as one string per line.
std::vector<std::string> JsonEventsOf(const std::string& out) {
  std::vector<std::string> events;
  for (const QByteArray& line : QByteArray::fromStdString(out).split('\n')) {
    if (line.isEmpty()) continue;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
    const QJsonObject object = document.object();
    std::string text = object.value("event").toString().toStdString();
    for (const char* key : {"task", "file", "state", "file_number", "picture_count", "missing",
                            "reason", "http_status", "content_type", "reason_text", "exit_status",
                            "tasks", "finished", "incomplete", "failed_addresses"}) {
      if (!object.contains(key)) continue;
      const QJsonValue value = object.value(key);
      text +=
          std::string(" ") + key + "=" +
          (value.isString() ? value.toString().toStdString() : std::to_string(value.toInteger()));
    }
    events.push_back(text);
  }
  return events;
}

TEST_F(CliTest, JsonLinesTellEveryEventAndParseBack) {
  EhGalleryPlan plan = GalleryPlan("Holes", "g2", 3);
  plan.pictures[1].served = false;
  eh.AddGallery("g2", plan);
  const std::string gone = eh.Url("/eh/g-gone/token/");
  EXPECT_EQ(Run({"--json", "--save=" + save.Str(), GalleryUrl("g2"), gone}), 1);
  const std::string folder = save.Str() + "/Holes/";
  // The address that gave no task is told when its reading ends, among the task's events.
  std::vector<std::string> events = JsonEventsOf(last->Out());
  const auto failed = std::find(events.begin(), events.end(),
                                "address_failed reason=http http_status=404 reason_text=HTTP 404");
  ASSERT_NE(failed, events.end()) << last->Out();
  events.erase(failed);
  EXPECT_EQ(events,
            (std::vector<std::string>{
                "task_added task=0 state=preparing file_number=0 picture_count=0",
                "task_state task=0 state=downloading file_number=0 picture_count=0 "
                "missing=0",
                "picture_stored task=0 file_number=1 picture_count=1",
                "picture_failed task=0 file=002.jpg file_number=2 picture_count=2 "
                "reason=http http_status=404 reason_text=HTTP 404",
                "picture_stored task=0 file_number=3 picture_count=3",
                "task_state task=0 state=incomplete file_number=3 picture_count=3 "
                "missing=1",
                "run_end exit_status=1 tasks=1 finished=0 incomplete=1 failed_addresses=1"}))
      << last->Out();
  EXPECT_NE(last->Out().find("\"folder\":\"" + folder + "\""), std::string::npos);
  EXPECT_NE(last->Out().find("\"address\":\"" + gone + "\""), std::string::npos);
}

TEST_F(CliTest, AnAnswerThatIsNoPictureIsToldWithItsContentType) {
  eh.AddGallery("g7", GalleryPlan("Portal", "g7", 2));
  server.Serve("/eh/pic/g7/2.jpg", "<html><form>Log in</form></html>", "text/html");
  EXPECT_EQ(Run({"--save=" + save.Str(), GalleryUrl("g7")}), 1);
  EXPECT_NE(last->Out().find("      002.jpg: not a picture (text/html)\n"), std::string::npos)
      << last->Out();
  EXPECT_EQ(Run({"--json", "--save=" + save.Str("json"), GalleryUrl("g7")}), 1);
  const std::vector<std::string> events = JsonEventsOf(last->Out());
  EXPECT_NE(std::find(events.begin(), events.end(),
                      "picture_failed task=0 file=002.jpg file_number=2 picture_count=2 "
                      "reason=not_a_picture http_status=200 content_type=text/html "
                      "reason_text=not a picture (text/html)"),
            events.end())
      << last->Out();
  EXPECT_EQ(Files(save.Path() / "json" / "Portal"), (std::set<std::string>{"001.jpg"}));
}

// The terminal's window seen from inside: what other threads hand over runs on the main
// thread in order, only the latest picture bytes of a task wait, and once closing only
// messages still come through.
class Heard : public cli::RunListener {
 public:
  void OnTaskAdded(const cli::TaskTable::Row& row) override {
    log.push_back("added " + std::to_string(row.taskNo));
  }
  void OnTaskChanged(const TaskSnapshot& before, const cli::TaskTable::Row& row) override {
    log.push_back("step " + std::to_string(row.taskNo) + " " + cli::ProgressText(before) + ">" +
                  cli::ProgressText(row.snapshot) + " " +
                  cli::StatusWord(row.snapshot, UiLanguage::kEnglish));
  }
  void OnAddEnded(const std::u16string& address, int tasksMade,
                  const std::optional<FailureReason>& failure) override {
    log.push_back("add " + ToUtf8(address) + " " + std::to_string(tasksMade) +
                  (failure ? " " + cli::ReasonText(*failure, UiLanguage::kEnglish) : ""));
  }
  void OnPictureBytes(int taskNo, std::uint64_t received, std::int64_t total) override {
    log.push_back("bytes " + std::to_string(taskNo) + " " + std::to_string(received) + "/" +
                  std::to_string(total));
  }
  void OnWorkerEnded(int siteKind) override { log.push_back("ended " + std::to_string(siteKind)); }
  void OnMessage(const Message& message) override {
    log.push_back("message " + cli::MessageText(message, UiLanguage::kEnglish));
  }
  void OnRunEnded(const RunEnded& ended) override {
    log.push_back("run ended " + std::to_string(ended.tasks));
  }
  std::vector<std::string> log;
};

TEST(TerminalText, HiddenControlsAreShownEscapedAndFoldersElsewhereByTheirName) {
  EXPECT_EQ(cli::Printable(u"a\u202Eb\x1B[2J\u0085\u200Fc\nd"),
            u"a\\u202Eb\\u001B[2J\\u0085\\u200Fc d");
  EXPECT_EQ(cli::Printable(u"x\ny", true), u"x\ny");
  cli::ProgressView view(stdout, stderr, false, u"/home/u/comic");
  EXPECT_EQ(view.TitleOf(u"/home/u/comic/漫画/第1话/"), u"漫画/第1话");
  // A task kept in the queue from a run with another save folder.
  EXPECT_EQ(view.TitleOf(u"/srv/other/Abc/"), u"Abc");
}

TEST(TerminalWindowTest, HandsOverInOrderOnTheMainThread) {
  Heard heard;
  cli::TerminalWindow window(heard);
  window.Publish(TaskAdded{4, u"/save/t/", MakeSnapshot(TaskStatus::kPreparing, 0, 3)});
  std::thread worker([&window] {
    for (std::uint64_t bytes = 1; bytes <= 1000; ++bytes)
      window.PostPictureProgress(4, bytes, 1000);
    window.Publish(TaskChanged{4, MakeSnapshot(TaskStatus::kDownloading, 1, 3)});
    window.Publish(TaskChanged{9, MakeSnapshot(TaskStatus::kDownloading, 1, 1)});  // dropped
    window.ShowMessage(Message{MessageKind::kSelectRows, {}});
    window.PostAddEnded(u"http://x/g/", 0, FailureReason{FailureKind::kHttpStatus, 404});
    window.PostWorkerEnded(1);
  });
  worker.join();
  pollfd ready{window.WakeFd(), POLLIN, 0};
  EXPECT_EQ(poll(&ready, 1, 0), 1) << "the main loop is woken";
  window.RunEvents();
  EXPECT_EQ(heard.log, (std::vector<std::string>{
                           "added 4", "bytes 4 1000/1000", "step 4 0/3>1/3 downloading",
                           "message no task chosen", "add http://x/g/ 0 HTTP 404", "ended 1"}));
  ASSERT_NE(window.Table().Find(4), nullptr);
  EXPECT_EQ(window.Table().Find(4)->snapshot.status, TaskStatus::kDownloading);

  heard.log.clear();
  window.BeginClosing();
  std::thread([&window] {
    window.Publish(TaskChanged{4, MakeSnapshot(TaskStatus::kPaused, 2, 3)});
    window.Post([] { ADD_FAILURE() << "work after closing"; });
    window.ShowMessage(Message{MessageKind::kEnterAddress, {}});
  }).join();
  window.RunEvents();
  EXPECT_EQ(heard.log, std::vector<std::string>{"message no address given"});
  EXPECT_FALSE(window.PickFolder(Message{MessageKind::kPickSaveFolder, {}}))
      << "no picker on a terminal";
}

}  // namespace
}  // namespace pageloom::test
