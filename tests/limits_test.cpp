// The ceilings of every transfer, against local servers that never end: a total time for
// page fetches, a speed floor and a size limit for pictures (short limits stand for the
// long ones of the program); and what an outcome tells of the last answer.
#include <chrono>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "base/fixed_text.h"
#include "net/page_fetch.h"
#include "net/picture.h"
#include "net/session.h"
#include "support/test_server.h"

namespace pageloom {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::TestServer;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr std::uint64_t kMaxPicture = 100000;

std::set<std::string> Entries(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename());
  return names;
}

class LimitsTest : public ::testing::Test {
 protected:
  static NetTimeouts Short() {
    NetTimeouts t;
    t.connectSeconds = 2;
    t.lowSpeedSeconds = 3;
    t.pageTotalSeconds = 1;
    t.pictureMinBytesPerSecond = 1024;
    t.pictureSlowSeconds = 1;
    t.pictureMaxBytes = kMaxPicture;
    return t;
  }
  PictureOutcome Picture(const std::string& path, const std::string& name) {
    return FetchPictureFile(session, server.WideUrl(path), dir.Wide(name));
  }
  static double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
  }

  TestServer server;
  TempDir dir;
  Cancellation cancel;
  Session session{cancel, Short()};
  std::unique_ptr<PageBuffer> page = std::make_unique<PageBuffer>();
};

TEST_F(LimitsTest, PageFetchEndsAtItsTotalTimeWhileBytesKeepComing) {
  // A byte every 100 ms: never idle, never done.
  server.Drip("/drip", 1, milliseconds(100));
  const auto start = Clock::now();
  const TransferOutcome outcome = FetchPageText(session, server.WideUrl("/drip"), *page);
  EXPECT_EQ(outcome.result, TransferResult::kTimedOut);
  EXPECT_EQ((*page)[0], 0);
  EXPECT_GE(SecondsSince(start), 0.9);
  EXPECT_LT(SecondsSince(start), 2.9) << "ended by the total time, not the idle limit";

  // Pictures have no total time: one that keeps above the floor for longer arrives.
  server.Drip("/steady.jpg", 4000, milliseconds(100), 15);
  EXPECT_EQ(Picture("/steady.jpg", "steady.jpg").result, PictureResult::kStored);
  EXPECT_EQ(fs::file_size(dir.Path() / "steady.jpg"), 60000u);
}

TEST_F(LimitsTest, PictureBelowTheSpeedFloorFailsAndLeavesNoFile) {
  // 50 bytes every 100 ms: 500 bytes a second, under the floor of 1024.
  server.Drip("/slow.jpg", 50, milliseconds(100));
  const auto start = Clock::now();
  const PictureOutcome outcome = Picture("/slow.jpg", "slow.jpg");
  EXPECT_EQ(outcome.result, PictureResult::kFailed);
  EXPECT_EQ(outcome.transfer.result, TransferResult::kTimedOut);
  EXPECT_TRUE(outcome.transfer.MayPass());
  EXPECT_LT(SecondsSince(start), 2.9) << "ended by the floor, not the idle limit";
  EXPECT_TRUE(Entries(dir.Path()).empty());
}

TEST_F(LimitsTest, PictureLargerThanTheLimitFailsAndLeavesNoFile) {
  server.ServeGenerated("/exact.jpg", kMaxPicture, "image/jpeg");
  server.ServeGenerated("/announced.jpg", kMaxPicture + 1, "image/jpeg");
  server.Drip("/endless.jpg", 16384, milliseconds(0));
  EXPECT_EQ(Picture("/exact.jpg", "exact.jpg").result, PictureResult::kStored);
  EXPECT_EQ(fs::file_size(dir.Path() / "exact.jpg"), kMaxPicture);

  for (const char* path : {"/announced.jpg", "/endless.jpg"}) {
    SCOPED_TRACE(path);
    const PictureOutcome outcome = Picture(path, "big.jpg");
    EXPECT_EQ(outcome.result, PictureResult::kFailed);
    EXPECT_EQ(outcome.transfer.result, TransferResult::kTooLarge);
    EXPECT_FALSE(outcome.transfer.MayPass());
    EXPECT_EQ(outcome.transfer.status, 200);
    EXPECT_EQ(Entries(dir.Path()), std::set<std::string>{"exact.jpg"});
  }

  // The session's limits are read per transfer.
  NetTimeouts larger = Short();
  larger.pictureMaxBytes = kMaxPicture + 1;
  session.SetTimeouts(larger);
  EXPECT_EQ(Picture("/announced.jpg", "announced.jpg").result, PictureResult::kStored);
}

// An HTTP date, as servers write them.
std::string HttpDate(std::time_t when) {
  std::tm tm{};
  gmtime_r(&when, &tm);
  char text[64];
  std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &tm);
  return text;
}

void ServeAnswer(TestServer& server, const std::string& path, int status,
                 const std::string& retryAfter, std::string body = "answer") {
  server.Handle(path, [=](const httplib::Request&, httplib::Response& res) {
    res.status = status;
    res.set_header("Retry-After", retryAfter);
    res.set_content(body, "text/html");
  });
}

TEST_F(LimitsTest, OutcomeCarriesTheLastStatusAndTheWaitItAskedFor) {
  ServeAnswer(server, "/busy", 503, "120");
  const TransferOutcome busy = FetchPageText(session, server.WideUrl("/busy"), *page);
  EXPECT_TRUE(busy.Ok());  // an error page is read like any other
  EXPECT_EQ(busy.status, 503);
  EXPECT_EQ(busy.retryAfter, std::chrono::seconds(120));
  EXPECT_TRUE(busy.MayPass());

  // After a redirect, the last answer counts; a date becomes the time until it.
  ServeAnswer(server, "/limited", 429, HttpDate(std::time(nullptr) + 60));
  server.Redirect("/moved", "/limited");
  const TransferOutcome limited = FetchPageText(session, server.WideUrl("/moved"), *page);
  EXPECT_EQ(limited.status, 429);
  ASSERT_TRUE(limited.retryAfter.has_value());
  EXPECT_GE(limited.retryAfter->count(), 55);
  EXPECT_LE(limited.retryAfter->count(), 60);

  // Pictures: an error answer is a failure that keeps its status and wait.
  ServeAnswer(server, "/busy.jpg", 503, "7");
  const PictureOutcome picture = Picture("/busy.jpg", "busy.jpg");
  EXPECT_EQ(picture.result, PictureResult::kFailed);
  EXPECT_EQ(picture.transfer.result, TransferResult::kHttpError);
  EXPECT_EQ(picture.transfer.status, 503);
  EXPECT_EQ(picture.transfer.retryAfter, std::chrono::seconds(7));
  EXPECT_TRUE(picture.transfer.MayPass());
  server.Serve("/gone.jpg", std::string(200000, 'x'), "text/html", 404);  // a long one
  const PictureOutcome gone = Picture("/gone.jpg", "gone.jpg");
  EXPECT_EQ(gone.transfer.result, TransferResult::kHttpError);
  EXPECT_EQ(gone.transfer.status, 404);
  EXPECT_FALSE(gone.transfer.retryAfter.has_value());
  EXPECT_FALSE(gone.transfer.MayPass());
  EXPECT_TRUE(Entries(dir.Path()).empty());
  ServeAnswer(server, "/fine.jpg", 200, "3", test::Jpeg("picture"));
  const PictureOutcome fine = Picture("/fine.jpg", "fine.jpg");
  EXPECT_EQ(fine.result, PictureResult::kStored);
  EXPECT_EQ(fine.transfer.status, 200);
  EXPECT_EQ(fine.transfer.retryAfter, std::chrono::seconds(3));

  // No connection: no status, no wait.
  int closedPort = 0;
  {
    TestServer closed;
    closedPort = closed.Port();
  }
  const TransferOutcome refused = FetchPageText(
      session, u"http://127.0.0.1:" + FromUtf8(std::to_string(closedPort)) + u"/x", *page);
  EXPECT_EQ(refused.result, TransferResult::kConnectFailed);
  EXPECT_EQ(refused.status, 0);
  EXPECT_FALSE(refused.retryAfter.has_value());
}

TEST_F(LimitsTest, RetryAfterIsReadAsSecondsOrAnHttpDateAndNothingElse) {
  const std::pair<std::string, std::optional<long long>> cases[] = {
      {"0", 0},
      {" 45 ", 45},
      {"99999999999999999999999", 999999999},    // about 31 years at most
      {HttpDate(std::time(nullptr) - 3600), 0},  // a date passed
      {"Sun, 06 Nov 1994 08:49:37 GMT", 0},
      {"soon", std::nullopt},
      {"-5", std::nullopt},
      {"1.5", std::nullopt},
      {"12 34", std::nullopt},
      {"Wed, 99 Foo 2015 99:99:99 GMT", std::nullopt},
  };
  for (const auto& [value, expected] : cases) {
    SCOPED_TRACE(value);
    ServeAnswer(server, "/r", 503, value);
    const TransferOutcome outcome = FetchPageText(session, server.WideUrl("/r"), *page);
    EXPECT_EQ(outcome.status, 503);
    if (expected)
      EXPECT_EQ(outcome.retryAfter, std::chrono::seconds(*expected));
    else
      EXPECT_FALSE(outcome.retryAfter.has_value());
  }
}

}  // namespace
}  // namespace pageloom
