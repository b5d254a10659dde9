// The ceilings of every transfer, against local servers that never end: a total time for
// page fetches, a speed floor and a size limit for pictures. Short limits stand for the
// long ones of the program.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <set>
#include <string>

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

}  // namespace
}  // namespace pageloom
