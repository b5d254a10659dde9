// The cookie file: a browser's export read into a session (good lines taken, bad ones
// counted), requests to the local server carrying what was read, the file written back
// atomically with mode 0600, files that cannot be read, and a controller that
// keeps its cookies in its data folder from one run to the next.
#include "net/cookie_store.h"

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/task_controller.h"
#include "net/page_fetch.h"
#include "support/fake_window.h"
#include "support/test_server.h"

namespace pageloom {
namespace {

using test::TempDir;
using test::TestServer;
using namespace std::chrono_literals;

// A browser export: a header, comments, blanks, CRLF endings, three cookies for the local
// server (one HTTP-only, one of the session, with an empty value), one for another
// domain, and five lines that are not cookies.
constexpr char kExport[] =
    "\xEF\xBB\xBF# Netscape HTTP Cookie File\r\n"
    "# exported by a browser\r\n"
    "\r\n"
    "127.0.0.1\tFALSE\t/\tFALSE\t4102444800\tipb_member_id\t42\r\n"
    "#HttpOnly_127.0.0.1\tFALSE\t/\tFALSE\t4102444800\tipb_pass_hash\tabc\n"
    "127.0.0.1\tFALSE\t/\tFALSE\t0\tsess\t\n"
    ".example.com\tTRUE\t/\tTRUE\t4102444800\tother\t1\n"
    "127.0.0.1\tFALSE\t/\tFALSE\tfive_fields\n"                 // too few fields
    "127.0.0.1\tMAYBE\t/\tFALSE\t4102444800\tflag\t1\n"         // not a flag
    "127.0.0.1\tFALSE\t/\tFALSE\tsoon\texpiry\t1\n"             // not a time
    "127.0.0.1\tFALSE\t/\tFALSE\t1000\texpired\t1\n"            // long gone
    "127.0.0.1\tFALSE\tnoslash\tFALSE\t4102444800\tpath\t1\n";  // path not absolute

class CookieStoreTest : public ::testing::Test {
 protected:
  // The Cookie header of a request to the local server ("" when none was sent).
  std::string SentCookies() {
    auto page = std::make_unique<PageBuffer>();
    EXPECT_EQ(FetchPage(*session, server.WideUrl("/page"), *page), 1);
    return server.LastHeader("Cookie");
  }
  std::filesystem::path Write(const std::string& name, std::string_view bytes) {
    test::WriteFileBytes(dir.Path() / name, bytes);
    return dir.Path() / name;
  }

  TestServer server;
  TempDir dir;
  Cancellation cancel;
  std::unique_ptr<Session> session = OpenInternet(cancel);
};

TEST_F(CookieStoreTest, ImportTakesGoodLinesCountsBadOnesAndRequestsCarryThem) {
  server.Serve("/page", "ok");
  const std::filesystem::path file = Write("export.txt", kExport);
  const CookieFileReading reading = LoadCookies(*session, file);
  EXPECT_EQ(reading.status, CookieFileStatus::kRead);
  EXPECT_EQ(reading.added, 4);
  EXPECT_EQ(reading.skipped, 5);
  EXPECT_EQ(CookieLines(*session).size(), 4u);
  EXPECT_EQ(test::ReadFileBytes(file), kExport) << "the export itself is never changed";

  const std::string sent = SentCookies();
  EXPECT_NE(sent.find("ipb_member_id=42"), std::string::npos) << sent;
  EXPECT_NE(sent.find("ipb_pass_hash=abc"), std::string::npos) << sent;
  EXPECT_EQ(sent.find("other="), std::string::npos) << "another domain's cookie stays home";

  // Importing again replaces rather than doubles.
  EXPECT_EQ(LoadCookies(*session, file).added, 4);
  EXPECT_EQ(CookieLines(*session).size(), 4u);
}

// `count` cookies of `domain`, named prefix0, prefix1, ...
std::string CookieLinesOf(const std::string& domain, const std::string& prefix, int count) {
  std::string text;
  for (int i = 0; i < count; ++i)
    text += domain + "\tFALSE\t/\tFALSE\t4102444800\t" + prefix + std::to_string(i) + "\tv\n";
  return text;
}

TEST_F(CookieStoreTest, LargeExportsKeepTheNewestCookiesWithinTheCapsAndSaySo) {
  // One domain over its cap, read on top of cookies the store holds already.
  ASSERT_EQ(LoadCookies(*session, Write("old.txt", CookieLinesOf("127.0.0.1", "old", 10))).added,
            10);
  const std::string export_ =
      CookieLinesOf("127.0.0.1", "n", 300) + "127.0.0.1\tFALSE\t/\tFALSE\t4102444800\tn299\tlast\n";
  const CookieFileReading reading = LoadCookies(*session, Write("many.txt", export_));
  EXPECT_EQ(reading.status, CookieFileStatus::kRead);
  EXPECT_EQ(reading.dropped, 10 + 300 - static_cast<int>(kMaxCookiesPerDomain));
  EXPECT_EQ(reading.added, static_cast<int>(kMaxCookiesPerDomain) + 1)
      << "the kept ones, and a line replaced by a later one of the file";
  const std::vector<std::string> lines = CookieLines(*session);
  ASSERT_EQ(lines.size(), kMaxCookiesPerDomain);
  const std::string all = [&] {
    std::string joined;
    for (const std::string& line : lines) joined += line + "\n";
    return joined;
  }();
  EXPECT_EQ(all.find("\told"), std::string::npos) << "the store's older cookies went first";
  EXPECT_EQ(all.find("\tn119\t"), std::string::npos);
  EXPECT_NE(all.find("\tn120\t"), std::string::npos);
  EXPECT_NE(all.find("\tn299\tlast"), std::string::npos) << "the later line of a name wins";

  // Many domains: the newest kMaxCookies in all.
  ASSERT_TRUE(ClearCookies(*session));
  std::string spread;
  const int domains = static_cast<int>(kMaxCookies / kMaxCookiesPerDomain) + 3;
  for (int d = 0; d < domains; ++d)
    spread += CookieLinesOf("d" + std::to_string(d) + ".example", "c", kMaxCookiesPerDomain);
  const CookieFileReading wide = LoadCookies(*session, Write("wide.txt", spread));
  EXPECT_EQ(wide.added, static_cast<int>(kMaxCookies));
  EXPECT_EQ(wide.dropped,
            domains * static_cast<int>(kMaxCookiesPerDomain) - static_cast<int>(kMaxCookies));
  EXPECT_EQ(CookieLines(*session).size(), kMaxCookies);
}

TEST_F(CookieStoreTest, SavedFileIsPrivateCompleteAndReadsBackIntoAnotherSession) {
  server.Handle("/set", [](const httplib::Request&, httplib::Response& res) {
    res.set_header("Set-Cookie", "fromserver=7; Path=/; Max-Age=3600");
    res.set_content("set", "text/plain");
  });
  auto page = std::make_unique<PageBuffer>();
  ASSERT_EQ(FetchPage(*session, server.WideUrl("/set"), *page), 1);
  ASSERT_EQ(LoadCookies(*session, Write("export.txt", kExport)).added, 4);

  const std::filesystem::path saved = dir.Path() / "data" / "sub" / "cookies.txt";
  ASSERT_TRUE(SaveCookies(*session, saved));
  struct stat info {};
  ASSERT_EQ(::stat(saved.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& entry :
       std::filesystem::directory_iterator(saved.parent_path()))
    ++entries;
  EXPECT_EQ(entries, 1u) << "no temporary file is left beside it";

  Cancellation otherCancel;
  std::unique_ptr<Session> other = OpenInternet(otherCancel);
  const CookieFileReading reading = LoadCookies(*other, saved);
  EXPECT_EQ(reading.added, 5);
  EXPECT_EQ(reading.skipped, 0);
  std::vector<std::string> before = CookieLines(*session);
  std::vector<std::string> after = CookieLines(*other);
  std::sort(before.begin(), before.end());
  std::sort(after.begin(), after.end());
  EXPECT_EQ(before, after);

  // A save that cannot be made (its folder is a file) leaves the old file alone.
  const std::string old = test::ReadFileBytes(saved);
  ASSERT_TRUE(ClearCookies(*session));
  EXPECT_FALSE(SaveCookies(*session, dir.Path() / "export.txt" / "cookies.txt"));
  EXPECT_EQ(test::ReadFileBytes(saved), old);
}

TEST_F(CookieStoreTest, FilesThatCannotBeReadAreSaidSoWithoutWaiting) {
  EXPECT_EQ(LoadCookies(*session, dir.Path() / "none.txt").status, CookieFileStatus::kMissing);
  EXPECT_EQ(LoadCookies(*session, dir.Path()).status, CookieFileStatus::kUnreadable);
  // A FIFO with no writer would block a plain open for ever.
  const std::filesystem::path fifo = dir.Path() / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  auto reading = std::async(std::launch::async, [&] { return LoadCookies(*session, fifo); });
  if (reading.wait_for(5s) != std::future_status::ready) {
    const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);  // lets the reader go
    ADD_FAILURE() << "reading a FIFO waited for a writer";
    if (writer >= 0) ::close(writer);
  }
  EXPECT_EQ(reading.get().status, CookieFileStatus::kUnreadable);
  // Binary junk is read, and every line of it skipped.
  std::string junk(3000, '\0');
  for (std::size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<char>((i * 131) % 256);
  const CookieFileReading junkReading = LoadCookies(*session, Write("junk.txt", junk));
  EXPECT_EQ(junkReading.status, CookieFileStatus::kRead);
  EXPECT_EQ(junkReading.added, 0);
  EXPECT_GT(junkReading.skipped, 0);
  EXPECT_TRUE(CookieLines(*session).empty());
}

TEST_F(CookieStoreTest, StoreChangesWhileTransfersRunOnAnotherThread) {
  server.Handle("/set", [](const httplib::Request&, httplib::Response& res) {
    res.set_header("Set-Cookie", "busy=1; Path=/");
    res.set_content("set", "text/plain");
  });
  const std::filesystem::path file = Write("export.txt", kExport);
  std::atomic<bool> done{false};
  std::thread fetcher([&] {
    auto page = std::make_unique<PageBuffer>();
    while (!done.load()) (void)FetchPage(*session, server.WideUrl("/set"), *page);
  });
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(LoadCookies(*session, file).status, CookieFileStatus::kRead);
    EXPECT_TRUE(SaveCookies(*session, dir.Path() / "saved.txt"));
    EXPECT_TRUE(ClearCookies(*session));
  }
  done.store(true);
  fetcher.join();
}

TEST(ControllerCookies, KeptInTheDataFolderFromOneRunToTheNext) {
  TempDir dir;
  test::FakeWindow window;
  ControllerSettings settings;
  settings.dataFolder = dir.Path() / "pageLoom";
  const std::filesystem::path file = settings.dataFolder / "cookies.txt";
  test::WriteFileBytes(dir.Path() / "export.txt", kExport);
  {
    TaskController controller(window, settings);
    EXPECT_EQ(controller.CookieFile(), file);
    const TaskController::CookieImport import =
        controller.ImportCookiesFrom(dir.Path() / "export.txt");
    EXPECT_EQ(import.reading.added, 4);
    EXPECT_EQ(import.reading.skipped, 5);
    EXPECT_TRUE(import.saved);
    EXPECT_TRUE(std::filesystem::exists(file)) << "written as soon as imported";
  }
  {
    TaskController controller(window, settings);
    EXPECT_EQ(CookieLines(controller.InternetSession()).size(), 4u) << "read at start";
    const TaskController::CookieClearing clearing = controller.ClearCookieStore();
    EXPECT_TRUE(clearing.cleared);
    EXPECT_TRUE(clearing.saved);
  }
  {
    TaskController controller(window, settings);
    EXPECT_TRUE(CookieLines(controller.InternetSession()).empty()) << "a clearing lasts";
    test::WriteFileBytes(dir.Path() / "one.txt", "127.0.0.1\tFALSE\t/\tFALSE\t0\tlate\t1\n");
    ASSERT_EQ(LoadCookies(controller.InternetSession(), dir.Path() / "one.txt").added, 1);
  }
  struct stat info {};
  ASSERT_EQ(::stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_NE(test::ReadFileBytes(file).find("\tlate\t1"), std::string::npos) << "written at the end";

  // A controller that keeps nothing writes nothing.
  std::filesystem::remove_all(settings.dataFolder);
  {
    TaskController controller(window);
    EXPECT_TRUE(controller.CookieFile().empty());
    EXPECT_EQ(controller.ImportCookiesFrom(dir.Path() / "export.txt").reading.added, 4);
  }
  EXPECT_FALSE(std::filesystem::exists(settings.dataFolder));
}

TEST(ControllerCookies, ACookieFileLeftHalfSavedIsRemovedAtStart) {
  TempDir dir;
  test::FakeWindow window;
  ControllerSettings settings;
  settings.dataFolder = dir.Path();
  // A kill between writing and renaming left the temporary file, cookies and all.
  test::WriteFileBytes(dir.Path() / "cookies.txt.a1B2c3", "127.0.0.1\tFALSE\t/\tFALSE\t0\ts\t1\n");
  test::WriteFileBytes(dir.Path() / "cookies.txt.keep", "not one of ours");
  { TaskController controller(window, settings); }
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "cookies.txt.a1B2c3"));
  EXPECT_TRUE(std::filesystem::exists(dir.Path() / "cookies.txt.keep"));
}

}  // namespace
}  // namespace pageloom
