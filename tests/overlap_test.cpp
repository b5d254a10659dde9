// Working one picture ahead: the EH worker reads the next picture page while a picture
// downloads, the DMZJ worker stores the next picture of the list while one is stored.
// Whatever the site does, the rows after every step, the numbers and the files come out
// as with the steps one after the other, and no more than two requests of a site are in
// flight at once.
#include <gtest/gtest.h>

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

#include "app/folder_claims.h"
#include "app/task_controller.h"
#include "support/dmzj_site.h"
#include "support/eh_site.h"
#include "support/fake_window.h"
#include "support/scripted_comic.h"
#include "support/test_server.h"
#include "support/test_settings.h"
#include "text/fixed_text.h"

namespace pageloom::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// What a run leaves behind.
struct RunResult {
  std::vector<std::string> rows;              // every row its worker posted, in order
  std::map<std::string, std::string> files;   // the save folder's files and their bytes
  std::vector<std::u16string> messages;
  int mostAtOnce = 0;                         // the most requests the site served at once
  TaskRecord task;                            // where the task stands
};

std::vector<std::string> RowTexts(const std::vector<FakeWindow::RowPost>& posts) {
  std::vector<std::string> rows;
  for (const auto& post : posts)
    rows.push_back(std::to_string(post.taskNo) + " " + ToUtf8(post.progress) + " " + ToUtf8(post.status));
  return rows;
}

// An address without its scheme and host: the runs' sites listen on ports of their own.
std::string AfterHost(const std::u16string& url) {
  const std::size_t scheme = url.find(u"://");
  const std::size_t path = url.find(u'/', scheme == std::u16string::npos ? 0 : scheme + 3);
  return path == std::u16string::npos ? std::string() : ToUtf8(url.substr(path));
}

// Where a task stands, its addresses without their hosts.
std::vector<std::string> Standing(const TaskRecord& task) {
  std::vector<std::string> out{"number " + std::to_string(task.fileNumber),
                               "pages " + std::to_string(task.pictureCount),
                               "state " + std::to_string(task.state),
                               "page " + AfterHost(task.pageUrl)};
  for (const std::u16string& url : task.pictureUrls) out.push_back("listed " + AfterHost(url));
  for (const MissingPicture& missing : task.missing)
    out.push_back("missing " + AfterHost(missing.url) + " " + AfterHost(missing.page) + " " +
                  ToUtf8(missing.fileName));
  return out;
}

std::map<std::string, std::string> FilesIn(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir))
    if (entry.is_regular_file() && entry.path().filename() != kFolderSourceFile)
      files[fs::relative(entry.path(), dir).u8string()] = ReadFileBytes(entry.path());
  return files;
}

// One run from Add to the end of the worker's walk, against a site of its own that
// `build` lays out (it returns the address to add; `probe` looks at the server after).
template <typename Site>
RunResult RunSite(bool overlap, bool rename,
                  const std::function<std::u16string(TestServer&, Site&)>& build,
                  const std::function<void(const TestServer&)>& probe = {}) {
  // Every answer waits a little, so that requests of one worker would meet if they could.
  TestServer server(ServerOptions{nullptr, true, 0ms, 2ms});
  Site site(server);
  const std::u16string address = build(server, site);
  TempDir dir;
  FakeWindow window;
  window.SetSaveFolderText(dir.Wide());
  window.SetAutoRename(rename);
  ControllerSettings settings = TestSettings(site.Names());
  settings.overlap = overlap;
  RunResult result;
  {
    TaskController controller(window, settings);
    controller.OnBnClickedOption();
    window.SetAddressText(address);
    controller.OnBnClickedAdd();
    EXPECT_TRUE(controller.WaitForAdds(10s));
    controller.OnBnClickedStart();
    EXPECT_TRUE(WaitUntil([&] {
      return !controller.WorkerRunning(SITE_EH) && !controller.WorkerRunning(SITE_DMZJ);
    }, 30s));
    if (const auto task = controller.FindTask(0)) result.task = task->Record(true);
  }
  result.rows = RowTexts(window.RowPosts());
  result.files = FilesIn(dir.Path());
  result.messages = window.Messages();
  result.mostAtOnce = server.MostAtOnce();
  if (probe) probe(server);
  return result;
}

// The same run with and without working ahead: everything the user sees is the same.
template <typename Site>
RunResult ExpectSameWithAndWithoutOverlap(
    bool rename, const std::function<std::u16string(TestServer&, Site&)>& build,
    const std::function<void(const TestServer&)>& probe = {}) {
  const RunResult plain = RunSite<Site>(false, rename, build, probe);
  const RunResult ahead = RunSite<Site>(true, rename, build, probe);
  EXPECT_EQ(ahead.rows, plain.rows);
  EXPECT_EQ(ahead.files, plain.files);
  EXPECT_EQ(ahead.messages, plain.messages);
  EXPECT_EQ(Standing(ahead.task), Standing(plain.task));
  EXPECT_EQ(plain.mostAtOnce, 1);
  EXPECT_LE(ahead.mostAtOnce, 2);
  return ahead;
}

// --- EH ---

// A gallery of `pages` pages whose pictures are "/eh/pic/<name>/<n>.jpg"; `change` may
// alter the plan of picture n (from 1).
std::u16string Gallery(TestServer& server, EhSite& site, const std::string& name, int pages,
                       const std::function<void(int, EhPicturePlan&)>& change = {}) {
  EhGalleryPlan plan{"Ahead " + name + " Page 1", false, {}};
  for (int n = 1; n <= pages; ++n) {
    EhPicturePlan picture{"/eh/pic/" + name + "/" + std::to_string(n) + ".jpg"};
    if (change) change(n, picture);
    plan.pictures.push_back(picture);
  }
  site.AddGallery(name, plan);
  (void)server;
  return site.Address(EhSite::GalleryPath(name, false));
}

class GalleryAhead : public ::testing::TestWithParam<bool> {
 protected:
  bool Rename() const { return GetParam(); }
};

TEST_P(GalleryAhead, FailedPicturesKeepTheirNumbersAndEveryRowIsAsOneByOne) {
  const RunResult ahead = ExpectSameWithAndWithoutOverlap<EhSite>(
      Rename(), [](TestServer& server, EhSite& site) {
        const std::u16string address = Gallery(server, site, "g", 8, [](int n, EhPicturePlan& p) {
          if (n == 3) p.served = false;  // 404 while page 4 is read ahead
        });
        // Picture 5 breaks off halfway, every time it is tried.
        server.ServeBroken("/eh/pic/g/5.jpg", "\x89PIC half", 4000);
        return address;
      },
      [](const TestServer& server) {
        for (int page = 2; page <= 8; ++page)
          EXPECT_EQ(server.Hits(EhSite::PagePath("g", false, page)), 1) << page;
      });
  ASSERT_EQ(ahead.rows.size(), 8u);
  EXPECT_EQ(ahead.rows.back(), Rename() ? "0 8/8 未完成，缺2张" : "0 0/8 未完成，缺2张");
  EXPECT_EQ(ahead.files.size(), 6u);
}

TEST_P(GalleryAhead, TheLimitPictureStopsBeforeThePageAfterItIsRead) {
  const RunResult ahead = ExpectSameWithAndWithoutOverlap<EhSite>(
      Rename(),
      [](TestServer& server, EhSite& site) {
        return Gallery(server, site, "l", 5, [](int n, EhPicturePlan& p) {
          if (n == 3) p.path = "/eh/pic/l/509.gif";
        });
      },
      [](const TestServer& server) {
        EXPECT_EQ(server.Hits(EhSite::PagePath("l", false, 4)), 0);
        EXPECT_EQ(server.Hits("/eh/pic/l/509.gif"), 0);
      });
  EXPECT_EQ(ahead.messages, std::vector<std::u16string>{u"已到达下载上限。请清空cookie，换IP后重试。"});
  EXPECT_EQ(ahead.rows.back(), Rename() ? "0 3/2 暂停中" : "0 0/2 暂停中");
  EXPECT_EQ(ahead.files.size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Renaming, GalleryAhead, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& p) {
                           return p.param ? "Numbered" : "OwnNames";
                         });

// A meeting point on the server: a request that meets another is answered only once
// the other has come too (or after 10 s), so both are seen in flight at once.
class Meeting {
 public:
  // Answers `path` with `body` once `other` has been asked for as well.
  void Meet(TestServer& server, const std::string& path, std::string body, std::string other) {
    server.Handle(path, [this, path, body = std::move(body), other](const httplib::Request&,
                                                                    httplib::Response& res) {
      std::unique_lock<std::mutex> lock(m_mutex);
      m_seen.insert(path);
      m_changed.notify_all();
      if (m_changed.wait_for(lock, 10s, [&] { return m_seen.count(other) != 0; })) ++m_met;
      res.set_content(body, "application/octet-stream");
    });
  }
  int Met() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_met;
  }

 private:
  mutable std::mutex m_mutex;
  std::condition_variable m_changed;
  std::set<std::string> m_seen;
  int m_met = 0;
};

TEST(GalleryAheadMeeting, EachPageAfterTheFirstIsReadWhileThePictureBeforeItDownloads) {
  auto meeting = std::make_shared<Meeting>();
  const RunResult ahead = RunSite<EhSite>(true, true, [&](TestServer& server, EhSite& site) {
    const std::u16string address = Gallery(server, site, "m", 4);
    for (int n = 1; n < 4; ++n) {
      const std::string picture = "/eh/pic/m/" + std::to_string(n) + ".jpg";
      const std::string next = EhSite::PagePath("m", false, n + 1);
      const std::string after = site.Url(EhSite::PagePath("m", false, n + 2 <= 4 ? n + 2 : 4));
      meeting->Meet(server, picture, EhSite::PictureBytes(picture), next);
      meeting->Meet(server, next, EhSite::PicturePage("Ahead m Page 1", after, "img", site.Url("/eh/pic/m/" + std::to_string(n + 1) + ".jpg")), picture);
    }
    return address;
  });
  EXPECT_EQ(meeting->Met(), 6);
  EXPECT_EQ(ahead.mostAtOnce, 2);
  EXPECT_EQ(ahead.rows.back(), "0 4/4 已完成");
}

// --- DMZJ ---

// A chapter of `count` pictures "c/<name>/p<n>.jpg"; `change` may rename picture n.
std::u16string Chapter(DmzjSite& site, const std::string& name, int count,
                       const std::function<void(int, std::string&)>& change = {}) {
  DmzjChapterPlan plan{"先行", name, std::to_string(count), "", {}};
  for (int n = 1; n <= count; ++n) {
    std::string path = "c/" + name + "/p" + std::to_string(n) + ".jpg";
    if (change) change(n, path);
    plan.pictures.push_back(path);
  }
  site.AddChapter("/c/" + name + ".shtml", plan);
  return site.Address("/c/" + name + ".shtml");
}

class ChapterAhead : public GalleryAhead {};

TEST_P(ChapterAhead, FailedPicturesAheadAndInFrontKeepTheirNumbersAndEveryRowIsAsOneByOne) {
  const RunResult ahead = ExpectSameWithAndWithoutOverlap<DmzjSite>(
      Rename(),
      [](TestServer& server, DmzjSite& site) {
        const std::u16string address = Chapter(site, "f", 7);
        // The second picture (stored ahead of the first) answers 404; the fifth (stored
        // while the sixth is fetched ahead) breaks off halfway.
        server.Serve("/dmzjpic/c/f/p2.jpg", "gone", "text/plain", 404);
        server.ServeBroken("/dmzjpic/c/f/p5.jpg", "\xFF\xD8 half", 4000);
        return address;
      },
      [](const TestServer& server) {
        for (int n : {1, 3, 4, 6, 7})
          EXPECT_EQ(server.Hits("/dmzjpic/c/f/p" + std::to_string(n) + ".jpg"), 1)
              << n << ": stored once, under the name it was stored ahead with";
      });
  ASSERT_EQ(ahead.rows.size(), 8u);
  EXPECT_EQ(ahead.rows.back(), Rename() ? "0 7/7 未完成，缺2张" : "0 0/7 未完成，缺2张");
  EXPECT_EQ(ahead.files.size(), 5u);
}

TEST_P(ChapterAhead, TheLimitPictureIsNeverFetchedAheadAndStopsWithItsNumberGivenBack) {
  for (const int limit : {3, 4}) {  // fetched in front, or next after one fetched in front
    SCOPED_TRACE(limit);
    const RunResult ahead = ExpectSameWithAndWithoutOverlap<DmzjSite>(
        Rename(), [limit](TestServer&, DmzjSite& site) {
          return Chapter(site, "l", 6, [limit](int n, std::string& path) {
            if (n == limit) path = "c/l/509.gif";
          });
        },
        [](const TestServer& server) {
          EXPECT_EQ(server.Hits("/dmzjpic/c/l/509.gif"), 0);
          EXPECT_EQ(server.Hits("/dmzjpic/c/l/p5.jpg"), 0);
        });
    EXPECT_EQ(ahead.messages.size(), 1u);
    EXPECT_EQ(ahead.rows.back(), "0 " + std::to_string(Rename() ? limit - 1 : 0) + "/6 暂停中");
    EXPECT_EQ(ahead.files.size(), static_cast<std::size_t>(limit - 1));
    ASSERT_FALSE(ahead.task.pictureUrls.empty());
    EXPECT_EQ(ahead.task.pictureUrls.front().substr(ahead.task.pictureUrls.front().size() - 7),
              u"509.gif");
  }
}

INSTANTIATE_TEST_SUITE_P(Renaming, ChapterAhead, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& p) {
                           return p.param ? "Numbered" : "OwnNames";
                         });

TEST(ChapterAheadMeeting, EverySecondPictureIsStoredWhileThePictureBeforeItIs) {
  auto meeting = std::make_shared<Meeting>();
  const RunResult ahead = RunSite<DmzjSite>(true, true, [&](TestServer& server, DmzjSite& site) {
    const std::u16string address = Chapter(site, "m", 4);
    const auto path = [](int n) { return "c/m/p" + std::to_string(n) + ".jpg"; };
    for (int n : {1, 3}) {
      meeting->Meet(server, "/dmzjpic/" + path(n), DmzjSite::PictureBytes(path(n)), "/dmzjpic/" + path(n + 1));
      meeting->Meet(server, "/dmzjpic/" + path(n + 1), DmzjSite::PictureBytes(path(n + 1)), "/dmzjpic/" + path(n));
    }
    return address;
  });
  EXPECT_EQ(meeting->Met(), 4);
  EXPECT_EQ(ahead.mostAtOnce, 2);
  EXPECT_EQ(ahead.rows.back(), "0 4/4 已完成");
  EXPECT_EQ(ahead.files.size(), 4u);
}

// --- closing ---

std::set<int> ThreadIds() {
  std::set<int> ids;
  for (const auto& entry : fs::directory_iterator("/proc/self/task"))
    ids.insert(std::stoi(entry.path().filename().string()));
  return ids;
}

TEST(ClosingAhead, BothTransfersOfEachWorkerEndAndLeaveNoPartialFileAndNoThread) {
  TestServer server;
  DmzjSite dmzj(server);
  EhSite eh(server);
  SiteNames names = dmzj.Names();
  EhSite::Apply(names);
  // The gallery's second picture and the page after it, the chapter's first picture and
  // the one stored ahead of it: all four stall halfway.
  const std::u16string gallery = Gallery(server, eh, "c", 4);
  const std::u16string chapter = Chapter(dmzj, "c", 3);
  server.Stall("/eh/pic/c/2.jpg", "\x89PIC partial");
  server.Stall(EhSite::PagePath("c", false, 3));
  server.Stall("/dmzjpic/c/c/p1.jpg", "\xFF\xD8 partial");
  server.Stall("/dmzjpic/c/c/p2.jpg", "\xFF\xD8 partial");
  TempDir dir;
  FakeWindow window;
  window.SetSaveFolderText(dir.Wide());
  TaskController controller(window, TestSettings(names));
  for (const std::u16string& address : {gallery, chapter}) {
    window.SetAddressText(address);
    controller.OnBnClickedAdd();
    ASSERT_TRUE(controller.WaitForAdds(10s));
  }
  const std::set<int> before = ThreadIds();
  controller.OnBnClickedStart();
  ASSERT_TRUE(server.WaitForStalled(4));
  const fs::path galleryFolder = dir.Path() / "Ahead c";
  const fs::path chapterFolder = dir.Path() / fs::u8path("先行/c");
  ASSERT_TRUE(WaitUntil([&] {
    return PartFilesBeingWritten(galleryFolder) == 1 && PartFilesBeingWritten(chapterFolder) == 2;
  }));

  controller.Shutdown();
  EXPECT_FALSE(controller.WorkerRunning(SITE_EH));
  EXPECT_FALSE(controller.WorkerRunning(SITE_DMZJ));
  EXPECT_EQ(PartFilesBeingWritten(galleryFolder), 0);
  EXPECT_EQ(PartFilesBeingWritten(chapterFolder), 0);
  std::set<std::string> files;
  for (const auto& [name, bytes] : FilesIn(dir.Path())) files.insert(name);
  EXPECT_EQ(files, std::set<std::string>{"Ahead c/001.jpg"});
  for (const int id : ThreadIds()) EXPECT_EQ(before.count(id), 1u) << "thread " << id << " is left";

  // Each task stands where the step in flight began, with its number given back.
  const TaskRecord galleryTask = controller.FindTask(0)->Record(false);
  EXPECT_EQ(galleryTask.pageUrl, eh.Address(EhSite::PagePath("c", false, 2)));
  EXPECT_EQ(galleryTask.fileNumber, 1);
  const TaskRecord chapterTask = controller.FindTask(1)->Record(true);
  EXPECT_EQ(chapterTask.fileNumber, 0);
  EXPECT_EQ(chapterTask.pictureUrls.size(), 3u);
  server.ReleaseStalls();
}

}  // namespace
}  // namespace pageloom::test
