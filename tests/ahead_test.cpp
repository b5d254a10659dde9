// The helpers a worker works ahead with, on their own against the local server: what they
// hand over, what they drop, and how the session's switch ends them.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <memory>
#include <optional>
#include <string>

#include "net/session.h"
#include "support/test_server.h"
#include "tasks/page_ahead.h"
#include "tasks/picture_ahead.h"
#include "tasks/picture_download.h"
#include "tasks/retry.h"
#include "text/cancellation.h"

namespace pageloom::test {
namespace {

using namespace std::chrono_literals;

TEST(PageAheadAlone, HandsOverOnlyTheFreshPageItFetchedForThatAddress) {
  TestServer server;
  server.Serve("/a", "page a");
  server.Serve("/b", "page b");
  Cancellation cancel;
  Session session(cancel, NetTimeouts{2, 2});
  const RetryPolicy retry{{}, {}};
  auto page = std::make_unique<PageBuffer>();
  const auto text = [&] { return std::string(page->data()); };
  std::snprintf(page->data(), page->size(), "mine");

  PageAhead ahead(session, retry);
  EXPECT_FALSE(ahead.Take(server.WideUrl("/a"), *page)) << "nothing was fetched";
  ahead.Start(server.WideUrl("/a"));
  EXPECT_FALSE(ahead.Take(server.WideUrl("/b"), *page)) << "another page";
  EXPECT_EQ(text(), "mine");
  EXPECT_FALSE(ahead.Take(server.WideUrl("/a"), *page)) << "dropped by the take before";
  ahead.Start(server.WideUrl("/a"));
  ahead.Start(server.WideUrl("/b"));  // the first is dropped
  ASSERT_TRUE(ahead.Take(server.WideUrl("/b"), *page));
  EXPECT_EQ(text(), "page b");
  EXPECT_EQ(server.Hits("/a"), 2);
  EXPECT_EQ(server.Hits("/b"), 1);

  PageAhead stale(session, retry, 0ms);  // every page is too old
  stale.Start(server.WideUrl("/a"));
  EXPECT_FALSE(stale.Take(server.WideUrl("/a"), *page));
  EXPECT_EQ(text(), "page b");

  // A fetch held by the server ends with the session's switch, and the helper with it.
  server.Stall("/held");
  auto held = std::make_unique<PageAhead>(session, retry);
  held->Start(server.WideUrl("/held"));
  ASSERT_TRUE(server.WaitForStalled(1));
  cancel.Cancel();
  held.reset();
  server.ReleaseStalls();
}

TEST(PictureAheadAlone, GivesTheResultOfItsOwnJobAndNothingOfAStoppedOne) {
  TestServer server;
  server.Serve("/p/one.jpg", "one");
  TempDir dir;
  const std::u16string folder = dir.Wide() + u"/";
  Cancellation cancel;
  Session session(cancel, NetTimeouts{2, 2});
  const RetryPolicy retry{{}, {}};
  PictureAhead ahead(session, retry);

  const PictureJob one{server.WideUrl("/p/one.jpg"), folder, u"001.jpg"};
  ahead.Start(one);
  EXPECT_EQ(ahead.Take(one), kPictureStored);
  EXPECT_EQ(ReadFileBytes(dir.Path() / "001.jpg"), "one");
  EXPECT_EQ(ahead.Take(one), std::nullopt) << "taken once";

  const PictureJob missing{server.WideUrl("/p/none.jpg"), folder, u"002.jpg"};
  ahead.Start(missing);
  EXPECT_EQ(ahead.Take(missing), kPictureFailed);
  ahead.Start(missing);
  EXPECT_EQ(ahead.Take(PictureJob{missing.url, folder, u"003.jpg"}), std::nullopt) << "another name";

  // The limit picture is never fetched; a stopped download is no result, and no file.
  const PictureJob limit{server.WideUrl("/p/509.gif"), folder, u"004.gif"};
  ahead.Start(limit);
  EXPECT_EQ(ahead.Take(limit), std::nullopt);
  server.Stall("/p/held.jpg", "partial");
  const PictureJob held{server.WideUrl("/p/held.jpg"), folder, u"005.jpg"};
  ahead.Start(held);
  ASSERT_TRUE(server.WaitForStalled(1));
  cancel.Cancel();
  EXPECT_EQ(ahead.Take(held), std::nullopt);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()),
                          std::filesystem::directory_iterator()),
            1);
  EXPECT_EQ(server.Hits("/p/509.gif"), 0);
  server.ReleaseStalls();
}

}  // namespace
}  // namespace pageloom::test
