// Working one picture ahead: the EH worker reads the next picture page while a picture
// downloads, the DMZJ worker stores the next picture of the list while one is stored.
// Whatever the site does, the rows after every step, the numbers and the files come out
// as one by one, and no more than two requests of a site are in flight at once.
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/task_controller.h"
#include "base/fixed_text.h"
#include "engine/page_ahead.h"
#include "store/folder_claims.h"
#include "support/dmzj_site.h"
#include "support/eh_site.h"
#include "support/fake_window.h"
#include "support/scripted_comic.h"
#include "support/test_server.h"
#include "support/test_settings.h"

namespace pageloom::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// Both sites on one server whose every answer waits a little, so that two requests of a
// worker would meet if they could.
struct Sites {
  TestServer server{ServerOptions{nullptr, true, 0ms, 2ms}};
  EhSite eh{server};
  DmzjSite dmzj{server};
  SiteNames Names() const {
    SiteNames names = dmzj.Names();
    EhSite::Apply(names);
    return names;
  }
};
// Lays out what a run downloads; returns the address to add.
using Layout = std::function<std::u16string(Sites&)>;

std::u16string Gallery(Sites& sites, const std::string& name, int pages) {
  EhGalleryPlan plan{"Ahead " + name + " Page 1", false, {}};
  for (int n = 1; n <= pages; ++n)
    plan.pictures.push_back({"/eh/pic/" + name + "/" + std::to_string(n) + ".jpg"});
  sites.eh.AddGallery(name, plan);
  return sites.eh.Address(EhSite::GalleryPath(name, false));
}

std::u16string Chapter(Sites& sites, const std::string& name, int count) {
  DmzjChapterPlan plan{"先行", name, std::to_string(count), "", {}};
  for (int n = 1; n <= count; ++n)
    plan.pictures.push_back("c/" + name + "/p" + std::to_string(n) + ".jpg");
  sites.dmzj.AddChapter("/c/" + name + ".shtml", plan);
  return sites.dmzj.Address("/c/" + name + ".shtml");
}

std::map<std::string, std::string> FilesIn(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir))
    if (entry.is_regular_file() && entry.path().filename() != kFolderSourceFile)
      files[fs::relative(entry.path(), dir).u8string()] = ReadFileBytes(entry.path());
  return files;
}

struct RunResult {
  std::vector<std::string> rows;  // every row the worker posted, in order
  std::map<std::string, std::string> files;
  std::vector<std::u16string> messages;
  std::vector<std::u16string> missing;  // the names kept for the missing pictures
  int mostAtOnce = 0;
  std::map<std::string, int> hits;  // of the paths asked for
};

// One run from Add to the end of the worker's walk.
RunResult RunToEnd(bool overlap, bool rename, const Layout& layout,
                   const std::vector<std::string>& paths = {}) {
  Sites sites;
  const std::u16string address = layout(sites);
  TempDir dir;
  FakeWindow window;
  window.SetSaveFolderText(dir.Wide());
  window.SetAutoRename(rename);
  ControllerSettings settings = TestSettings(sites.Names());
  settings.overlap = overlap;
  RunResult result;
  {
    TaskController controller(window, settings);
    window.SetAddressText(address);
    controller.AddAddresses(window.AddressText(), window.Options());
    EXPECT_TRUE(WaitForAdds(controller.Adding(), 10s));
    controller.Start();
    EXPECT_TRUE(WaitUntil(
        [&] {
          return !controller.Workers().Running(SITE_EH) && !controller.Workers().Running(SITE_DMZJ);
        },
        30s));
    if (const auto task = controller.Tasks().Find(0))
      for (const MissingPicture& picture : task->Missing())
        result.missing.push_back(picture.fileName);
  }
  for (const FakeWindow::RowPost& post : window.RowPosts())
    result.rows.push_back(ToUtf8(post.progress + u" " + post.status));
  result.files = FilesIn(dir.Path());
  result.messages = window.Messages();
  result.mostAtOnce = sites.server.MostAtOnce();
  for (const std::string& path : paths) result.hits[path] = sites.server.Hits(path);
  return result;
}

// The same run one by one and working ahead: what the user sees is the same.
RunResult ExpectAsOneByOne(bool rename, const Layout& layout,
                           const std::vector<std::string>& paths) {
  const RunResult plain = RunToEnd(false, rename, layout, paths);
  const RunResult ahead = RunToEnd(true, rename, layout, paths);
  EXPECT_EQ(ahead.rows, plain.rows);
  EXPECT_EQ(ahead.files, plain.files);
  EXPECT_EQ(ahead.messages, plain.messages);
  EXPECT_EQ(ahead.missing, plain.missing);
  EXPECT_EQ(ahead.hits, plain.hits);
  EXPECT_EQ(plain.mostAtOnce, 1);
  EXPECT_LE(ahead.mostAtOnce, 2);
  return ahead;
}

class OverlapTest : public ::testing::TestWithParam<bool> {};

// Picture 3 answers 404 while page 4 is read ahead; picture 5 breaks off halfway on
// every try; picture 7 is the limit picture, which takes no number and after which no
// page is read.
TEST_P(OverlapTest, GalleryWithFailuresAndTheLimitEndsAsOneByOne) {
  const RunResult ahead = ExpectAsOneByOne(
      GetParam(),
      [](Sites& sites) {
        const std::u16string address = Gallery(sites, "g", 9);
        sites.server.Serve("/eh/pic/g/3.jpg", "gone", "text/plain", 404);
        sites.server.ServeBroken("/eh/pic/g/5.jpg", "\x89PNG\r\n\x1A\n half", 4000);
        sites.eh.SetPicture("g", 7, {"/eh/pic/g/509.gif"});
        return address;
      },
      {EhSite::PagePath("g", false, 6), EhSite::PagePath("g", false, 8), "/eh/pic/g/6.jpg"});
  EXPECT_EQ(ahead.rows.back(), GetParam() ? "6/6 暂停中" : "0/6 暂停中");
  EXPECT_EQ(ahead.files.size(), 4u);
  EXPECT_EQ(ahead.missing.size(), 2u);
  EXPECT_EQ(ahead.messages.size(), 1u);
}

// In pairs, one stored in front and the next ahead: picture 2 (ahead) answers 404,
// picture 5 (in front) breaks off halfway, picture 8 (next after 7) is the limit picture.
TEST_P(OverlapTest, ChapterWithFailuresAndTheLimitEndsAsOneByOne) {
  const RunResult ahead = ExpectAsOneByOne(
      GetParam(),
      [](Sites& sites) {
        DmzjChapterPlan plan{"先行", "f", "9", "", {}};
        for (int n = 1; n <= 9; ++n)
          plan.pictures.push_back(n == 8 ? "c/f/509.gif" : "c/f/p" + std::to_string(n) + ".jpg");
        sites.dmzj.AddChapter("/c/f.shtml", plan);
        sites.server.Serve("/dmzjpic/c/f/p2.jpg", "gone", "text/plain", 404);
        sites.server.ServeBroken("/dmzjpic/c/f/p5.jpg", "\xFF\xD8\xFF half", 4000);
        return sites.dmzj.Address("/c/f.shtml");
      },
      {"/dmzjpic/c/f/p4.jpg", "/dmzjpic/c/f/p6.jpg", "/dmzjpic/c/f/509.gif",
       "/dmzjpic/c/f/p9.jpg"});
  EXPECT_EQ(ahead.rows.back(), GetParam() ? "7/9 暂停中" : "0/9 暂停中");
  EXPECT_EQ(ahead.files.size(), 5u);
  EXPECT_EQ(ahead.missing.size(), 2u);
  EXPECT_EQ(ahead.hits.at("/dmzjpic/c/f/p6.jpg"), 1) << "stored once, under the name it had ahead";
}

INSTANTIATE_TEST_SUITE_P(Renaming, OverlapTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& p) {
                           return p.param ? "Numbered" : "OwnNames";
                         });

// A meeting point on the server: a request that meets another is answered only once the
// other has come too (or after 10 s), so both are in flight at once.
struct Meeting {
  void Meet(TestServer& server, const std::string& path, std::string body,
            const std::string& other) {
    server.Handle(path, [this, path, body, other](const httplib::Request&, httplib::Response& res) {
      std::unique_lock<std::mutex> lock(mutex);
      seen.insert(path);
      changed.notify_all();
      met += changed.wait_for(lock, 10s, [&] { return seen.count(other) != 0; }) ? 1 : 0;
      res.set_content(body, "application/octet-stream");
    });
  }
  std::mutex mutex;
  std::condition_variable changed;
  std::set<std::string> seen;
  int met = 0;
};

TEST(Overlap, TheNextPageOrPictureIsInFlightWithThePictureBeforeIt) {
  Meeting meeting;
  const RunResult gallery = RunToEnd(true, true, [&](Sites& sites) {
    const std::u16string address = Gallery(sites, "m", 3);
    for (int n = 1; n <= 2; ++n) {
      const std::string picture = "/eh/pic/m/" + std::to_string(n) + ".jpg";
      const std::string next = EhSite::PagePath("m", false, n + 1);
      const std::string page =
          EhSite::PicturePage("Ahead m Page 1", sites.eh.Url(EhSite::PagePath("m", false, 3)),
                              "img", sites.eh.Url("/eh/pic/m/" + std::to_string(n + 1) + ".jpg"));
      meeting.Meet(sites.server, picture, EhSite::PictureBytes(picture), next);
      meeting.Meet(sites.server, next, page, picture);
    }
    return address;
  });
  const RunResult chapter = RunToEnd(true, true, [&](Sites& sites) {
    const std::u16string address = Chapter(sites, "m", 2);
    meeting.Meet(sites.server, "/dmzjpic/c/m/p1.jpg", DmzjSite::PictureBytes("c/m/p1.jpg"),
                 "/dmzjpic/c/m/p2.jpg");
    meeting.Meet(sites.server, "/dmzjpic/c/m/p2.jpg", DmzjSite::PictureBytes("c/m/p2.jpg"),
                 "/dmzjpic/c/m/p1.jpg");
    return address;
  });
  EXPECT_EQ(meeting.met, 6);
  EXPECT_EQ(gallery.mostAtOnce, 2);
  EXPECT_EQ(chapter.mostAtOnce, 2);
  EXPECT_EQ(gallery.rows.back(), "3/3 已完成");
  EXPECT_EQ(chapter.rows.back(), "2/2 已完成");
  EXPECT_EQ(chapter.files.size(), 2u);
}

std::set<int> ThreadIds() {
  std::set<int> ids;
  for (const auto& entry : fs::directory_iterator("/proc/self/task"))
    ids.insert(std::stoi(entry.path().filename().string()));
  return ids;
}

TEST(Overlap, ClosingEndsBothTransfersOfEachWorkerAndLeavesNoPartialFileAndNoThread) {
  Sites sites;
  // The gallery's second picture and the page after it, the chapter's first picture and
  // the one stored ahead of it: all four stall.
  const std::u16string gallery = Gallery(sites, "c", 4);
  const std::u16string chapter = Chapter(sites, "c", 3);
  sites.server.Stall("/eh/pic/c/2.jpg", "\x89PNG\r\n\x1A\n partial");
  sites.server.Stall(EhSite::PagePath("c", false, 3));
  sites.server.Stall("/dmzjpic/c/c/p1.jpg", "\xFF\xD8\xFF partial");
  sites.server.Stall("/dmzjpic/c/c/p2.jpg", "\xFF\xD8\xFF partial");
  TempDir dir;
  FakeWindow window;
  window.SetSaveFolderText(dir.Wide());
  TaskController controller(window, TestSettings(sites.Names()));
  for (const std::u16string& address : {gallery, chapter}) {
    window.SetAddressText(address);
    controller.AddAddresses(window.AddressText(), window.Options());
    ASSERT_TRUE(WaitForAdds(controller.Adding(), 10s));
  }
  const std::set<int> before = ThreadIds();
  controller.Start();
  ASSERT_TRUE(sites.server.WaitForStalled(4));
  const fs::path galleryFolder = dir.Path() / "Ahead c";
  const fs::path chapterFolder = dir.Path() / fs::u8path("先行/c");
  ASSERT_TRUE(WaitUntil([&] {
    return PartFilesBeingWritten(galleryFolder) == 1 && PartFilesBeingWritten(chapterFolder) == 2;
  }));

  controller.Shutdown();
  EXPECT_EQ(PartFilesBeingWritten(galleryFolder) + PartFilesBeingWritten(chapterFolder), 0);
  const auto files = FilesIn(dir.Path());
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files.begin()->first, "Ahead c/001.jpg");
  for (const int id : ThreadIds()) EXPECT_EQ(before.count(id), 1u) << "thread " << id << " is left";
  // Each task stands where its step in flight began, the number given back.
  EXPECT_EQ(controller.Tasks().Find(0)->GetPageUrl(),
            sites.eh.Address(EhSite::PagePath("c", false, 2)));
  EXPECT_EQ(controller.Tasks().Find(0)->GetFileNumber(), 1);
  EXPECT_EQ(controller.Tasks().Find(1)->GetFileNumber(), 0);
  EXPECT_EQ(controller.Tasks().Find(1)->Record(true).pictureUrls.size(), 3u);
  sites.server.ReleaseStalls();
}

TEST(Overlap, APageReadAheadIsHandedOverOnlyForItsAddressAndWhileFresh) {
  TestServer server;
  server.Serve("/a", "page a");
  server.Serve("/b", "page b");
  Cancellation cancel;
  Session session(cancel, NetTimeouts{2, 2});
  const RetryPolicy retry{{}, {}};
  auto page = std::make_unique<PageBuffer>();
  page->fill('x');
  PageAhead ahead(session, retry);
  ahead.Start(server.WideUrl("/a"));
  EXPECT_FALSE(ahead.Take(server.WideUrl("/b"), *page));
  EXPECT_FALSE(ahead.Take(server.WideUrl("/a"), *page)) << "dropped by the take before";
  EXPECT_EQ((*page)[0], 'x');
  ahead.Start(server.WideUrl("/a"));
  ahead.Start(server.WideUrl("/b"));
  ASSERT_TRUE(ahead.Take(server.WideUrl("/b"), *page));
  EXPECT_EQ(std::string(page->data()), "page b");

  PageAhead stale(session, retry, 0ms);  // every page is too old
  stale.Start(server.WideUrl("/a"));
  EXPECT_FALSE(stale.Take(server.WideUrl("/a"), *page));
  EXPECT_EQ(server.Hits("/a"), 3);
}

}  // namespace
}  // namespace pageloom::test
