// Picture downloads against the local server into temporary folders: results, what is
// left on disk, the limit picture, path limits, failures, progress, aborting and threads.
#include "net/picture.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "base/fixed_text.h"
#include "engine/picture_download.h"
#include "net/page_fetch.h"
#include "net/part_file.h"
#include "net/session.h"
#include "support/fake_window.h"
#include "support/test_server.h"

namespace pageloom {
namespace {

namespace fs = std::filesystem;
using test::FakeWindow;
using test::TempDir;
using test::TestServer;
using Clock = std::chrono::steady_clock;

constexpr char16_t kLimitReached[] = u"已到达下载上限。请清空cookie，换IP后重试。";

struct Folder {
  std::array<char16_t, kPathCapacity> units{};
  explicit Folder(std::u16string_view text) { CopyWide(units.data(), units.size(), text); }
  char16_t* data() { return units.data(); }
  std::u16string Text() const { return std::u16string(WideView(units.data(), units.size())); }
};

// Names of everything in a folder, hidden files included.
std::set<std::string> Entries(const fs::path& dir) {
  std::set<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec)) names.insert(entry.path().filename());
  return names;
}

class PictureTest : public ::testing::Test {
 protected:
  static NetTimeouts Short() {
    NetTimeouts t;
    t.connectSeconds = 2;
    t.lowSpeedSeconds = 1;
    return t;
  }
  int Download(const std::string& path, std::u16string_view name, Folder& folder) {
    return DownloadPicture(session, server.WideUrl(path), name, folder.data(), window);
  }

  Cancellation cancel;
  Session session{cancel, Short()};
  TestServer server;
  TempDir tmp;
  FakeWindow window;
};

TEST_F(PictureTest, PictureIsStoredFreshIntoAPreparedFolder) {
  const std::string body = TestServer::GeneratedBody(3 * 1024 * 1024 + 17);
  server.Serve("/img/001.jpg", body, "image/jpeg");
  Folder folder(tmp.Wide("gallery/chapter"));
  EXPECT_EQ(Download("/img/001.jpg", u"001.jpg", folder), kPictureStored);
  EXPECT_EQ(folder.Text(), tmp.Wide("gallery/chapter/"));
  const fs::path file = tmp.Path() / "gallery" / "chapter" / "001.jpg";
  EXPECT_TRUE(test::ReadFileBytes(file) == body);
  EXPECT_EQ(Entries(file.parent_path()), std::set<std::string>{"001.jpg"});
  EXPECT_EQ(server.LastHeader("Cache-Control"), "no-cache");
  EXPECT_EQ(server.LastHeader("Pragma"), "no-cache");
  EXPECT_EQ(server.LastHeader("User-Agent"), "pageLoom");
  EXPECT_TRUE(window.Messages().empty());
}

TEST_F(PictureTest, PagesAndPicturesCarryTheSessionsOneUserAgent) {
  server.Serve("/page", "<html></html>");
  server.Serve("/p.jpg", test::Jpeg("p"));
  auto page = std::make_unique<PageBuffer>();
  Folder folder(tmp.Wide());
  setenv("PAGELOOM_USER_AGENT", "Agent/1.0 (test)", 1);
  Session fromEnvironment(cancel, Short());
  unsetenv("PAGELOOM_USER_AGENT");
  for (Session* s : {&fromEnvironment, &session}) {
    if (s == &session) session.SetUserAgent("Set/2");
    const std::string agent = s == &session ? "Set/2" : "Agent/1.0 (test)";
    ASSERT_EQ(FetchPage(*s, server.WideUrl("/page"), *page), 1);
    EXPECT_EQ(server.LastHeader("User-Agent"), agent);
    std::filesystem::remove(tmp.Path() / "p.jpg");
    EXPECT_EQ(DownloadPicture(*s, server.WideUrl("/p.jpg"), u"p.jpg", folder.data(), window),
              kPictureStored);
    EXPECT_EQ(server.LastHeader("User-Agent"), agent);
  }
}

TEST_F(PictureTest, ExistingFileIsNeverFetchedAgain) {
  server.Serve("/p.png", "new picture bytes");
  test::WriteFileBytes(tmp.Path() / "p.png", "");
  Folder folder(tmp.Wide());
  EXPECT_EQ(Download("/p.png", u"p.png", folder), kPictureStored);
  EXPECT_EQ(server.Hits("/p.png"), 0);
  EXPECT_EQ(test::ReadFileBytes(tmp.Path() / "p.png"), "");
}

TEST_F(PictureTest, OnlyAnAnswerOfExactly28BytesIsThrownAway) {
  for (std::size_t size : {27u, 28u, 29u}) {
    SCOPED_TRACE(size);
    const std::string path = "/s" + std::to_string(size) + ".gif";
    server.Serve(path, "GIF89a" + std::string(size - 6, 'g'), "image/gif");
    Folder folder(tmp.Wide());
    const int result = Download(path, FromUtf8(path.substr(1)), folder);
    const bool kept = size != 28;
    EXPECT_EQ(result, kept ? kPictureStored : kPictureFailed);
    EXPECT_EQ(fs::exists(tmp.Path() / path.substr(1)), kept);
  }
  EXPECT_EQ(Entries(tmp.Path()), (std::set<std::string>{"s27.gif", "s29.gif"}));
}

TEST_F(PictureTest, EmptyAnswersAndErrorPagesAreNoPictures) {
  server.Serve("/empty.jpg", "", "image/jpeg");
  server.Serve("/missing.jpg", "<html>404 Not Found, with a long explanation</html>", "text/html",
               404);
  server.Serve("/busy.jpg", "try later", "text/plain", 503);
  Folder folder(tmp.Wide());
  EXPECT_EQ(Download("/empty.jpg", u"empty.jpg", folder), kPictureFailed);
  EXPECT_EQ(Download("/missing.jpg", u"missing.jpg", folder), kPictureFailed);
  EXPECT_EQ(Download("/busy.jpg", u"busy.jpg", folder), kPictureFailed);
  EXPECT_TRUE(Entries(tmp.Path()).empty());

  // A moved picture is followed.
  server.Serve("/real.jpg", test::Jpeg("real picture"));
  server.Redirect("/moved.jpg", "/real.jpg", 301);
  EXPECT_EQ(Download("/moved.jpg", u"moved.jpg", folder), kPictureStored);
  EXPECT_EQ(test::ReadFileBytes(tmp.Path() / "moved.jpg"), test::Jpeg("real picture"));
}

TEST_F(PictureTest, BrokenOrStalledTransferLeavesNothing) {
  server.ServeBroken("/cut.jpg", test::Jpeg(std::string(200000, 'c')), 400000);
  server.ServeBroken("/cut-chunked.jpg", test::Jpeg(std::string(9000, 'c')), 0, true);
  server.Stall("/stuck.jpg", test::Jpeg(std::string(5000, 's')));
  Folder folder(tmp.Wide());
  EXPECT_EQ(Download("/cut.jpg", u"cut.jpg", folder), kPictureFailed);
  EXPECT_EQ(Download("/cut-chunked.jpg", u"cut-chunked.jpg", folder), kPictureFailed);
  const auto start = Clock::now();
  EXPECT_EQ(Download("/stuck.jpg", u"stuck.jpg", folder), kPictureFailed);
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2500));
  EXPECT_TRUE(Entries(tmp.Path()).empty());
}

TEST_F(PictureTest, LimitPictureIsASmallGifOrNothingAndLeavesNoFile) {
  server.Serve("/h/509.gif", "GIF89a" + std::string(500, 'l'), "image/gif");
  server.Serve("/e/509.gif", "", "image/gif");
  // Renaming off (the address's own name) and on (a running number).
  for (std::u16string_view name : {u"509.gif", u"0007.gif"}) {
    Folder folder(tmp.Wide("task"));
    EXPECT_EQ(Download("/h/509.gif", name, folder), kPictureStop);
    EXPECT_EQ(Download("/e/509.gif", name, folder), kPictureStop);
  }
  EXPECT_EQ(window.Messages(), std::vector<std::u16string>(4, kLimitReached));
  EXPECT_TRUE(Entries(tmp.Path() / "task").empty());

  // A real picture of that name is stored: a large GIF, or another kind.
  const std::string large = "GIF89a" + std::string(30 * 1024, 'g');
  server.Serve("/big/509.gif", large, "image/gif");
  server.Serve("/jpg/509.gif", test::Jpeg("small"), "image/gif");
  Folder folder(tmp.Wide("task"));
  EXPECT_EQ(Download("/big/509.gif", u"001.gif", folder), kPictureStored);
  EXPECT_EQ(Download("/jpg/509.gif", u"002.gif", folder), kPictureStored);
  EXPECT_EQ(test::ReadFileBytes(tmp.Path() / "task" / "001.gif"), large);
  EXPECT_EQ(window.Messages().size(), 4u);
}

TEST_F(PictureTest, OnlyTheExactLimitNameInTheAddressCounts) {
  server.Serve("/h/abc.gif", "GIF89a 509th picture");
  server.Serve("/h/509.GIF", "GIF89a upper case");
  server.Serve("/h/x509.gif", "GIF89a prefixed");
  Folder folder(tmp.Wide());
  EXPECT_EQ(Download("/h/abc.gif", u"509.gif", folder), kPictureStored);
  EXPECT_EQ(test::ReadFileBytes(tmp.Path() / "509.gif"), "GIF89a 509th picture");
  EXPECT_EQ(Download("/h/509.GIF", u"509.GIF", folder), kPictureStored);
  EXPECT_EQ(Download("/h/x509.gif", u"x509.gif", folder), kPictureStored);
  EXPECT_TRUE(window.Messages().empty());
}

TEST_F(PictureTest, FullPathMustFitThePathBuffer) {
  // A folder whose path with separator is 250 units long.
  std::string dir = tmp.Str();
  dir += "/" + std::string(249 - dir.size() - 1, 'd');
  fs::create_directories(dir);
  Folder folder(FromUtf8(dir));
  server.Serve("/fit.jpg", test::Jpeg("fits"));
  const std::u16string fits(kPathCapacity - 1 - 250, u'n');  // 259 units in all
  const std::u16string tooLong(kPathCapacity - 250, u'n');   // 260
  EXPECT_EQ(Download("/fit.jpg", tooLong, folder), kPictureFailed);
  EXPECT_EQ(server.TotalHits(), 0);
  EXPECT_TRUE(Entries(dir).empty());
  EXPECT_EQ(Download("/fit.jpg", fits, folder), kPictureStored);
  EXPECT_EQ(test::ReadFileBytes(dir + "/" + ToUtf8(fits)), test::Jpeg("fits"));
}

TEST_F(PictureTest, PartFilesOfKilledRunsAreRemovedAndLiveOnesLeftAlone) {
  // A process that has ended, for the name of a file it left behind.
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  ASSERT_GT(gone, 0);
  ASSERT_EQ(waitpid(gone, nullptr, 0), gone);
  const std::string dead = "." + std::to_string(gone) + "-0.part";
  const std::string live = "." + std::to_string(getpid()) + "-77.part";
  test::WriteFileBytes(tmp.Path() / (".012.jpg" + dead), std::string(100000, 'z'));
  test::WriteFileBytes(tmp.Path() / (".012.jpg" + live), "being written");
  test::WriteFileBytes(tmp.Path() / ".011.jpg.part", "an earlier version's");
  test::WriteFileBytes(tmp.Path() / ".hidden", "not ours");

  // A download neither reads nor disturbs what others left.
  server.Serve("/012.jpg", test::Jpeg("complete picture"));
  Folder folder(tmp.Wide());
  EXPECT_EQ(Download("/012.jpg", u"012.jpg", folder), kPictureStored);
  EXPECT_EQ(test::ReadFileBytes(tmp.Path() / "012.jpg"), test::Jpeg("complete picture"));
  EXPECT_EQ(Entries(tmp.Path()).size(), 5u);

  RemoveLeftoverPartFiles(tmp.Path());
  EXPECT_EQ(Entries(tmp.Path()), (std::set<std::string>{"012.jpg", ".012.jpg" + live, ".hidden"}));

  // A leftover that is a link goes as a link: the file it points to stays as it is.
  test::WriteFileBytes(tmp.Path() / "victim", "keep me");
  fs::create_symlink(tmp.Path() / "victim", tmp.Path() / ".013.jpg.part");
  server.Serve("/013.jpg", test::Jpeg("thirteen"));
  EXPECT_EQ(Download("/013.jpg", u"013.jpg", folder), kPictureStored);
  RemoveLeftoverPartFiles(tmp.Path());
  EXPECT_EQ(test::ReadFileBytes(tmp.Path() / "victim"), "keep me");
  EXPECT_EQ(test::ReadFileBytes(tmp.Path() / "013.jpg"), test::Jpeg("thirteen"));
  EXPECT_FALSE(fs::is_symlink(tmp.Path() / ".013.jpg.part"));
}

TEST_F(PictureTest, TwoWritersOfOnePictureLeaveOneCompletePictureOrNone) {
  // Both requests are held until both have arrived; one then gets a broken body, the
  // other the whole picture. Whichever finishes, no truncated picture takes the name.
  const std::string whole = TestServer::GeneratedBody(300000);
  std::mutex mutex;
  std::condition_variable arrived;
  int count = 0;
  server.Handle("/p.jpg", [&](const httplib::Request&, httplib::Response& res) {
    int mine;
    {
      std::unique_lock<std::mutex> lock(mutex);
      mine = ++count;
      arrived.notify_all();
      arrived.wait_for(lock, std::chrono::seconds(5), [&] { return count >= 2; });
    }
    if (mine == 1) {
      res.set_content_provider(whole.size(), "image/jpeg",
                               [&](size_t offset, size_t, httplib::DataSink& sink) {
                                 if (offset > 0) return false;  // half, then the connection breaks
                                 sink.write(whole.data(), whole.size() / 2);
                                 return true;
                               });
    } else {
      res.set_content(whole, "image/jpeg");
    }
  });
  std::atomic<int> stored{0};
  std::vector<std::thread> writers;
  for (int w = 0; w < 2; ++w) {
    writers.emplace_back([&] {
      FakeWindow own;
      Folder folder(tmp.Wide());
      if (DownloadPicture(session, server.WideUrl("/p.jpg"), u"p.jpg", folder.data(), own) ==
          kPictureStored)
        ++stored;
    });
  }
  for (auto& t : writers) t.join();
  EXPECT_EQ(stored.load(), 1);
  EXPECT_TRUE(test::ReadFileBytes(tmp.Path() / "p.jpg") == whole);
  EXPECT_EQ(Entries(tmp.Path()), std::set<std::string>{"p.jpg"});

  // A second complete writer finds the first's picture in place and leaves it.
  server.Serve("/q.jpg", test::Jpeg("the first"));
  Folder folder(tmp.Wide());
  ASSERT_EQ(Download("/q.jpg", u"q.jpg", folder), kPictureStored);
  PartFile late(tmp.Path() / "q.jpg");
  ASSERT_TRUE(late.Write("the second", 10));
  EXPECT_EQ(late.Commit(), PartFile::Placed::kTaken);
  EXPECT_EQ(test::ReadFileBytes(tmp.Path() / "q.jpg"), test::Jpeg("the first"));
}

TEST_F(PictureTest, AddressOutsideAsciiIsEncodedAndTheNameKept) {
  server.Serve("/图片/第 1页.jpg", test::Jpeg("chinese"));
  Folder folder(tmp.Wide("漫画"));
  EXPECT_EQ(Download("/图片/第 1页.jpg", u"第 1页.jpg", folder), kPictureStored);
  EXPECT_EQ(server.LastTarget(), "/%E5%9B%BE%E7%89%87/%E7%AC%AC%201%E9%A1%B5.jpg");
  EXPECT_EQ(test::ReadFileBytes(tmp.Path() / "漫画" / "第 1页.jpg"), test::Jpeg("chinese"));

  // A name near the file system's limit of 255 bytes (82 characters of three bytes and
  // ".jpg": 250 bytes) is stored, although its part file needs a shorter name.
  const std::u16string longName = std::u16string(82, u'图') + u".jpg";
  server.Serve("/long.jpg", test::Jpeg("long name"));
  EXPECT_EQ(Download("/long.jpg", longName, folder), kPictureStored);
  EXPECT_EQ(test::ReadFileBytes(tmp.Path() / "漫画" / ToUtf8(longName)), test::Jpeg("long name"));
  EXPECT_EQ(Entries(tmp.Path() / "漫画"), (std::set<std::string>{"第 1页.jpg", ToUtf8(longName)}));
}

TEST_F(PictureTest, CookiesFromPagesGoWithPictures) {
  server.Handle("/s/1", [](const httplib::Request&, httplib::Response& res) {
    res.set_header("Set-Cookie", "sk=abc; Path=/");
    res.set_content("<img>", "text/html");
  });
  server.Serve("/i/1.jpg", test::Jpeg("picture"));
  auto page = std::make_unique<PageBuffer>();
  ASSERT_EQ(FetchPage(session, server.WideUrl("/s/1"), *page), 1);
  Folder folder(tmp.Wide());
  EXPECT_EQ(Download("/i/1.jpg", u"1.jpg", folder), kPictureStored);
  EXPECT_EQ(server.LastHeader("Cookie"), "sk=abc");
}

TEST_F(PictureTest, FolderThatCannotBeMadeFailsThePicture) {
  test::WriteFileBytes(tmp.Path() / "file", "x");
  server.Serve("/a.jpg", "a");
  Folder folder(tmp.Wide("file/sub"));
  EXPECT_EQ(Download("/a.jpg", u"a.jpg", folder), kPictureFailed);
  EXPECT_EQ(window.PickerTitles().size(), 1u);
  EXPECT_EQ(window.Messages().size(), 1u);
  EXPECT_EQ(Entries(tmp.Path()), std::set<std::string>{"file"});
}

TEST_F(PictureTest, NullFolderStoresUnderTheBareName) {
  server.Serve("/bare.jpg", test::Jpeg("bare"));
  const fs::path before = fs::current_path();
  fs::current_path(tmp.Path());
  const int result =
      DownloadPicture(session, server.WideUrl("/bare.jpg"), u"bare.jpg", nullptr, window);
  fs::current_path(before);
  EXPECT_EQ(result, kPictureStored);
  EXPECT_EQ(test::ReadFileBytes(tmp.Path() / "bare.jpg"), test::Jpeg("bare"));
}

TEST_F(PictureTest, WriteFailureLeavesNoFile) {
  // Files may not grow past 64 KB in this process for a moment: writing fails as on a
  // full disk.
  server.ServeGenerated("/big.jpg", 1 << 20);
  Folder folder(tmp.Wide());
  struct sigaction ignore {
  }, old{};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGXFSZ, &ignore, &old);
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  rlimit small = saved;
  small.rlim_cur = 64 * 1024;
  setrlimit(RLIMIT_FSIZE, &small);
  const int result = Download("/big.jpg", u"big.jpg", folder);
  setrlimit(RLIMIT_FSIZE, &saved);
  sigaction(SIGXFSZ, &old, nullptr);
  EXPECT_EQ(result, kPictureFailed);
  EXPECT_TRUE(Entries(tmp.Path()).empty());
}

TEST_F(PictureTest, ProgressIsToldOnTheDownloadingThreadAFewTimesASecondAndAtTheEnd) {
  struct Call {
    std::uint64_t received;
    std::int64_t total;
    std::thread::id thread;
    Clock::time_point at;
  };
  std::vector<Call> calls;
  const PictureProgress hook = [&calls](std::uint64_t received, std::int64_t total) {
    calls.push_back({received, total, std::this_thread::get_id(), Clock::now()});
  };
  const auto fetch = [&](const std::string& path, const std::string& name) {
    return FetchPictureFile(session, server.WideUrl(path), tmp.Wide(name), hook).result;
  };
  // 20 pieces of 5000 bytes, one every 50 ms, without an announced size.
  server.Drip("/drip.jpg", 5000, std::chrono::milliseconds(50), 20);
  const auto start = Clock::now();
  ASSERT_EQ(fetch("/drip.jpg", "drip.jpg"), PictureResult::kStored);
  const auto elapsed = Clock::now() - start;
  ASSERT_GE(calls.size(), 3u);
  EXPECT_LE(calls.size(), static_cast<std::size_t>(elapsed / std::chrono::milliseconds(100)) + 2);
  for (std::size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i].thread, std::this_thread::get_id());
    EXPECT_EQ(calls[i].total, -1);
    if (i > 0) {
      EXPECT_GE(calls[i].received, calls[i - 1].received);
    }
    if (i > 0 && i + 1 < calls.size()) {
      EXPECT_GE(calls[i].at - calls[i - 1].at, std::chrono::milliseconds(100));
    }
  }
  EXPECT_EQ(calls.back().received, 100000u);

  // An announced size is passed on.
  calls.clear();
  server.ServeGenerated("/big.jpg", 3 << 20, "image/jpeg");
  ASSERT_EQ(fetch("/big.jpg", "big.jpg"), PictureResult::kStored);
  ASSERT_FALSE(calls.empty());
  for (const Call& call : calls) EXPECT_EQ(call.total, 3 << 20);
  EXPECT_EQ(calls.back().received, 3u << 20);

  // A failed download ends with its one call; a picture already there makes none.
  calls.clear();
  server.Serve("/missing.jpg", "no such picture", "text/html", 404);
  EXPECT_EQ(fetch("/missing.jpg", "m.jpg"), PictureResult::kFailed);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].received, 0u);
  EXPECT_EQ(calls[0].total, -1);
  calls.clear();
  EXPECT_EQ(fetch("/big.jpg", "big.jpg"), PictureResult::kAlreadyThere);
  EXPECT_TRUE(calls.empty());
}

TEST_F(PictureTest, AbortEndsADownloadPromptlyAndLeavesNoFile) {
  NetTimeouts longWait;
  longWait.lowSpeedSeconds = 60;
  session.SetTimeouts(longWait);
  server.Stall("/slow.jpg", test::Jpeg(std::string(10000, 'p')));
  std::atomic<int> result{-5};
  std::atomic<std::int64_t> endedAt{0};
  std::thread worker([&] {
    FakeWindow own;
    Folder folder(tmp.Wide());
    result = DownloadPicture(session, server.WideUrl("/slow.jpg"), u"slow.jpg", folder.data(), own);
    endedAt = Clock::now().time_since_epoch().count();
  });
  ASSERT_TRUE(server.WaitForStalled(1));
  // The first bytes are on their way to disk.
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while (test::PartFilesBeingWritten(tmp.Path()) == 0 && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(test::PartFilesBeingWritten(tmp.Path()), 1);
  const auto abortAt = Clock::now();
  cancel.Cancel();
  worker.join();
  EXPECT_EQ(result.load(), kPictureStop);
  EXPECT_LT(Clock::duration(endedAt.load()) - abortAt.time_since_epoch(),
            std::chrono::milliseconds(300));
  EXPECT_TRUE(Entries(tmp.Path()).empty());

  // While aborted: a picture on disk still counts, a new one is not fetched.
  test::WriteFileBytes(tmp.Path() / "have.jpg", "h");
  server.Serve("/new.jpg", test::Jpeg("n"));
  Folder folder(tmp.Wide());
  EXPECT_EQ(Download("/have.jpg", u"have.jpg", folder), kPictureStored);
  EXPECT_EQ(Download("/new.jpg", u"new.jpg", folder), kPictureStop);
  EXPECT_EQ(server.Hits("/new.jpg"), 0);
  cancel.Reset();
  EXPECT_EQ(Download("/new.jpg", u"new.jpg", folder), kPictureStored);
}

TEST_F(PictureTest, TwoWorkersDownloadAtOnceUntilTheSessionIsAborted) {
  for (int i = 0; i < 8; ++i) server.ServeGenerated("/w/" + std::to_string(i) + ".jpg", 100000 + i);
  std::vector<std::thread> workers;
  std::atomic<int> stored{0};
  for (int w = 0; w < 2; ++w) {
    workers.emplace_back([&, w] {
      FakeWindow own;
      Folder folder(tmp.Wide("worker" + std::to_string(w)));
      for (int i = 0; i < 8; ++i) {
        const std::string name = std::to_string(i) + ".jpg";
        if (DownloadPicture(session, server.WideUrl("/w/" + name), FromUtf8(name), folder.data(),
                            own) == kPictureStored)
          ++stored;
      }
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  cancel.Cancel();  // downloads in flight and after it stop with 0, leaving nothing half
  for (auto& t : workers) t.join();
  int files = 0;
  for (int w = 0; w < 2; ++w)
    for (int i = 0; i < 8; ++i) {
      const fs::path file =
          tmp.Path() / ("worker" + std::to_string(w)) / (std::to_string(i) + ".jpg");
      if (!fs::exists(file)) continue;
      ++files;
      EXPECT_TRUE(test::ReadFileBytes(file) == TestServer::GeneratedBody(100000 + i));
    }
  EXPECT_EQ(files, stored.load());
}

}  // namespace
}  // namespace pageloom
