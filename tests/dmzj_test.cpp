// The DMZJ chapter adapter: page parsers, adding chapters along their links, the
// chapter step, and whole runs against a fixture site on the local server.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <list>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/task_controller.h"
#include "base/fixed_text.h"
#include "script/script_eval.h"
#include "script/script_host.h"
#include "script/script_protocol.h"
#include "sites/dmzj/dmzj_pages.h"
#include "sites/dmzj/dmzj_task.h"
#include "store/folder_claims.h"
#include "support/dmzj_site.h"
#include "support/fake_window.h"
#include "support/scripted_comic.h"
#include "support/test_server.h"
#include "support/test_settings.h"

namespace pageloom::test {
namespace {

namespace fs = std::filesystem;

// Page text in a heap block of exactly its length, so the sanitizer sees any overrun.
struct Text {
  explicit Text(std::string_view s) : bytes(new char[s.size() + 1]), length(s.size()) {
    std::memcpy(bytes.get(), s.data(), s.size());
    bytes[s.size()] = 0;
  }
  std::unique_ptr<char[]> bytes;
  std::size_t length;
};

std::string Chapter(std::string count, std::string next) {
  return "var g_comic_name = \"A\";\nvar g_chapter_name = \"B\";\nvar g_max_pic_count = " + count +
         ";\n" + next;
}

TEST(DmzjPages, ChapterPageGivesNamesCountAndNextLink) {
  Text t(Chapter("36", "<a id=\"next_chapter\" href=\"1234.shtml\">n</a>\n"));
  DmzjChapterPage page;
  ASSERT_EQ(ParseDmzjChapterPage(t.bytes.get(), t.length, page), DmzjChapterParse::kComplete);
  EXPECT_EQ(page.comicName, "A");
  EXPECT_EQ(page.chapterName, "B");
  EXPECT_EQ(page.pictureCount, 36);
  EXPECT_EQ(page.next, DmzjNextLink::kLink);
  EXPECT_EQ(page.nextLink, "1234.shtml");
  EXPECT_EQ(page.comicName.data()[1], 0) << "closing quotes are cut in place";

  for (const auto& [count, value] :
       std::vector<std::pair<std::string, int>>{{"x", 0},
                                                {" \t-7abc", -7},
                                                {"+12", 12},
                                                {"", 0},
                                                {"99999999999", INT_MAX},
                                                {"-99999999999", INT_MIN},
                                                {"- 3", 0}}) {
    Text c(Chapter(count, ""));
    ASSERT_EQ(ParseDmzjChapterPage(c.bytes.get(), c.length, page), DmzjChapterParse::kComplete);
    EXPECT_EQ(page.pictureCount, value) << count;
    EXPECT_EQ(page.next, DmzjNextLink::kNone);
  }
}

TEST(DmzjPages, MissingPiecesMakeThePageIncomplete) {
  const std::vector<std::string> incomplete = {
      "var g_comic_name = \"A",                                   // comic unclosed
      "var g_comic_name = \"A\"; no chapter",                     // no second string
      "var g_comic_name = \"A\" \"B",                             // chapter unclosed
      "var g_comic_name = \"A\" \"B\" no count",                  // no count marker
      "var g_max_pic_count = 3; var g_comic_name = \"A\" \"B\"",  // count before names
      Chapter("12", "").substr(0, Chapter("12", "").size() - 2),  // no ';'
      Chapter("1", "<a id=\"next_chapter\" href=\"1234.shtml"),   // link unclosed
      Chapter("1", "<a id=\"next_chapter\" hr"),                  // link past the end
  };
  for (const std::string& s : incomplete) {
    Text t(s);
    DmzjChapterPage page;
    EXPECT_EQ(ParseDmzjChapterPage(t.bytes.get(), t.length, page), DmzjChapterParse::kIncomplete)
        << s;
  }
  for (const std::string s : {"", "var g_comic", "<html>var G_comic_name \"A\" \"B\"</html>"}) {
    Text t(s);
    DmzjChapterPage page;
    EXPECT_EQ(ParseDmzjChapterPage(t.bytes.get(), t.length, page), DmzjChapterParse::kNotChapter);
  }
  // A next-chapter marker in front of the count is not the next link.
  Text t(
      "var g_comic_name \"A\" \"B\" <a id=\"next_chapter\" href=\"x.shtml\"> "
      "var g_max_pic_count = 2;");
  DmzjChapterPage page;
  ASSERT_EQ(ParseDmzjChapterPage(t.bytes.get(), t.length, page), DmzjChapterParse::kComplete);
  EXPECT_EQ(page.next, DmzjNextLink::kNone);
}

TEST(DmzjPages, NextLinkFitsFiftyOneBytes) {
  DmzjChapterPage page;
  Text fits(Chapter("1", "<a id=\"next_chapter\" href=\"" + std::string(51, 'n') + "\""));
  ASSERT_EQ(ParseDmzjChapterPage(fits.bytes.get(), fits.length, page), DmzjChapterParse::kComplete);
  EXPECT_EQ(page.next, DmzjNextLink::kLink);
  EXPECT_EQ(page.nextLink.size(), 51u);
  Text over(Chapter("1", "<a id=\"next_chapter\" href=\"" + std::string(52, 'n') + "\""));
  ASSERT_EQ(ParseDmzjChapterPage(over.bytes.get(), over.length, page), DmzjChapterParse::kComplete);
  EXPECT_EQ(page.next, DmzjNextLink::kTooLong);
}

TEST(DmzjPages, SeriesLinkAndScriptCut) {
  Text series(DmzjSite::SeriesPage("/a/b.shtml"));
  EXPECT_EQ(ParseDmzjSeriesLink(series.bytes.get(), series.length), "/a/b.shtml");
  for (const std::string s : {"<a href=\"/a.shtml\">", "cartoon_online_border no link",
                              "cartoon_online_border href=\"/a.shtml", "cartoon_online_borderhref",
                              "cartoon_online_borderhref=", ""}) {
    Text t(s);
    EXPECT_EQ(ParseDmzjSeriesLink(t.bytes.get(), t.length).data(), nullptr) << s;
  }
  Text empty("cartoon_online_borderhref=\"\"");
  EXPECT_EQ(ParseDmzjSeriesLink(empty.bytes.get(), empty.length), "");

  Text script("x\neval(function(p){return p}('a'))\nrest");
  const char* cut = FindDmzjScript(script.bytes.get(), script.length);
  ASSERT_NE(cut, nullptr);
  EXPECT_STREQ(cut, "(function(p){return p}('a'))");
  for (const std::string s : {"eval(function(p){} no line feed", "eval (function\n", "eval"}) {
    Text t(s);
    EXPECT_EQ(FindDmzjScript(t.bytes.get(), t.length), nullptr) << s;
  }
}

TEST(DmzjPages, TitleIsCutAtWholeCharacters) {
  char title[kDmzjTitleCapacity];
  EXPECT_EQ(JoinDmzjTitle(title, "中文漫画", "第1话"), 20u);
  EXPECT_STREQ(title, "中文漫画\\第1话");

  // A comic name too long for both gives way, at whole characters (3 bytes each here),
  // and the chapter name stays whole: chapters keep folders of their own.
  std::string name;
  for (int i = 0; i < 90; ++i) name += "话";
  EXPECT_EQ(JoinDmzjTitle(title, name, "B"), 257u);
  EXPECT_EQ(std::string(title), name.substr(0, 255) + "\\B");
  EXPECT_EQ(JoinDmzjTitle(title, name.substr(0, 258), "BBB"), 259u);
  EXPECT_EQ(std::string(title), name.substr(0, 255) + "\\BBB");
  EXPECT_EQ(JoinDmzjTitle(title, "A", name), 259u);  // a chapter name alone too long is cut
  EXPECT_EQ(std::string(title), "\\" + name.substr(0, 258));
  EXPECT_EQ(JoinDmzjTitle(title, std::string(300, 'a'), "B"), 259u);
  // Bytes that are no sequence are cut where they stand.
  EXPECT_EQ(JoinDmzjTitle(title, std::string(258, 'a') + "\x80\x80\x80", ""), 259u);
  EXPECT_EQ(Utf8Prefix("ab\xF0\x9F\x98\x80", 5), "ab");
  EXPECT_EQ(Utf8Prefix("ab\xF0\x9F", 3), "ab");
  EXPECT_EQ(Utf8Prefix("ab\xE4x\x80", 3), "ab\xE4");
}

TEST(DmzjPages, RandomBytesStayInsideThePage) {
  std::mt19937 random(20261208);
  const std::vector<std::string> pieces = {"var g_comic_name",
                                           "\"",
                                           "var g_max_pic_count = ",
                                           ";",
                                           "a id=\"next_chapter\"",
                                           " href=\"",
                                           "eval(function",
                                           "\n",
                                           "cartoon_online_border",
                                           "href",
                                           "话",
                                           "7"};
  for (int round = 0; round < 3000; ++round) {
    std::string s;
    const int parts = static_cast<int>(random() % 12);
    for (int i = 0; i < parts; ++i) {
      if (random() % 2) {
        s += pieces[random() % pieces.size()];
      } else {
        for (int n = static_cast<int>(random() % 30); n > 0; --n)
          s += static_cast<char>(1 + random() % 255);
      }
    }
    Text a(s), b(s), c(s);
    DmzjChapterPage page;
    if (ParseDmzjChapterPage(a.bytes.get(), a.length, page) == DmzjChapterParse::kComplete) {
      EXPECT_GE(page.comicName.data(), a.bytes.get());
      EXPECT_LE(page.chapterName.data() + page.chapterName.size(), a.bytes.get() + a.length);
    }
    ParseDmzjSeriesLink(b.bytes.get(), b.length);
    FindDmzjScript(c.bytes.get(), c.length);
  }
}

TEST(DmzjPages, PackedScriptEvaluatesToThePictureList) {
  std::vector<std::string> paths;
  for (int i = 1; i <= 70; ++i) paths.push_back("c/7/" + std::to_string(1000 + i) + ".jpg");
  const std::string packed = PackScript(PicturesSource(paths));
  ASSERT_EQ(packed.rfind("eval(function(p,a,c,k,e,d)", 0), 0u);
  std::list<std::u16string> list;
  ScriptOptions options;
  options.pictureHost = u"P/";
  ASSERT_EQ(EvalPictureList(packed.c_str() + 4, list, options), 1);
  ASSERT_EQ(list.size(), paths.size());
  EXPECT_EQ(list.front(), u"P/c/7/1001.jpg");
  EXPECT_EQ(list.back(), u"P/c/7/1070.jpg");
}

// --- against the fixture site ---

class DmzjSiteTest : public ::testing::Test {
 protected:
  DmzjSiteTest() { window.SetSaveFolderText(dir.Wide()); }

  // Chapter `chapter` of 中文漫画 with `pictures` pictures under "pic/<n>/", n counting
  // the chapters made so far.
  DmzjChapterPlan Plan(std::string chapter, std::string next, int pictures = 3) {
    const std::string folder = "pic/" + std::to_string(m_specs++) + "/p";
    std::vector<std::string> paths;
    for (int i = 1; i <= pictures; ++i) paths.push_back(folder + std::to_string(i) + ".jpg");
    return DmzjChapterPlan{"中文漫画", std::move(chapter), std::to_string(pictures),
                           std::move(next), std::move(paths)};
  }
  void Add(const std::u16string& address, bool follow, bool rename = true) {
    window.SetFollowNext(follow);
    window.SetAutoRename(rename);
    window.SetAddressText(address);
    controller.AddAddresses(window.AddressText(), window.Options());
    EXPECT_TRUE(WaitForAdds(controller.Adding(), std::chrono::seconds(10)));
  }
  std::shared_ptr<ComicDMZJ> Task(int n) {
    return std::dynamic_pointer_cast<ComicDMZJ>(controller.Tasks().Find(n));
  }
  std::u16string Folder(const std::string& inside) { return dir.Wide(inside) + u"/"; }
  bool AllFinished(int rows) {
    return window.WaitFor([rows](const FakeWindow& w) {
      if (w.RowCount() != rows) return false;
      for (const auto& row : w.Rows())
        if (row[3] != u"已完成") return false;
      return true;
    });
  }

  int m_specs = 0;
  TestServer server;
  DmzjSite site{server};
  TempDir dir;
  FakeWindow window;
  TaskController controller{window, TestSettings(site.Names())};
  // What the steps called directly here work with, as a worker's would be.
  std::unique_ptr<PageBuffer> page = std::make_unique<PageBuffer>();
  StepContext context{controller.InternetSession(), *page,   window, controller.Settings().sites,
                      controller.Settings().retry,  nullptr, {}};
};

TEST_F(DmzjSiteTest, SeriesAddressLeadsToItsFirstChapter) {
  site.AddSeries("/info/series.html", "/c/1233.shtml");
  char16_t address[kUrlCapacity];
  CopyWide(address, kUrlCapacity, site.Address("/info/series.html"));
  EXPECT_EQ(controller.Adding().FindDMZJFirstChapter(address), 1);
  EXPECT_EQ(WideView(address, kUrlCapacity), site.Address("/c/1233.shtml"));
  EXPECT_EQ(site.Hits("/info/series.html"), 1);

  // A chapter address is taken as it is, without a fetch.
  EXPECT_EQ(controller.Adding().FindDMZJFirstChapter(address), 1);
  EXPECT_EQ(site.Hits("/c/1233.shtml"), 0);
  EXPECT_EQ(server.TotalHits(), 1);

  // No chapter list, a link whose address does not fit 2047 units, or one that leads to
  // another host: the address stays as typed.
  site.AddPage("/info/plain.html", "<html>nothing</html>");
  const std::string root = site.SiteRoot();  // "http://127.0.0.1:PORT/dmzj"
  site.AddSeries("/info/long.html", "/" + std::string(2047 - root.size(), 'x'));
  site.AddSeries("/info/fits.html", "/" + std::string(2046 - root.size(), 'x'));
  site.AddSeries("/info/at.html", "@evil.example/x.shtml");
  site.AddSeries("/info/other.html", "//evil.example/c/1.shtml");
  site.AddSeries("/info/scheme.html", "http://evil.example/c/1.shtml");
  for (const std::string path : {"/info/plain.html", "/info/long.html", "/missing.html",
                                 "/info/other.html", "/info/scheme.html"}) {
    CopyWide(address, kUrlCapacity, site.Address(path));
    EXPECT_EQ(controller.Adding().FindDMZJFirstChapter(address), 0) << path;
    EXPECT_EQ(WideView(address, kUrlCapacity), site.Address(path));
  }
  CopyWide(address, kUrlCapacity, site.Address("/info/fits.html"));
  EXPECT_EQ(controller.Adding().FindDMZJFirstChapter(address), 1);
  EXPECT_EQ(WideView(address, kUrlCapacity).size(), 2047u);
  // A link read as the path it is relative to: it stays on the site.
  CopyWide(address, kUrlCapacity, site.Address("/info/at.html"));
  EXPECT_EQ(controller.Adding().FindDMZJFirstChapter(address), 1);
  EXPECT_EQ(WideView(address, kUrlCapacity), site.Address("/info/@evil.example/x.shtml"));
}

TEST_F(DmzjSiteTest, FollowOptionQueuesOneChapterOrTheWholeChain) {
  site.AddSeries("/info/series.html", "/c/1233.shtml");
  site.AddChapter("/c/1233.shtml", Plan("第1话", "1234.shtml", 12));
  site.AddChapter("/c/1234.shtml", Plan("第2话", "../c/./1235.shtml", 5));
  site.AddChapter("/c/1235.shtml", Plan("第3话 完", "", 7));

  Add(site.Address("/c/1233.shtml"), false);
  ASSERT_EQ(window.RowCount(), 1);
  EXPECT_EQ(window.RowAt(0), (FakeWindow::Row{u"0", Folder("中文漫画/第1话"), u"0/12", u"准备中"}));
  EXPECT_EQ(site.Hits("/c/1233.shtml"), 1);
  EXPECT_EQ(site.Hits("/c/1234.shtml"), 0);
  EXPECT_EQ(Task(0)->GetSiteKind(), SITE_DMZJ);
  EXPECT_EQ(Task(0)->GetFolder(), Folder("中文漫画/第1话"));

  Add(site.Address("/info/series.html"), true);
  ASSERT_EQ(window.RowCount(), 4);
  EXPECT_EQ(window.RowAt(1), (FakeWindow::Row{u"1", Folder("中文漫画/第1话"), u"0/12", u"准备中"}));
  EXPECT_EQ(window.RowAt(2), (FakeWindow::Row{u"2", Folder("中文漫画/第2话"), u"0/5", u"准备中"}));
  EXPECT_EQ(window.RowAt(3),
            (FakeWindow::Row{u"3", Folder("中文漫画/第3话 完"), u"0/7", u"准备中"}));
  EXPECT_EQ(Task(2)->GetStartUrl(), site.Address("/c/1234.shtml"));
  EXPECT_EQ(Task(3)->GetStartUrl(), site.Address("/c/1235.shtml"));
  EXPECT_EQ(site.Hits("/info/series.html"), 1);
  EXPECT_EQ(site.Hits("/c/1233.shtml"), 2);
  EXPECT_EQ(site.Hits("/c/1235.shtml"), 1);
  EXPECT_TRUE(Task(3)->PictureUrls().empty()) << "nothing is evaluated while adding";
}

TEST_F(DmzjSiteTest, HalfFilledPagesAndLoopsEndTheChain) {
  site.AddChapter("/c/1.shtml", Plan("第1话", "2.shtml"));
  site.AddPage("/c/2.shtml", Chapter("3", "<a id=\"next_chapter\" href=\"3.shtml"));
  site.AddPage("/c/half.shtml", "var g_comic_name = \"A\"; var g_chapter_name = \"B\";");
  char16_t address[kUrlCapacity];
  CopyWide(address, kUrlCapacity, site.Address("/c/half.shtml"));
  EXPECT_EQ(controller.Adding().AddDMZJTask(address, window.Options()), 0);
  EXPECT_EQ(window.RowCount(), 0);
  EXPECT_TRUE(controller.Tasks().Numbers().empty());

  Add(site.Address("/c/1.shtml"), true);
  ASSERT_EQ(window.RowCount(), 1) << "the second page lacks its link's closing quote";
  EXPECT_EQ(controller.Tasks().Numbers(), std::vector<int>{0});

  // 10 -> 11 -> 12 -> 11: three tasks, then the chain stops at the queued address.
  site.AddChapter("/c/10.shtml", Plan("第10话", "11.shtml"));
  site.AddChapter("/c/11.shtml", Plan("第11话", "12.shtml"));
  site.AddChapter("/c/12.shtml", Plan("第12话", "11.shtml"));
  Add(site.Address("/c/10.shtml"), true);
  EXPECT_EQ(window.RowCount(), 4);
  EXPECT_EQ(site.Hits("/c/11.shtml"), 1);

  // A next link of 51 bytes is followed; one of 52 ends the chain after its task.
  const std::string link51 = std::string(45, 'a') + ".shtml";
  site.AddChapter("/c/20.shtml", Plan("第20话", link51));
  site.AddChapter("/c/" + link51, Plan("第21话", std::string(46, 'b') + ".shtml"));
  CopyWide(address, kUrlCapacity, site.Address("/c/20.shtml"));
  EXPECT_EQ(controller.Adding().AddDMZJTask(address, window.Options()), 1);
  EXPECT_EQ(WideView(address, kUrlCapacity), site.Address("/c/" + link51));
  EXPECT_EQ(controller.Adding().AddDMZJTask(address, window.Options()), 0);
  EXPECT_EQ(window.RowCount(), 6);
  EXPECT_EQ(WideView(address, kUrlCapacity), site.Address("/c/" + link51));

  // A next address that would not fit the address buffer ends the chain after its task.
  const std::size_t room = kUrlCapacity - 1 - site.Address("").size();
  const std::string deep = "/c/" + std::string(room - 3 - 8 - 5, 'd') + "/x.shtml";
  site.AddChapter(deep, Plan("第30话", "123456789012345.shtml"));
  CopyWide(address, kUrlCapacity, site.Address(deep));
  EXPECT_EQ(controller.Adding().AddDMZJTask(address, window.Options()), 0);
  EXPECT_EQ(window.RowCount(), 7);
}

TEST(DmzjChains, EndlessChainsStopAtTheCapAndLinksOffTheSiteAreNotFollowed) {
  TestServer server;
  DmzjSite site(server);
  TempDir dir;
  FakeWindow window;
  window.SetSaveFolderText(dir.Wide());
  window.SetFollowNext(true);
  ControllerSettings settings = TestSettings(site.Names());
  settings.maxChain = 25;
  TaskController controller(window, settings);
  // Every chapter links a new one, without end.
  server.Handle("/dmzj/c/endless", [](const httplib::Request& req, httplib::Response& res) {
    const int n = std::atoi(req.get_param_value("n").c_str());
    DmzjChapterPlan plan{
        "无尽", "第" + std::to_string(n) + "话", "1", "endless?n=" + std::to_string(n + 1), {}};
    res.set_content(DmzjSite::ChapterPage(plan), "text/html");
  });
  window.SetAddressText(site.Address("/c/endless?n=1&shtml"));
  controller.AddAddresses(window.AddressText(), window.Options());
  ASSERT_TRUE(WaitForAdds(controller.Adding(), std::chrono::seconds(30)));
  EXPECT_EQ(window.RowCount(), 25);

  // A next link to another host (written absolute, or as a network path) ends the chain.
  site.AddChapter("/c/1.shtml", {"漫画", "第1话", "1", "http://evil.example/c/2.shtml", {}});
  site.AddChapter("/c/5.shtml", {"漫画", "第5话", "1", "//evil.example/c/6.shtml", {}});
  for (const char* path : {"/c/1.shtml", "/c/5.shtml"}) {
    window.SetAddressText(site.Address(path));
    controller.AddAddresses(window.AddressText(), window.Options());
    ASSERT_TRUE(WaitForAdds(controller.Adding(), std::chrono::seconds(10)));
  }
  EXPECT_EQ(window.RowCount(), 27);
  EXPECT_EQ(server.TotalHits(), 25 + 2);
}

TEST_F(DmzjSiteTest, LongNamesAreCutAndAStrayCountReadsZero) {
  std::string comic;
  for (int i = 0; i < 100; ++i) comic += "话";  // 300 bytes
  site.AddChapter("/c/long.shtml", DmzjChapterPlan{comic, "第1话", "x", "", {}});
  Add(site.Address("/c/long.shtml"), true);
  ASSERT_EQ(window.RowCount(), 1);
  EXPECT_EQ(window.RowAt(0)[2], u"0/0");
  const std::u16string folder(Task(0)->GetFolder());
  EXPECT_EQ(folder.rfind(dir.Wide() + u"/话话", 0), 0u);
  EXPECT_LT(folder.size(), kPathCapacity);
  EXPECT_EQ(folder.find(u'\uFFFD'), std::u16string::npos) << "no character is split";
}

TEST_F(DmzjSiteTest, StepDownloadsOnePicturePerCallThenFinishes) {
  const DmzjChapterPlan plan = Plan("中文", "", 12);
  site.AddChapter("/c/1233.shtml", plan);
  char16_t address[kUrlCapacity];
  CopyWide(address, kUrlCapacity, site.Address("/c/1233.shtml"));
  ASSERT_EQ(controller.Adding().AddDMZJTask(address, window.Options()), 0);
  auto task = Task(0);
  ASSERT_TRUE(task);
  for (int i = 1; i <= 12; ++i) {
    ASSERT_EQ(task->DownloadNext(context), 1) << i;
    EXPECT_EQ(task->GetState(), STATE_DOWNLOADING);
    EXPECT_EQ(task->GetFileNumber(), i);
  }
  EXPECT_EQ(task->DownloadNext(context), 0);
  EXPECT_EQ(task->GetState(), STATE_FINISHED);
  const int hits = server.TotalHits();
  EXPECT_EQ(task->DownloadNext(context), 0);
  EXPECT_EQ(server.TotalHits(), hits) << "a finished task fetches nothing";
  const fs::path folder = dir.Path() / "中文漫画" / "中文";
  for (int i = 1; i <= 12; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "%03d.jpg", i);
    EXPECT_EQ(ReadFileBytes(folder / name), DmzjSite::PictureBytes(plan.pictures[i - 1]));
  }
}

// Scripts are never run unlimited: where the helper cannot limit itself, the chapters
// stay "准备中" and say why, the user is told once, and a later run that can evaluate
// reads the list.
TEST_F(DmzjSiteTest, ChaptersSayWhyWhenScriptsCannotRunLimited) {
  const fs::path fake = dir.Path() / "unlimited-helper";
  WriteFileBytes(fake, "#!/bin/sh\nexit " + std::to_string(kHelperCannotLimitItself) + "\n");
  fs::permissions(fake, fs::perms::owner_all);
  ScriptHost unlimited(fake.string());
  context.scripts = &unlimited;
  for (int n = 1; n <= 2; ++n) {
    const std::string path = "/c/" + std::to_string(n) + ".shtml";
    site.AddChapter(path, Plan("第" + std::to_string(n) + "话", "", 2));
    char16_t address[kUrlCapacity];
    CopyWide(address, kUrlCapacity, site.Address(path));
    controller.Adding().AddDMZJTask(address, window.Options());
  }
  for (int n = 0; n < 2; ++n) {
    EXPECT_EQ(Task(n)->DownloadNext(context), 0);
    EXPECT_EQ(Task(n)->GetState(), STATE_PREPARING);
    EXPECT_EQ(FakeWindow::StatusText(Task(n)->Snapshot()), u"准备中（无法安全运行页面脚本）");
  }
  EXPECT_EQ(window.Messages(), std::vector<std::u16string>{
                                   FakeWindow::MessageText({MessageKind::kScriptsUnsafe, {}})});

  ScriptHost working;
  context.scripts = &working;
  while (Task(0)->DownloadNext(context) != 0) {
  }
  EXPECT_EQ(FakeWindow::StatusText(Task(0)->Snapshot()), u"已完成");
  EXPECT_EQ(window.Messages().size(), 1u);
}

TEST_F(DmzjSiteTest, AChapterIsNeverFinishedWithoutItsPictures) {
  site.AddPage("/c/1.shtml", Chapter("4", ""));
  char16_t address[kUrlCapacity];
  CopyWide(address, kUrlCapacity, site.Address("/c/1.shtml"));
  controller.Adding().AddDMZJTask(address, window.Options());
  auto task = Task(0);
  ASSERT_TRUE(task);
  EXPECT_EQ(task->LoadPictureList(context), 0);
  // A page without its script: back to "准备中", and read again by every later run.
  EXPECT_EQ(task->DownloadNext(context), 0);
  EXPECT_EQ(task->GetState(), STATE_PREPARING);
  EXPECT_EQ(task->DownloadNext(context), 0);
  EXPECT_EQ(task->GetState(), STATE_PREPARING);
  EXPECT_EQ(site.Hits("/c/1.shtml"), 4);  // Add, the explicit load, two runs
  // A page that cannot be had at all, and a script without pictures, do the same.
  site.AddPage("/c/1.shtml", "");
  EXPECT_EQ(task->DownloadNext(context), 0);
  EXPECT_EQ(task->GetState(), STATE_PREPARING);
  site.AddPage("/c/1.shtml", Chapter("4", "") + PackScript("var pages=[];") + "\n");
  EXPECT_EQ(task->DownloadNext(context), 0);
  EXPECT_EQ(task->GetState(), STATE_PREPARING);

  // Once the page is whole, the next run downloads the chapter.
  const DmzjChapterPlan plan = Plan("中文", "", 2);
  site.AddChapter("/c/1.shtml", plan);
  while (task->DownloadNext(context) != 0) {
  }
  EXPECT_EQ(task->GetState(), STATE_FINISHED);
  EXPECT_EQ(task->GetFileNumber(), 2);
}

TEST_F(DmzjSiteTest, FailedPicturesEndTheChapterUnfinishedAndTheNextRunFetchesThem) {
  DmzjChapterPlan plan = Plan("第1话", "", 3);
  site.AddPage("/c/1.shtml", DmzjSite::ChapterPage(plan));
  site.AddPicture(plan.pictures[0]);
  site.AddPicture(plan.pictures[2]);  // the second picture answers 404
  Add(site.Address("/c/1.shtml"), false);
  controller.Start();
  ASSERT_TRUE(window.WaitFor([](const FakeWindow& w) {
    const auto row = w.TaskRow(0);
    return row && (*row)[3] == u"未完成，缺1张";
  }));
  EXPECT_EQ(window.RowAt(0)[2], u"3/3");
  EXPECT_EQ(Task(0)->MissingCount(), 1);
  EXPECT_FALSE(fs::exists(dir.Path() / "中文漫画/第1话/002.jpg"));

  // The server heals; the next Start fetches just that picture, under its kept number.
  ASSERT_TRUE(WaitUntil([this] { return !controller.Workers().Running(SITE_DMZJ); }));
  site.AddPicture(plan.pictures[1]);
  const int pageHits = site.Hits("/c/1.shtml");
  controller.Start();
  ASSERT_TRUE(AllFinished(1));
  EXPECT_EQ(window.RowAt(0)[2], u"3/3");
  EXPECT_EQ(ReadFileBytes(dir.Path() / "中文漫画/第1话/002.jpg"),
            DmzjSite::PictureBytes(plan.pictures[1]));
  EXPECT_EQ(site.Hits("/c/1.shtml"), pageHits) << "the chapter page is not read again";
  EXPECT_EQ(site.PictureHits(plan.pictures[0]), 1);
}

TEST_F(DmzjSiteTest, WholeSeriesRunsFromAddToFinished) {
  site.AddSeries("/info/s.html", "/c/1.shtml");
  site.AddChapter("/c/1.shtml", Plan("第1话", "2.shtml", 4));
  const DmzjChapterPlan second = Plan("第2话", "", 3);
  site.AddChapter("/c/2.shtml", second);
  Add(site.Address("/info/s.html"), true);
  ASSERT_EQ(window.RowCount(), 2);
  controller.Start();
  ASSERT_TRUE(AllFinished(2));
  EXPECT_EQ(window.RowAt(0)[2], u"4/4");
  EXPECT_EQ(window.RowAt(1)[2], u"3/3");

  std::vector<std::string> onDisk;
  for (const auto& entry : fs::recursive_directory_iterator(dir.Path()))
    if (entry.is_regular_file() && entry.path().filename() != kFolderSourceFile)
      onDisk.push_back(fs::relative(entry.path(), dir.Path()).string());
  std::sort(onDisk.begin(), onDisk.end());
  EXPECT_EQ(onDisk, (std::vector<std::string>{"中文漫画/第1话/001.jpg", "中文漫画/第1话/002.jpg",
                                              "中文漫画/第1话/003.jpg", "中文漫画/第1话/004.jpg",
                                              "中文漫画/第2话/001.jpg", "中文漫画/第2话/002.jpg",
                                              "中文漫画/第2话/003.jpg"}));
  EXPECT_EQ(ReadFileBytes(dir.Path() / "中文漫画/第2话/003.jpg"),
            DmzjSite::PictureBytes(second.pictures[2]));
}

TEST_F(DmzjSiteTest, TheChapterOperationsUnderTheirOwnNamesAddAChainAndItsWorkerRunsIt) {
  site.AddSeries("/info/s.html", "/c/1.shtml");
  site.AddChapter("/c/1.shtml", Plan("第1话", "2.shtml", 2));
  site.AddChapter("/c/2.shtml", Plan("第2话", "", 1));
  char16_t address[kUrlCapacity];
  CopyWide(address, kUrlCapacity, site.Address("/info/s.html"));
  ASSERT_EQ(controller.Adding().FindDMZJFirstChapter(address), 1);
  EXPECT_EQ(controller.Adding().AddDMZJTaskChain(address, window.Options()), 1);
  ASSERT_EQ(window.RowCount(), 2);
  DownloadThreadDMZJ(&controller);  // the worker's walk, on this thread, to its end
  EXPECT_EQ(window.RowAt(0)[2], u"2/2");
  EXPECT_EQ(window.RowAt(1)[2], u"1/1");
  EXPECT_TRUE(AllFinished(2));
}

TEST_F(DmzjSiteTest, RenamingOffKeepsTheNames) {
  const DmzjChapterPlan plan = Plan("第1话", "", 2);
  site.AddChapter("/c/1.shtml", plan);
  Add(site.Address("/c/1.shtml"), false, false);
  controller.Start();
  ASSERT_TRUE(AllFinished(1));
  EXPECT_EQ(window.RowAt(0)[2], u"0/2");
  EXPECT_EQ(ReadFileBytes(dir.Path() / "中文漫画/第1话/p2.jpg"),
            DmzjSite::PictureBytes(plan.pictures[1]));
  EXPECT_FALSE(fs::exists(dir.Path() / "中文漫画/第1话/001.jpg"));
}

TEST_F(DmzjSiteTest, ShutdownDuringAPictureKeepsItInTheList) {
  DmzjChapterPlan plan = Plan("第1话", "", 3);
  site.AddChapter("/c/1.shtml", plan);
  server.Stall("/dmzjpic/" + plan.pictures[1]);
  Add(site.Address("/c/1.shtml"), false);
  controller.Start();
  ASSERT_TRUE(server.WaitForStalled(1));
  EXPECT_TRUE(window.WaitFor([](const FakeWindow& w) {
    const auto row = w.TaskRow(0);
    return row && (*row)[2] == u"1/3" && (*row)[3] == u"下载中";
  }));
  controller.Shutdown();
  auto task = Task(0);
  ASSERT_TRUE(task);
  EXPECT_EQ(task->GetFileNumber(), 1);
  ASSERT_EQ(task->PictureUrls().size(), 2u);
  EXPECT_EQ(task->PictureUrls().front(), server.WideUrl("/dmzjpic/" + plan.pictures[1]));
  EXPECT_NE(task->GetState(), STATE_FINISHED);
  server.ReleaseStalls();
}

}  // namespace
}  // namespace pageloom::test
