// Only pictures are stored: answers judged by their first bytes against the local server,
// whatever the address's name says, and non-pictures ended early.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "base/fixed_text.h"
#include "net/picture.h"
#include "net/session.h"
#include "support/test_server.h"

namespace pageloom {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::TestServer;

class PictureSignatureTest : public ::testing::Test {
 protected:
  PictureOutcome Fetch(const std::string& path, const std::string& name) {
    return FetchPictureFile(session, server.WideUrl(path), tmp.Wide(name));
  }
  Cancellation cancel;
  Session session{cancel, NetTimeouts{2, 2}};
  TestServer server;
  TempDir tmp;
};

TEST_F(PictureSignatureTest, EveryKnownSignatureIsStoredWhateverTheName) {
  const std::vector<std::pair<std::string, PictureKind>> pictures{
      {"\xFF\xD8\xFF\xE0", PictureKind::kJpeg},
      {"\x89PNG\r\n\x1A\n", PictureKind::kPng},
      {"GIF87a", PictureKind::kGif},
      {"GIF89a", PictureKind::kGif},
      {std::string("RIFF\x10\0\0\0WEBPVP8 ", 16), PictureKind::kWebp},
      {std::string("\0\0\0\x1C"
                   "ftypavif",
                   12),
       PictureKind::kAvif},
      {std::string("\0\0\0\x1C"
                   "ftypheic",
                   12),
       PictureKind::kAvif},
      {std::string("\0\0\0\x18"
                   "ftypmif1",
                   12),
       PictureKind::kAvif},
      {"BM6\0", PictureKind::kBmp},
      {"\xFF\x0A", PictureKind::kJpegXl},
      {std::string("\0\0\0\x0CJXL \r\n\x87\n", 12), PictureKind::kJpegXl},
  };
  for (std::size_t i = 0; i < pictures.size(); ++i) {
    SCOPED_TRACE(i);
    const std::string body = pictures[i].first + "rest of the picture";
    const std::string path = "/p" + std::to_string(i) + ".jpg";  // the name says JPEG
    server.Serve(path, body, "application/octet-stream");
    const PictureOutcome outcome = Fetch(path, path.substr(1));
    EXPECT_EQ(outcome.result, PictureResult::kStored);
    EXPECT_EQ(outcome.kind, pictures[i].second);
    EXPECT_EQ(test::ReadFileBytes(tmp.Path() / path.substr(1)), body);
  }
}

TEST_F(PictureSignatureTest, AnythingElseIsNoPictureWithItsTypeAndTextAndLeavesNoFile) {
  const std::vector<std::pair<std::string, std::string>> answers{
      {"<html><body>You have exceeded your image viewing limits.</body></html>", "text/html"},
      {"Your IP address has been temporarily banned", "text/plain"},
      {"", "image/jpeg"},                                        // empty
      {"GIF8", "image/gif"},                                     // cut inside a signature
      {std::string("RIFF\x10\0\0\0WAVEfmt ", 16), "audio/wav"},  // RIFF, not WebP
      {std::string("\0\0\0\x18"
                   "ftypisom",
                   12),
       "video/mp4"},  // another brand
      {"\xFF\xD9 end of a JPEG", "image/jpeg"},
  };
  for (std::size_t i = 0; i < answers.size(); ++i) {
    SCOPED_TRACE(i);
    const std::string path = "/n" + std::to_string(i) + ".jpg";
    server.Serve(path, answers[i].first, answers[i].second);
    const PictureOutcome outcome = Fetch(path, path.substr(1));
    EXPECT_EQ(outcome.result, PictureResult::kNotPicture);
    EXPECT_EQ(outcome.contentType, answers[i].second);
    EXPECT_EQ(outcome.answerText, answers[i].first);
    EXPECT_TRUE(outcome.transfer.Ok());
  }
  EXPECT_TRUE(fs::is_empty(tmp.Path()));
}

TEST_F(PictureSignatureTest, AHugeNonPictureAnswerIsNeverReadWhole) {
  constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;
  auto sent = std::make_shared<std::atomic<std::uint64_t>>(0);
  server.Handle("/huge.jpg", [sent](const httplib::Request&, httplib::Response& res) {
    res.set_content_provider(
        kGiB, "text/html", [sent](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
          const std::string chunk(std::min<std::size_t>(length, 65536), '<');
          *sent = offset + chunk.size();
          return sink.write(chunk.data(), chunk.size());
        });
  });
  const auto start = std::chrono::steady_clock::now();
  const PictureOutcome outcome = Fetch("/huge.jpg", "huge.jpg");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(outcome.result, PictureResult::kNotPicture);
  EXPECT_EQ(outcome.answerText.size(), kAnswerTextKept);
  EXPECT_LT(outcome.bodyBytes, 1u << 20);
  EXPECT_LT(sent->load(), 64u << 20);
  EXPECT_TRUE(fs::is_empty(tmp.Path()));
}

}  // namespace
}  // namespace pageloom
