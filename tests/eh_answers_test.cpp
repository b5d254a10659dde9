// What the EH site answers instead: its ban and limit texts and its second-server link
// read; a gallery whose picture or page answers with a ban (the worker stops at once,
// sends nothing while it lasts, says so once, and goes on by itself when it ends, numbering
// without a gap); a failing picture taken from the second server.
#include "sites/eh/eh_answers.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/task_controller.h"
#include "support/eh_site.h"
#include "support/fake_window.h"
#include "support/test_server.h"
#include "support/test_settings.h"

namespace pageloom {
namespace {

using namespace std::chrono_literals;
using std::chrono::seconds;
namespace fs = std::filesystem;

const std::string kBanHead =
    "Your IP address has been temporarily banned for excessive pageloads which indicates "
    "that you are using automated mirroring/harvesting software. ";

TEST(EhBanText, LengthIsReadInEveryFormAndDefaultsToAnHour) {
  const std::vector<std::pair<std::string, seconds>> cases{
      {"The ban expires in 2 days", 48h},
      {"The ban expires in 1 day and 23 hours", 47h},
      {"The ban expires in 1 hour", 1h},
      {"The ban expires in 59 minutes and 39 seconds", 59min + 39s},
      {"The ban expires in 1 minute and 1 second", 61s},
      {"The ban expires in 3 days, 2 hours, 5 minutes and 7 seconds", 74h + 5min + 7s},
      {"The ban expires in 12 seconds", 12s},
      {"The ban expires in 99999999999999999999 days", 365 * 24h},
      {"The ban expires in a while", 1h},
      {"no length given", 1h},
  };
  for (const auto& [tail, length] : cases) {
    SCOPED_TRACE(tail);
    EXPECT_EQ(ParseEhBan(kBanHead + tail + "."), length);
  }
  EXPECT_EQ(ParseEhBan("The ban expires in 2 days"), std::nullopt);  // no ban said
  EXPECT_EQ(ParseEhBan("<html>an ordinary page</html>"), std::nullopt);
  EXPECT_TRUE(IsEhLimitText("You have exceeded your image viewing limits. Reset them"));
  EXPECT_FALSE(IsEhLimitText("You have exceeded your image viewing"));
}

TEST(EhReloadKey, OnlyTheReloadLinksKeyIsTaken) {
  EXPECT_EQ(
      ParseEhReloadKey("<a href=\"#\" id=\"loadfail\" onclick=\"return nl('43463-430995')\">"),
      "43463-430995");
  for (const char* page :
       {"onclick=\"return nl('')\"", "onclick=\"return nl('ab cd')\"", "onclick=\"return nl('abc",
        "onclick=\"return nl(\"abc\")\"", "return nl('abc')"})
    EXPECT_EQ(ParseEhReloadKey(page), std::nullopt) << page;
  EXPECT_EQ(ParseEhReloadKey("onclick=\"return nl('" + std::string(129, 'k') + "')\""),
            std::nullopt);
  EXPECT_EQ(EhReloadAddress(u"http://x/s/ab/1-2", "k-1"), u"http://x/s/ab/1-2?nl=k-1");
  EXPECT_EQ(EhReloadAddress(u"http://x/s/ab/1-2?p=1#top", "k"), u"http://x/s/ab/1-2?p=1&nl=k");
}

// Answers `first` on the first `times` requests to `path`, then `then`.
void AnswerFirst(test::TestServer& server, const std::string& path, int times, std::string first,
                 std::string then, std::string thenType) {
  auto count = std::make_shared<std::atomic<int>>(0);
  server.Handle(path, [=](const httplib::Request&, httplib::Response& res) {
    if (++*count <= times)
      res.set_content(first, "text/html; charset=UTF-8");
    else
      res.set_content(then, thenType);
  });
}

class BanTest : public ::testing::Test {
 protected:
  BanTest() {
    window.SetSaveFolderText(dir.Wide());
    site.AddGallery(
        "77", {"Banned", false, {{"/eh/pic/b/1.jpg"}, {"/eh/pic/b/2.jpg"}, {"/eh/pic/b/3.jpg"}}});
  }
  ~BanTest() override { controller.Shutdown(); }
  void AddAndStart() {
    window.SetAddressText(site.Address(test::EhSite::GalleryPath("77", false)));
    controller.AddAddresses(window.AddressText(), window.Options());
    ASSERT_TRUE(test::WaitForAdds(controller.Adding(), 10s));
    controller.Start();
  }
  bool RowReads(const std::u16string& progress, const std::u16string& status,
                std::chrono::milliseconds timeout = 10s) {
    return window.WaitFor(
        [&](const test::FakeWindow& w) {
          const auto row = w.TaskRow(0);
          return row && (*row)[2] == progress && (*row)[3] == status;
        },
        timeout);
  }
  // The ban holds: nothing is sent for a while.
  void ExpectQuietFor(std::chrono::milliseconds span) {
    const int before = server.TotalHits();
    std::this_thread::sleep_for(span);
    EXPECT_EQ(server.TotalHits(), before);
  }
  std::set<std::string> Files() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.Path() / "Banned"))
      if (entry.path().filename().string()[0] != '.') names.insert(entry.path().filename());
    return names;
  }

  test::TestServer server;
  test::EhSite site{server};
  test::TempDir dir;
  test::FakeWindow window;
  TaskController controller{window, test::TestSettings(site.Names())};
};

TEST_F(BanTest, BanOnAPictureStopsTheWorkerUntilItEndsThenItGoesOnWithoutAGap) {
  const std::string picture = test::EhSite::PictureBytes("/eh/pic/b/2.jpg");
  AnswerFirst(server, "/eh/pic/b/2.jpg", 1, kBanHead + "The ban expires in 2 seconds", picture,
              "image/jpeg");
  AddAndStart();
  ASSERT_TRUE(RowReads(u"1/1", u"被封禁，1分钟后重试"));
  ASSERT_TRUE(window.WaitFor([](const test::FakeWindow& w) { return w.Messages().size() == 1; }));
  EXPECT_EQ(window.Messages(), std::vector<std::u16string>{u"被封禁，1分钟后重试"});
  // A Start meanwhile says how long is left and sends nothing.
  controller.Start();
  EXPECT_EQ(window.Messages().size(), 2u);
  EXPECT_EQ(window.Messages().back(), u"被封禁，1分钟后重试");
  ExpectQuietFor(700ms);
  ASSERT_TRUE(RowReads(u"3/3", u"已完成"));
  EXPECT_EQ(Files(), (std::set<std::string>{"001.jpg", "002.jpg", "003.jpg"}));
  EXPECT_EQ(test::ReadFileBytes(dir.Path() / "Banned" / "002.jpg"), picture);
  EXPECT_EQ(window.Messages().size(), 2u);
}

TEST_F(BanTest, BanOnAPageWithAnErrorStatusIsNotTriedAgainAndEndsTheSameWay) {
  const std::string page = test::EhSite::PagePath("77", false, 3);
  auto count = std::make_shared<std::atomic<int>>(0);
  const std::string real =
      test::EhSite::PicturePage("Banned", site.Url(page), "img", site.Url("/eh/pic/b/3.jpg"));
  server.Handle(page, [=](const httplib::Request&, httplib::Response& res) {
    if (++*count == 1) {
      res.status = 503;
      res.set_content(kBanHead + "The ban expires in 1 second.", "text/plain");
    } else {
      res.set_content(real, "text/html");
    }
  });
  AddAndStart();
  ASSERT_TRUE(RowReads(u"2/2", u"被封禁，1分钟后重试"));
  EXPECT_EQ(count->load(), 1) << "a ban is not tried again";
  ASSERT_TRUE(RowReads(u"3/3", u"已完成"));
  EXPECT_EQ(Files(), (std::set<std::string>{"001.jpg", "002.jpg", "003.jpg"}));
  EXPECT_EQ(window.Messages(), std::vector<std::u16string>{u"被封禁，1分钟后重试"});
}

TEST_F(BanTest, AddOfABannedGalleryMakesNoTaskAndSaysHowLong) {
  server.Serve(test::EhSite::GalleryPath("77", false),
               kBanHead + "The ban expires in 59 minutes and 30 seconds.");
  window.SetAddressText(site.Address(test::EhSite::GalleryPath("77", false)));
  controller.AddAddresses(window.AddressText(), window.Options());
  ASSERT_TRUE(test::WaitForAdds(controller.Adding(), 10s));
  EXPECT_EQ(window.RowCount(), 0);
  EXPECT_EQ(window.Messages(), std::vector<std::u16string>{u"被封禁，60分钟后重试"});
}

TEST_F(BanTest, ClosingEndsTheWaitForALongBanAtOnce) {
  AnswerFirst(server, "/eh/pic/b/1.jpg", 1, kBanHead + "The ban expires in 5 hours", "", "");
  AddAndStart();
  ASSERT_TRUE(RowReads(u"0/0", u"被封禁，300分钟后重试"));
  const auto start = std::chrono::steady_clock::now();
  controller.Shutdown();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  EXPECT_FALSE(controller.Workers().Running(SITE_EH));
  EXPECT_FALSE(fs::exists(dir.Path() / "Banned" / "001.jpg"));
}

// Page 2 shows a picture that fails and a link to its second server; asked with nl=KEY it
// names the picture `second` (a later reload asks with the key that page gives).
void ServeReloadablePage(test::TestServer& server, test::EhSite& site, const std::string& second) {
  const std::string page = test::EhSite::PagePath("77", false, 2);
  const std::string next = site.Url(test::EhSite::PagePath("77", false, 3));
  const std::string firstUrl = site.Url("/eh/pic/b/2.jpg");
  const std::string secondUrl = site.Url(second);
  server.Handle(page, [=](const httplib::Request& req, httplib::Response& res) {
    const std::string key = req.has_param("nl") ? req.get_param_value("nl") : "";
    res.set_content(
        test::EhSite::PicturePage("Banned", next, "sm", key.empty() ? firstUrl : secondUrl) +
            "<a href=\"#\" id=\"loadfail\" onclick=\"return nl('" + key +
            "k-1')\">Reload broken image</a>",
        "text/html");
  });
}

TEST_F(BanTest, FailingPictureIsTakenFromTheSecondServerUnderItsOwnName) {
  ServeReloadablePage(server, site, "/eh/pic2/b/2.jpg");
  server.Serve("/eh/pic/b/2.jpg", "busy", "text/plain", 503);
  const std::string second = test::EhSite::PictureBytes("/eh/pic2/b/2.jpg");
  server.Serve("/eh/pic2/b/2.jpg", second, "image/jpeg");
  AddAndStart();
  ASSERT_TRUE(RowReads(u"3/3", u"已完成"));
  EXPECT_EQ(test::ReadFileBytes(dir.Path() / "Banned" / "002.jpg"), second);
  EXPECT_EQ(server.Hits("/eh/pic/b/2.jpg"), 1) << "the first server is tried once";
  EXPECT_EQ(server.Hits("/eh/pic2/b/2.jpg"), 1);
}

TEST_F(BanTest, PictureThatFailsOnBothReloadsIsMissingAndKeepsItsNumber) {
  ServeReloadablePage(server, site, "/eh/pic2/b/2.jpg");
  server.Serve("/eh/pic/b/2.jpg", "<html>login</html>");
  server.Serve("/eh/pic2/b/2.jpg", "busy", "text/plain", 503);
  AddAndStart();
  ASSERT_TRUE(RowReads(u"3/3", u"未完成，缺1张"));
  EXPECT_EQ(Files(), (std::set<std::string>{"001.jpg", "003.jpg"}));
  EXPECT_EQ(server.Hits("/eh/pic/b/2.jpg"), 1);
  // The first reload once, the second as the retry policy says (three retries).
  EXPECT_EQ(server.Hits("/eh/pic2/b/2.jpg"), 1 + 4);
  EXPECT_EQ(server.Hits(test::EhSite::PagePath("77", false, 2)), 1 + 2);
}

}  // namespace
}  // namespace pageloom
