// The EH adapter: how its pages are read, and galleries from Add to the last picture.
#include <array>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include <gtest/gtest.h>

#include "app/task_controller.h"
#include "base/fixed_text.h"
#include "net/page_fetch.h"
#include "sites/eh/eh_pages.h"
#include "store/folder_claims.h"
#include "support/eh_site.h"
#include "support/fake_window.h"
#include "support/test_server.h"
#include "support/test_settings.h"

namespace pageloom {
namespace {

// Page text in a buffer that holds exactly the text and its terminator.
struct Text {
  explicit Text(const std::string& s) : bytes(s.begin(), s.end()) { bytes.push_back(0); }
  char* data() { return bytes.data(); }
  std::size_t size() const { return bytes.size(); }
  std::string all() const { return std::string(bytes.begin(), bytes.end()); }
  std::vector<char> bytes;
};

const std::string kMirrorGallery =
    "<div id=\"gh\"><div class=\"gi\"><a href=\"http://x/lofi/s/ab/12-1\"><img src=\"t1\"/>"
    "</a></div><div class=\"gi\"><a href=\"http://x/lofi/s/ab/12-2\"></a></div>";
const std::string kMainGallery =
    "<div class=\"gdtm\"><a href=\"http://x/s/ab/12-1\"><img alt=\"01\" title=\"p1\"/></a>"
    "<a href=\"http://x/s/ab/12-2\"><img alt=\"02\"/></a>";

std::string PicturePage(const std::string& next, const std::string& id,
                        const std::string& picture) {
  return "<html><title>T</title><a href=\"" + next + "\"><img id=\"" + id + "\" src=\"" + picture +
         "\" style=\"w\"/></a>";
}

TEST(EHGalleryPage, MirrorFormGivesTheFirstGiLink) {
  Text t(kMirrorGallery);
  const char* first = ParseEHMirrorGallery(t.data(), t.size());
  ASSERT_NE(first, nullptr);
  EXPECT_STREQ(first, "http://x/lofi/s/ab/12-1");
}

TEST(EHGalleryPage, MirrorMarkerNeedsTwentyFourBytesAndAClosingQuote) {
  const std::string marker = "div class=\"gi\"";
  // Exactly 24 bytes from the marker's start to the end: the address would start at
  // the terminator.
  {
    Text t("ab" + marker + "><a href=\"");
    ASSERT_EQ(t.size(), 2u + 24u + 1u);
    EXPECT_EQ(ParseEHMirrorGallery(t.data(), t.size()), nullptr);
  }
  {
    Text t(marker + "><a href=");  // fewer than 24 bytes
    EXPECT_EQ(ParseEHMirrorGallery(t.data(), t.size()), nullptr);
  }
  {
    Text t(marker + "><a href=\"http://x/s/1-1");  // no closing quote
    const std::string before = t.all();
    EXPECT_EQ(ParseEHMirrorGallery(t.data(), t.size()), nullptr);
    EXPECT_EQ(t.all(), before);
  }
  {
    Text t(marker + "><a href=\"\"");  // shortest shape: an empty address
    const char* first = ParseEHMirrorGallery(t.data(), t.size());
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first, "");
  }
  {
    Text t("<div class=\"GI\"><a href=\"http://x/\">");  // case counts
    EXPECT_EQ(ParseEHMirrorGallery(t.data(), t.size()), nullptr);
  }
}

TEST(EHGalleryPage, MainFormGivesTheLinkAroundTheFirstThumbnail) {
  Text t(kMainGallery);
  const char* first = ParseEHMainGallery(t.data(), t.size());
  ASSERT_NE(first, nullptr);
  EXPECT_STREQ(first, "http://x/s/ab/12-1");
}

TEST(EHGalleryPage, MainMarkerNeedsThreeBytesAndAQuoteBeforeIt) {
  for (const char* page : {"img alt=\"", "a\"img alt=\"", "\"\"img alt=\"", "abcimg alt=\"x"}) {
    Text t(page);
    const std::string before = t.all();
    EXPECT_EQ(ParseEHMainGallery(t.data(), t.size()), nullptr) << page;
    EXPECT_EQ(t.all(), before) << page;
  }
  Text t("ab\"\"><img alt=\"");  // a quote right before the cut: empty address
  const char* first = ParseEHMainGallery(t.data(), t.size());
  ASSERT_NE(first, nullptr);
  EXPECT_STREQ(first, "");
  EXPECT_EQ(first, t.data() + 3);
}

TEST(EHTitle, RunsToTheNextTag) {
  Text t("<head><title>Abc Page 1</title></head>");
  const char* title = ParseEHTitle(t.data(), t.size());
  ASSERT_NE(title, nullptr);
  EXPECT_STREQ(title, "Abc Page 1");

  Text empty("<title><");
  const char* none = ParseEHTitle(empty.data(), empty.size());
  ASSERT_NE(none, nullptr);
  EXPECT_STREQ(none, "");

  for (const char* page : {"<title>Abc", "<title>", "<TITLE>Abc</TITLE>", ""}) {
    Text bad(page);
    const std::string before = bad.all();
    EXPECT_EQ(ParseEHTitle(bad.data(), bad.size()), nullptr) << page;
    EXPECT_EQ(bad.all(), before);
  }
}

TEST(EHPicturePage, TwoAndThreeLetterIds) {
  for (const std::string id : {"sm", "img"}) {
    Text t(PicturePage("http://x/s/ab/12-2", id, "http://x/p/ab7/p1.jpg"));
    EHPicturePage page;
    ASSERT_TRUE(ParseEHPicturePage(t.data(), t.size(), page)) << id;
    EXPECT_STREQ(page.pictureUrl, "http://x/p/ab7/p1.jpg");
    EXPECT_EQ(page.pictureLength, std::strlen(page.pictureUrl));
    EXPECT_STREQ(page.nextPageUrl, "http://x/s/ab/12-2");
    EXPECT_EQ(page.nextPageLength, std::strlen(page.nextPageUrl));
  }
}

TEST(EHPicturePage, OffsetsAreCheckedAgainstBothEndsOfTheText) {
  const char* bad[] = {
      "img id=\"sm\" src=\"http://p\"",               // marker at 0: nothing before the link end
      "\"x\"img id=\"sm\" src=\"http://p\"",          // marker at 3: no quote before the cut
      "\"a\"><img id=\"sm\" src=",                    // the text ends 16 bytes after the marker
      "\"a\"><img id=\"sm\" src=\"",                  // ... 17 bytes: byte 17 is the terminator
      "\"a\"><img id=\"img\" src=\"",                 // three letters, quote at 17, nothing after
      "\"a\"><img id=\"sm\" src=\"http://p/q.jpg",    // no quote after the picture address
      "\"a\"><IMG ID=\"sm\" src=\"http://p/q.jpg\"",  // case counts
  };
  for (const char* p : bad) {
    Text t(p);
    const std::string before = t.all();
    EHPicturePage page;
    EXPECT_FALSE(ParseEHPicturePage(t.data(), t.size(), page)) << p;
    EXPECT_EQ(t.all(), before) << p;
    EXPECT_EQ(page.pictureUrl, nullptr);
  }
  // The shortest page of the shape: an empty next page and an empty picture address.
  Text t("\"\"><img id=\"img\" src=\"\"");
  EHPicturePage page;
  ASSERT_TRUE(ParseEHPicturePage(t.data(), t.size(), page));
  EXPECT_STREQ(page.pictureUrl, "");
  EXPECT_STREQ(page.nextPageUrl, "");
  EXPECT_EQ(page.nextPageUrl, t.data() + 1);
}

TEST(EHPicturePage, TextWithoutTerminatorHasNoMarkers) {
  const std::string p = PicturePage("http://x/s/1-2", "img", "http://x/p/a/b.jpg");
  std::vector<char> raw(p.begin(), p.end());  // no zero byte anywhere
  EHPicturePage page;
  EXPECT_FALSE(ParseEHPicturePage(raw.data(), raw.size(), page));
  EXPECT_EQ(ParseEHTitle(raw.data(), raw.size()), nullptr);
  std::vector<char> gallery(kMainGallery.begin(), kMainGallery.end());
  EXPECT_EQ(ParseEHMainGallery(gallery.data(), gallery.size()), nullptr);
  std::vector<char> mirror(kMirrorGallery.begin(), kMirrorGallery.end());
  EXPECT_EQ(ParseEHMirrorGallery(mirror.data(), mirror.size()), nullptr);
  EXPECT_EQ(ParseEHMirrorGallery(nullptr, 10), nullptr);
}

TEST(EHPicturePage, MirrorRuleRewritesTheByteBeforeTheLastSlash) {
  Text t(PicturePage("http://x/lofi/s/12-2", "sm", "http://x/p/ab7/p.jpg"));
  EHPicturePage page;
  ASSERT_TRUE(ParseEHPicturePage(t.data(), t.size(), page));
  ASSERT_TRUE(ApplyEHMirrorRule(page));
  EXPECT_STREQ(page.pictureUrl, "http://x/p/ab3/p.jpg");

  for (const char* picture : {"p.jpg", "/p.jpg", ""}) {
    Text u(PicturePage("http://x/lofi/s/12-2", "img", picture));
    EHPicturePage p2;
    ASSERT_TRUE(ParseEHPicturePage(u.data(), u.size(), p2));
    const std::string before = u.all();
    EXPECT_FALSE(ApplyEHMirrorRule(p2)) << picture;
    EXPECT_EQ(u.all(), before);
  }
  EHPicturePage none;
  EXPECT_FALSE(ApplyEHMirrorRule(none));
}

// Pages stitched from the markers' pieces: whatever comes out lies inside the text.
TEST(EHPages, StitchedRandomPagesStayInsideTheText) {
  const std::vector<std::string> pieces = {"div class=\"gi\"",
                                           "img alt=\"",
                                           "<title>",
                                           "img id",
                                           "\"",
                                           "<",
                                           "/",
                                           ">",
                                           "a",
                                           "=\"img\" src=\"",
                                           "=\"sm\" src=\"",
                                           "><a href=\"",
                                           "http://x/p/ab7/q.jpg",
                                           "3"};
  std::mt19937 rng(12345);
  for (int round = 0; round < 4000; ++round) {
    std::string s;
    const int n = static_cast<int>(rng() % 12);
    for (int i = 0; i < n; ++i) s += pieces[rng() % pieces.size()];
    for (int kind = 0; kind < 4; ++kind) {
      Text t(s);
      const char* begin = t.data();
      const char* end = begin + t.size();
      auto inside = [&](const char* p) {
        return p == nullptr || (p >= begin && p < end && std::memchr(p, 0, end - p) != nullptr);
      };
      switch (kind) {
        case 0:
          ASSERT_TRUE(inside(ParseEHMirrorGallery(t.data(), t.size()))) << s;
          break;
        case 1:
          ASSERT_TRUE(inside(ParseEHMainGallery(t.data(), t.size()))) << s;
          break;
        case 2:
          ASSERT_TRUE(inside(ParseEHTitle(t.data(), t.size()))) << s;
          break;
        default: {
          EHPicturePage page;
          if (ParseEHPicturePage(t.data(), t.size(), page)) {
            ApplyEHMirrorRule(page);
            ASSERT_TRUE(inside(page.pictureUrl) && inside(page.nextPageUrl)) << s;
            ASSERT_EQ(std::strlen(page.pictureUrl), page.pictureLength) << s;
          }
        }
      }
      ASSERT_EQ(t.bytes.back(), 0);
    }
  }
}

// --- galleries from Add to the last picture ---

using test::EhGalleryPlan;
using test::EhPicturePlan;
using test::EhSite;
using test::FakeWindow;
namespace fs = std::filesystem;

constexpr char16_t kLoginMessage[] =
    u"解析网址失败，可能由于已经过了9点，需要登录才能下载。请到e绅士论坛注册并用ie登录后重试";

EhGalleryPlan ThreePictures(const std::string& title, bool mirror) {
  const std::string base = mirror ? "/eh/lofi/pic/ab7/" : "/eh/pic/ab7/";
  return {title, mirror, {{base + "one.jpg"}, {base + "two.png"}, {base + "three.gif"}}};
}

// Each gallery runs twice: with the next page read ahead while a picture downloads, and
// with the steps one after the other.
class EhDownload : public ::testing::TestWithParam<bool> {
 protected:
  EhDownload() {
    window.SetSaveFolderText(dir.Wide());
    site.SetPageHook([this](const std::string& path) {
      std::lock_guard<std::mutex> lock(seenMutex);
      seen.push_back(path + " " + RowText(0));
    });
  }
  ~EhDownload() override {
    controller.Shutdown();
    site.SetPageHook(nullptr);
  }

  std::string RowText(int taskNo) const {
    const auto row = window.TaskRow(taskNo);
    return row ? ToUtf8((*row)[2] + u" " + (*row)[3]) : "-";
  }
  void Add(const std::u16string& address) {
    window.SetAddressText(address);
    controller.AddAddresses(window.AddressText(), window.Options());
    EXPECT_TRUE(test::WaitForAdds(controller.Adding(), std::chrono::seconds(10)));
  }
  // Start, then wait until the EH worker has ended its walk.
  void RunToEnd() {
    controller.Start();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (controller.Workers().Running(SITE_EH) && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_FALSE(controller.Workers().Running(SITE_EH));
  }
  bool Overlapped() const { return GetParam(); }
  std::vector<std::string> Seen() {
    std::lock_guard<std::mutex> lock(seenMutex);
    return seen;
  }
  // The pages asked for, in order, without the rows.
  std::vector<std::string> SeenPages() {
    std::vector<std::string> pages;
    for (const std::string& entry : Seen()) pages.push_back(entry.substr(0, entry.find(' ')));
    return pages;
  }
  std::set<std::string> Files(const std::string& folder) const {
    std::set<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(dir.Path() / fs::u8path(folder), error))
      if (entry.path().filename() != kFolderSourceFile)
        names.insert(entry.path().filename().u8string());
    return names;
  }
  std::string File(const std::string& folder, const std::string& name) const {
    return test::ReadFileBytes(dir.Path() / fs::u8path(folder) / fs::u8path(name));
  }

  test::TestServer server;
  EhSite site{server};
  test::TempDir dir;
  FakeWindow window;
  TaskController controller{window, [this] {
                              ControllerSettings settings = test::TestSettings(site.Names());
                              settings.overlap = Overlapped();
                              return settings;
                            }()};
  std::mutex seenMutex;
  std::vector<std::string> seen;  // page requests with the row of task 0 at that moment
};

TEST_P(EhDownload, MainGalleryWithRenamingOn) {
  site.AddGallery("101", ThreePictures("EH Main Page 1", false));
  server.Serve("/eh/pic/ab3/one.jpg", "wrong picture");  // the mirror rule must not apply
  Add(site.Address(EhSite::GalleryPath("101", false)));

  const std::u16string folder = dir.Wide() + u"/EH Main/";
  ASSERT_EQ(window.RowCount(), 1);
  EXPECT_EQ(window.RowAt(0), (FakeWindow::Row{u"0", folder, u"0/0", u"准备中"}));
  EXPECT_TRUE(fs::is_directory(dir.Path() / "EH Main"));
  const auto task = controller.Tasks().Find(0);
  ASSERT_TRUE(task);
  EXPECT_EQ(task->GetStartUrl(), site.Address(EhSite::PagePath("101", false, 1)));
  EXPECT_EQ(task->GetFolder(), folder);
  EXPECT_EQ(task->GetSiteKind(), SITE_EH);

  RunToEnd();
  EXPECT_EQ(window.RowAt(0), (FakeWindow::Row{u"0", folder, u"3/3", u"已完成"}));
  EXPECT_EQ(Files("EH Main"), (std::set<std::string>{"001.jpg", "002.png", "003.gif"}));
  EXPECT_EQ(File("EH Main", "001.jpg"), EhSite::PictureBytes("/eh/pic/ab7/one.jpg"));
  EXPECT_EQ(File("EH Main", "002.png"), EhSite::PictureBytes("/eh/pic/ab7/two.png"));
  EXPECT_EQ(File("EH Main", "003.gif"), EhSite::PictureBytes("/eh/pic/ab7/three.gif"));
  EXPECT_EQ(server.Hits("/eh/pic/ab3/one.jpg"), 0);
  // Add read the gallery and the first page; every step read its page once. One after
  // the other, the row shows each step's result by the time the next page is asked for,
  // and shows the task downloading from the moment its worker takes it.
  const std::string p1 = EhSite::PagePath("101", false, 1);
  const std::string p2 = EhSite::PagePath("101", false, 2);
  const std::string p3 = EhSite::PagePath("101", false, 3);
  EXPECT_EQ(SeenPages(),
            (std::vector<std::string>{EhSite::GalleryPath("101", false), p1, p1, p2, p3}));
  if (!Overlapped()) {
    EXPECT_EQ(Seen(), (std::vector<std::string>{EhSite::GalleryPath("101", false) + " -", p1 + " -",
                                                p1 + " 0/0 下载中", p2 + " 1/1 下载中",
                                                p3 + " 2/2 下载中"}));
  }

  // A finished task is never fetched again.
  const int hits = server.TotalHits();
  RunToEnd();
  EXPECT_EQ(server.TotalHits(), hits);
  EXPECT_EQ(window.RowAt(0)[3], u"已完成");
  EXPECT_TRUE(window.Messages().empty());
}

TEST_P(EhDownload, MirrorGalleryWithRenamingOffFetchesTheSmallerCopy) {
  site.AddGallery("202", ThreePictures("镜像画廊 Page 1", true));  // UTF-8, as sent
  server.Serve("/eh/lofi/pic/ab7/one.jpg", "full-size picture");
  window.SetAutoRename(false);
  Add(site.Address(EhSite::GalleryPath("202", true)));
  ASSERT_EQ(window.RowCount(), 1);
  EXPECT_EQ(window.RowAt(0)[1], dir.Wide() + u"/镜像画廊/");
  EXPECT_EQ(controller.Tasks().Find(0)->GetStartUrl(),
            site.Address(EhSite::PagePath("202", true, 1)));

  RunToEnd();
  EXPECT_EQ(window.RowAt(0)[2], u"0/3");
  EXPECT_EQ(window.RowAt(0)[3], u"已完成");
  EXPECT_EQ(Files("镜像画廊"), (std::set<std::string>{"one.jpg", "two.png", "three.gif"}));
  EXPECT_EQ(File("镜像画廊", "one.jpg"), EhSite::PictureBytes("/eh/lofi/pic/ab3/one.jpg"));
  EXPECT_EQ(File("镜像画廊", "three.gif"), EhSite::PictureBytes("/eh/lofi/pic/ab3/three.gif"));
  EXPECT_EQ(server.Hits("/eh/lofi/pic/ab7/one.jpg"), 0);
  EXPECT_EQ(server.Hits("/eh/lofi/pic/ab3/two.png"), 1);
  const auto seenPages = Seen();
  ASSERT_EQ(seenPages.size(), 5u);
  EXPECT_EQ(SeenPages()[4], EhSite::PagePath("202", true, 3));
  if (!Overlapped()) {
    EXPECT_EQ(seenPages[3], EhSite::PagePath("202", true, 2) + " 0/1 下载中");
    EXPECT_EQ(seenPages[4], EhSite::PagePath("202", true, 3) + " 0/2 下载中");
  }
}

// One line per event: what it is, the task, its numbers, status and missing pictures.
std::vector<std::string> EventLines(const std::vector<TaskEvent>& events) {
  std::vector<std::string> lines;
  for (const TaskEvent& event : events) {
    const TaskSnapshot* shot = nullptr;
    std::string line;
    if (const auto* added = std::get_if<TaskAdded>(&event)) {
      line = "added " + std::to_string(added->no);
      shot = &added->snapshot;
    } else if (const auto* changed = std::get_if<TaskChanged>(&event)) {
      line = "changed " + std::to_string(changed->no);
      shot = &changed->snapshot;
    } else if (const auto* ended = std::get_if<RunEnded>(&event)) {
      line = "run ended " + std::to_string(ended->tasks) + " " + std::to_string(ended->finished) +
             " " + std::to_string(ended->incomplete);
    } else if (const auto* removed = std::get_if<TaskRemoved>(&event)) {
      line = "removed " + std::to_string(removed->no);
    } else if (const auto* many = std::get_if<TasksRemoved>(&event)) {
      for (const int no : many->nos) line += (line.empty() ? "removed " : " ") + std::to_string(no);
    }
    if (shot != nullptr) {
      line += " " + ToUtf8(FakeWindow::ProgressText(*shot) + u" " + FakeWindow::StatusText(*shot));
      for (const MissingFile& file : shot->missing)
        line +=
            " " + ToUtf8(file.fileName) + ":" +
            (file.reason.kind == FailureKind::kHttpStatus ? std::to_string(file.reason.httpStatus)
                                                          : "other");
    }
    lines.push_back(line);
  }
  return lines;
}

TEST_P(EhDownload, ARunTellsItsTasksEventsInOrderWithTheReasonOfAMissingPicture) {
  EhGalleryPlan plan = ThreePictures("Told", false);
  plan.pictures[1].served = false;  // 404
  site.AddGallery("404", plan);
  Add(site.Address(EhSite::PagePath("404", false, 1)));
  Add(site.Address("/eh/g-gone/token/"));
  RunToEnd();
  // The engine says the run has ended once its worker has gone.
  for (int i = 0; i < 5000 && !std::holds_alternative<RunEnded>(window.Events().back()); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_EQ(
      EventLines(window.Events()),
      (std::vector<std::string>{"added 0 0/0 准备中", "changed 0 0/0 下载中",
                                "changed 0 1/1 下载中", "changed 0 2/2 下载中 002.png:404",
                                "changed 0 3/3 未完成，缺1张 002.png:404", "run ended 1 0 1"}));
  const std::vector<FakeWindow::AddEnd> ends = window.AddEnds();
  ASSERT_EQ(ends.size(), 2u);
  EXPECT_EQ(ends[0].tasksMade, 1);
  EXPECT_EQ(ends[1].tasksMade, 0);
  ASSERT_TRUE(ends[1].failure);
  EXPECT_EQ(*ends[1].failure, (FailureReason{FailureKind::kHttpStatus, 404}));
}

TEST_P(EhDownload, TheGalleryOperationsUnderTheirOwnNamesAddAGalleryAndItsWorkerRunsIt) {
  site.AddGallery("77", ThreePictures("Named", false));
  std::array<char16_t, kUrlCapacity> address{};
  CopyWide(address.data(), address.size(), site.Address(EhSite::GalleryPath("77", false)));
  ASSERT_EQ(controller.Adding().FindEHFirstPage(address.data()), 1);
  EXPECT_EQ(WideView(address.data(), address.size()),
            site.Address(EhSite::PagePath("77", false, 1)));
  EXPECT_EQ(controller.Adding().AddEHTask(address.data(), window.Options()), 1);
  ASSERT_EQ(window.RowCount(), 1);
  DownloadThreadEH(&controller);  // the worker's walk, on this thread, to its end
  EXPECT_EQ(window.RowAt(0)[2], u"3/3");
  EXPECT_EQ(window.RowAt(0)[3], u"已完成");
  EXPECT_EQ(Files("Named"), (std::set<std::string>{"001.jpg", "002.png", "003.gif"}));
}

TEST_P(EhDownload, FailedPictureIsShownMissingAndTheNextStartStoresItUnderItsNumber) {
  EhGalleryPlan plan = ThreePictures("Gaps", false);
  plan.pictures[1].served = false;  // 404: not tried again
  site.AddGallery("303", plan);
  Add(site.Address(EhSite::PagePath("303", false, 1)));  // a picture page address
  RunToEnd();
  EXPECT_EQ(window.RowAt(0)[2], u"3/3");
  EXPECT_EQ(window.RowAt(0)[3], u"未完成，缺1张");
  EXPECT_EQ(Files("Gaps"), (std::set<std::string>{"001.jpg", "003.gif"}));
  EXPECT_EQ(server.Hits("/eh/pic/ab7/two.png"), 1);

  // Still failing: the task stays unfinished, nothing else is fetched again.
  RunToEnd();
  EXPECT_EQ(window.RowAt(0)[3], u"未完成，缺1张");
  EXPECT_EQ(server.Hits(EhSite::PagePath("303", false, 1)), 2);  // Add and the walk

  // The server heals: the page is read again for the picture, kept as 002.
  plan.pictures[1].served = true;
  site.AddGallery("303", plan);
  RunToEnd();
  EXPECT_EQ(window.RowAt(0)[2], u"3/3");
  EXPECT_EQ(window.RowAt(0)[3], u"已完成");
  EXPECT_EQ(Files("Gaps"), (std::set<std::string>{"001.jpg", "002.png", "003.gif"}));
  EXPECT_EQ(File("Gaps", "002.png"), EhSite::PictureBytes("/eh/pic/ab7/two.png"));
  EXPECT_EQ(server.Hits(EhSite::PagePath("303", false, 2)), 3);
  EXPECT_EQ(server.Hits(EhSite::PagePath("303", false, 3)), 1);
}

TEST_P(EhDownload, LimitInBothFormsPausesWithoutUsingANumberOverManyStarts) {
  constexpr char16_t kLimit[] = u"已到达下载上限。请清空cookie，换IP后重试。";
  EhGalleryPlan plan = ThreePictures("Limited", false);
  plan.pictures[1].path = "/eh/pic/lim/509.gif";
  site.AddGallery("404", plan);
  Add(site.Address(EhSite::GalleryPath("404", false)));
  for (int start = 0; start < 3; ++start) {
    RunToEnd();
    EXPECT_EQ(window.RowAt(0)[2], u"1/1");
    EXPECT_EQ(window.RowAt(0)[3], u"暂停中");
  }
  // The text form: a page instead of the picture.
  site.SetPicture("404", 2, {"/eh/pic/lim/two.png", false});
  server.Serve("/eh/pic/lim/two.png",
               "<html>You have exceeded your image viewing limits. Please wait.</html>");
  RunToEnd();
  EXPECT_EQ(window.RowAt(0)[2], u"1/1");
  EXPECT_EQ(window.RowAt(0)[3], u"暂停中");
  EXPECT_EQ(window.Messages(), std::vector<std::u16string>(4, kLimit));
  EXPECT_EQ(Files("Limited"), std::set<std::string>{"001.jpg"});

  // Lifted: the pictures that follow are numbered without a gap.
  site.SetPicture("404", 2, {"/eh/pic/ab7/two.png"});
  RunToEnd();
  EXPECT_EQ(window.RowAt(0)[2], u"3/3");
  EXPECT_EQ(window.RowAt(0)[3], u"已完成");
  EXPECT_EQ(Files("Limited"), (std::set<std::string>{"001.jpg", "002.png", "003.gif"}));
  EXPECT_EQ(File("Limited", "002.png"), EhSite::PictureBytes("/eh/pic/ab7/two.png"));
}

TEST_P(EhDownload, PageAnsweredForAPictureIsNotStoredAndIsFetchedAgainOnceTheServerHeals) {
  EhGalleryPlan plan = ThreePictures("Portal", false);
  plan.pictures[1].served = false;
  site.AddGallery("606", plan);
  server.Serve("/eh/pic/ab7/two.png", "<html><form>Log in to the network</form></html>");
  Add(site.Address(EhSite::GalleryPath("606", false)));
  RunToEnd();
  EXPECT_EQ(window.RowAt(0)[2], u"3/3");
  EXPECT_EQ(window.RowAt(0)[3], u"未完成，缺1张");
  ASSERT_EQ(controller.Tasks().Find(0)->Missing().size(), 1u);
  EXPECT_EQ(controller.Tasks().Find(0)->Missing().front().reason,
            (FailureReason{FailureKind::kNotAPicture, 200, "text/html"}));
  EXPECT_EQ(Files("Portal"), (std::set<std::string>{"001.jpg", "003.gif"}));
  EXPECT_TRUE(window.Messages().empty());

  server.Serve("/eh/pic/ab7/two.png", EhSite::PictureBytes("/eh/pic/ab7/two.png"), "image/png");
  RunToEnd();
  EXPECT_EQ(window.RowAt(0)[3], u"已完成");
  EXPECT_EQ(File("Portal", "002.png"), EhSite::PictureBytes("/eh/pic/ab7/two.png"));
}

TEST_P(EhDownload, PageWithoutPictureEndsTheRunUnfinishedAndTheNextRunGoesOnFromIt) {
  site.AddGallery("505", ThreePictures("Broken", false));
  site.AddPage(EhSite::PagePath("505", false, 2), "<html><title>Broken</title>x</html>");
  Add(site.Address(EhSite::PagePath("505", false, 1)));
  RunToEnd();
  EXPECT_EQ(window.RowAt(0)[2], u"1/1");
  EXPECT_EQ(window.RowAt(0)[3], u"未完成");
  EXPECT_EQ(controller.Tasks().Find(0)->GetPageUrl(),
            site.Address(EhSite::PagePath("505", false, 2)));

  site.AddGallery("505", ThreePictures("Broken", false));
  RunToEnd();
  EXPECT_EQ(window.RowAt(0)[2], u"3/3");
  EXPECT_EQ(window.RowAt(0)[3], u"已完成");
  EXPECT_EQ(server.Hits(EhSite::PagePath("505", false, 1)), 2);  // Add and the first run
}

TEST_P(EhDownload, PagesThatLinkInACircleEndTheGallery) {
  // Page 1 -> 2 -> 1: the walk ends at the page seen before, as at a page linking to itself.
  EhGalleryPlan plan = ThreePictures("Circle", false);
  site.AddGallery("606", plan);
  site.AddPage(EhSite::PagePath("606", false, 2),
               EhSite::PicturePage("Circle Page 2", site.Url(EhSite::PagePath("606", false, 1)),
                                   "img", site.Url(plan.pictures[1].path)));
  Add(site.Address(EhSite::PagePath("606", false, 1)));
  RunToEnd();
  EXPECT_EQ(window.RowAt(0)[2], u"2/2");
  EXPECT_EQ(window.RowAt(0)[3], u"已完成");
  EXPECT_EQ(Files("Circle"), (std::set<std::string>{"001.jpg", "002.png"}));
  EXPECT_EQ(server.Hits(EhSite::PagePath("606", false, 1)), 2);  // Add and the walk
}

TEST_P(EhDownload, EmptyReplyShowsTheLoginMessageAndAddsNothing) {
  site.AddPage("/eh/s/x/9-1", "");
  site.AddPage("/eh/s/x/9-2", "<html>no title here</html>");
  Add(site.Address("/eh/s/x/9-1"));
  EXPECT_EQ(window.Messages(), std::vector<std::u16string>{kLoginMessage});
  Add(site.Address("/eh/s/x/9-2"));  // no title: no task, no message
  Add(site.Address("/eh/s/x/9-3"));  // 404 page: not empty, no title
  EXPECT_EQ(window.Messages().size(), 1u);
  EXPECT_EQ(window.RowCount(), 0);
  EXPECT_FALSE(controller.Tasks().Find(0));
}

TEST_P(EhDownload, FirstPageLookupFetchesOnlyGalleryAddresses) {
  site.AddGallery("606", ThreePictures("Lookup", false));
  const std::string first = site.Url(EhSite::PagePath("606", false, 1));
  const std::string gallery = EhSite::MainGalleryPage(first);
  auto lookup = [&](const std::string& path, int expected) {
    std::array<char16_t, kUrlCapacity> buffer{};
    CopyWide(buffer.data(), buffer.size(), site.Address(path));
    EXPECT_EQ(controller.Adding().FindEHFirstPage(buffer.data()), expected) << path;
    return std::u16string(WideView(buffer.data(), buffer.size()));
  };
  // The last '-' among the last five characters, or none: a picture page already.
  for (const std::string path : {"/eh/s/t/7-1234", "/eh/s/t/7-1", "/eh/s/t/7-", "/eh/s/t/71"}) {
    site.AddPage(path, gallery);
    EXPECT_EQ(lookup(path, 1), site.Address(path));
    EXPECT_EQ(server.Hits(path), 0) << path;
  }
  site.AddPage("/eh/g/7-12345", gallery);  // six characters from the '-' on: a gallery
  EXPECT_EQ(lookup("/eh/g/7-12345", 1), FromUtf8(first));
  EXPECT_EQ(server.Hits("/eh/g/7-12345"), 1);
  site.AddPage("/eh/lofi/g-7/abcdef", EhSite::MirrorGalleryPage(first));
  EXPECT_EQ(lookup("/eh/lofi/g-7/abcdef", 1), FromUtf8(first));
  // A gallery page without its marker leaves the address as it was.
  site.AddPage("/eh/g-8/abcdef", EhSite::MirrorGalleryPage(first));
  EXPECT_EQ(lookup("/eh/g-8/abcdef", 0), site.Address("/eh/g-8/abcdef"));
  site.AddPage("/eh/lofi/g-8/abcdef", gallery);
  EXPECT_EQ(lookup("/eh/lofi/g-8/abcdef", 0), site.Address("/eh/lofi/g-8/abcdef"));
}

TEST_P(EhDownload, PictureAddressIsCutAt1023Characters) {
  // Pictures whose full addresses are 1023 and 1024 characters long.
  const std::size_t prefix = site.Url("/eh/pic/").size();
  const std::string fits = "/eh/pic/" + std::string(1023 - prefix - 4, 'a') + ".jpg";
  const std::string longer = "/eh/pic/" + std::string(1024 - prefix - 4, 'b') + ".jpg";
  site.AddGallery("707", {"Long", false, {{fits}, {longer, false}}});
  const std::string cut = longer.substr(0, longer.size() - 1);
  server.Serve(cut, EhSite::PictureBytes(cut));
  Add(site.Address(EhSite::PagePath("707", false, 1)));
  RunToEnd();
  EXPECT_EQ(window.RowAt(0)[2], u"2/2");
  EXPECT_EQ(Files("Long"), (std::set<std::string>{"001.jpg", "002.jp"}));
  EXPECT_EQ(File("Long", "002.jp"), EhSite::PictureBytes(cut));
}

TEST_P(EhDownload, ClosingDuringAPictureLeavesNoFile) {
  site.AddGallery("808", ThreePictures("Closing", false));
  server.Stall("/eh/pic/ab7/two.png", "\x89PNG partial");
  Add(site.Address(EhSite::PagePath("808", false, 1)));
  controller.Start();
  ASSERT_TRUE(server.WaitForStalled(1));
  const auto started = std::chrono::steady_clock::now();
  controller.Shutdown();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
  EXPECT_FALSE(controller.Workers().Running(SITE_EH));
  EXPECT_EQ(Files("Closing"), std::set<std::string>{"001.jpg"});
  EXPECT_NE(controller.Tasks().Find(0)->GetState(), STATE_FINISHED);
}

INSTANTIATE_TEST_SUITE_P(ReadAheadAndOneByOne, EhDownload, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& p) {
                           return p.param ? "PageReadAhead" : "OneByOne";
                         });

}  // namespace
}  // namespace pageloom
