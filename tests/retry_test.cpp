// Transfers that fail for a reason that may pass are tried again, with pauses, before
// they count as failed; other failures are final at once.
#include "engine/retry.h"

#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "app/task_controller.h"
#include "base/fixed_text.h"
#include "engine/picture_download.h"
#include "net/page_fetch.h"
#include "net/session.h"
#include "support/eh_site.h"
#include "support/fake_window.h"
#include "support/scripted_comic.h"
#include "support/test_server.h"
#include "support/test_settings.h"

namespace pageloom::test {
namespace {

using namespace std::chrono_literals;

// Answers `failures` times with `status` (and the header, when given), then with `body`.
void FailThenServe(TestServer& server, const std::string& path, int failures, int status,
                   std::string body, std::string retryAfter = {}) {
  auto left = std::make_shared<std::atomic<int>>(failures);
  server.Handle(path, [=](const httplib::Request&, httplib::Response& res) {
    if (left->fetch_sub(1) > 0) {
      res.status = status;
      if (!retryAfter.empty()) res.set_header("Retry-After", retryAfter);
      res.set_content("try later", "text/plain");
      return;
    }
    res.set_content(body, "image/jpeg");
  });
}

RetryPolicy Quick() {
  RetryPolicy policy;
  policy.pauses.assign(3, 1ms);
  return policy;
}

class RetryTest : public ::testing::Test {
 protected:
  Cancellation cancel;
  Session session{cancel, NetTimeouts{2, 2}};
  TestServer server;
  std::unique_ptr<PageBuffer> page = std::make_unique<PageBuffer>();
};

TEST_F(RetryTest, PassingFailuresAreTriedAgainAndOthersAreNot) {
  FailThenServe(server, "/busy", 2, 503, "page");
  TransferOutcome outcome = FetchPageRetrying(session, server.WideUrl("/busy"), *page, Quick());
  EXPECT_EQ(outcome.status, 200);
  EXPECT_STREQ(page->data(), "page");
  EXPECT_EQ(server.Hits("/busy"), 3);

  for (const int status : {408, 429, 500}) {
    const std::string path = "/s" + std::to_string(status);
    FailThenServe(server, path, 1, status, "ok");
    EXPECT_EQ(FetchPageRetrying(session, server.WideUrl(path), *page, Quick()).status, 200)
        << status;
    EXPECT_EQ(server.Hits(path), 2) << status;
  }

  // A page that does not exist is read once, as its error page.
  FailThenServe(server, "/gone", 5, 404, "never");
  outcome = FetchPageRetrying(session, server.WideUrl("/gone"), *page, Quick());
  EXPECT_EQ(outcome.status, 404);
  EXPECT_EQ(server.Hits("/gone"), 1);

  // A failure that never passes is tried once and three times again, then given up.
  FailThenServe(server, "/down", 100, 503, "never");
  outcome = FetchPageRetrying(session, server.WideUrl("/down"), *page, Quick());
  EXPECT_EQ(outcome.status, 503);
  EXPECT_EQ(server.Hits("/down"), 4);
}

TEST_F(RetryTest, APictureWhoseTransferBreaksMidwayIsTriedAgain) {
  // The first answer says 200 and breaks off after half its body; the second is whole.
  const auto whole = std::make_shared<const std::string>(TestServer::GeneratedBody(20000));
  auto first = std::make_shared<std::atomic<bool>>(true);
  server.Handle("/p.jpg", [=](const httplib::Request&, httplib::Response& res) {
    if (first->exchange(false)) {
      // The provider runs after the handler has returned: it keeps the body alive itself.
      res.set_content_provider(whole->size(), "image/jpeg",
                               [whole](size_t offset, size_t, httplib::DataSink& sink) {
                                 if (offset > 0) return false;
                                 sink.write(whole->data(), whole->size() / 2);
                                 return true;
                               });
      return;
    }
    res.set_content(*whole, "image/jpeg");
  });
  TempDir dir;
  FakeWindow window;
  std::array<char16_t, kPathCapacity> folder{};
  CopyWide(folder.data(), folder.size(), dir.Wide());
  EXPECT_EQ(
      DownloadPicture(session, server.WideUrl("/p.jpg"), u"p.jpg", folder.data(), window, Quick()),
      kPictureStored);
  EXPECT_EQ(server.Hits("/p.jpg"), 2);
  EXPECT_TRUE(ReadFileBytes(dir.Path() / "p.jpg") == *whole);
}

TEST(RetryPauses, FollowThePolicyAndTheServersRetryAfterUpToItsCap) {
  RetryPolicy policy;
  TransferOutcome busy;
  busy.status = 503;
  EXPECT_EQ(PauseBefore(policy, 0, busy), 2s);
  EXPECT_EQ(PauseBefore(policy, 1, busy), 8s);
  EXPECT_EQ(PauseBefore(policy, 2, busy), 30s);
  busy.retryAfter = std::chrono::seconds(90);
  EXPECT_EQ(PauseBefore(policy, 0, busy), 90s);
  busy.retryAfter = std::chrono::hours(3);
  EXPECT_EQ(PauseBefore(policy, 0, busy), std::chrono::minutes(5));
}

TEST_F(RetryTest, ClosingEndsAPauseAtOnce) {
  RetryPolicy slow;
  slow.pauses.assign(3, std::chrono::minutes(10));
  FailThenServe(server, "/busy", 100, 503, "never");
  std::atomic<bool> done{false};
  std::thread reader([&] {
    auto own = std::make_unique<PageBuffer>();
    (void)FetchPageRetrying(session, server.WideUrl("/busy"), *own, slow);
    done = true;
  });
  ASSERT_TRUE(WaitUntil([&] { return server.Hits("/busy") == 1; }));
  cancel.Cancel();
  reader.join();  // a hang here is the failure
  EXPECT_TRUE(done.load());
  EXPECT_EQ(server.Hits("/busy"), 1);
}

TEST(RetryGallery, APictureThatFailsOnceWith503IsStoredWithoutAnyoneNoticing) {
  TestServer server;
  EhSite site(server);
  TempDir dir;
  EhGalleryPlan plan{"Busy Page 1", false, {{"/eh/pic/b/1.jpg"}, {"/eh/pic/b/2.jpg"}}};
  site.AddGallery("busy", plan);
  FailThenServe(server, "/eh/pic/b/2.jpg", 1, 503, EhSite::PictureBytes("/eh/pic/b/2.jpg"));
  FakeWindow window;
  window.SetSaveFolderText(dir.Wide());
  TaskController controller(window, TestSettings(site.Names()));
  window.SetAddressText(site.Address(EhSite::GalleryPath("busy", false)));
  controller.AddAddresses(window.AddressText(), window.Options());
  ASSERT_TRUE(WaitForAdds(controller.Adding(), 10s));
  controller.Start();
  ASSERT_TRUE(window.WaitFor(
      [](const FakeWindow& w) { return w.RowCount() == 1 && w.RowAt(0)[3] == u"已完成"; }));
  EXPECT_EQ(window.RowAt(0)[2], u"2/2");
  EXPECT_EQ(ReadFileBytes(dir.Path() / "Busy" / "002.jpg"),
            EhSite::PictureBytes("/eh/pic/b/2.jpg"));
  EXPECT_EQ(server.Hits("/eh/pic/b/2.jpg"), 2);
  EXPECT_TRUE(window.Messages().empty());
  // The window heard of each picture's bytes, the last time with all of them.
  const auto progress = window.PictureProgress();
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back().taskNo, 0);
  const auto size = EhSite::PictureBytes("/eh/pic/b/2.jpg").size();
  EXPECT_EQ(progress.back().received, size);
  EXPECT_EQ(progress.back().total, static_cast<std::int64_t>(size));
}

}  // namespace
}  // namespace pageloom::test
