// The EH adapter: how its pages are read, and galleries from Add to the last picture.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tasks/eh_pages.h"

namespace pageloom {
namespace {

// Page text in a buffer that holds exactly the text and its terminator.
struct Text {
  explicit Text(const std::string& s) : bytes(s.begin(), s.end()) { bytes.push_back(0); }
  char* data() { return bytes.data(); }
  std::size_t size() const { return bytes.size(); }
  std::string all() const { return std::string(bytes.begin(), bytes.end()); }
  std::vector<char> bytes;
};

const std::string kMirrorGallery =
    "<div id=\"gh\"><div class=\"gi\"><a href=\"http://x/lofi/s/ab/12-1\"><img src=\"t1\"/>"
    "</a></div><div class=\"gi\"><a href=\"http://x/lofi/s/ab/12-2\"></a></div>";
const std::string kMainGallery =
    "<div class=\"gdtm\"><a href=\"http://x/s/ab/12-1\"><img alt=\"01\" title=\"p1\"/></a>"
    "<a href=\"http://x/s/ab/12-2\"><img alt=\"02\"/></a>";

std::string PicturePage(const std::string& next, const std::string& id,
                        const std::string& picture) {
  return "<html><title>T</title><a href=\"" + next + "\"><img id=\"" + id + "\" src=\"" +
         picture + "\" style=\"w\"/></a>";
}

TEST(EHGalleryPage, MirrorFormGivesTheFirstGiLink) {
  Text t(kMirrorGallery);
  const char* first = ParseEHMirrorGallery(t.data(), t.size());
  ASSERT_NE(first, nullptr);
  EXPECT_STREQ(first, "http://x/lofi/s/ab/12-1");
}

TEST(EHGalleryPage, MirrorMarkerNeedsTwentyFourBytesAndAClosingQuote) {
  const std::string marker = "div class=\"gi\"";
  // Exactly 24 bytes from the marker's start to the end: the address would start at
  // the terminator.
  {
    Text t("ab" + marker + "><a href=\"");
    ASSERT_EQ(t.size(), 2u + 24u + 1u);
    EXPECT_EQ(ParseEHMirrorGallery(t.data(), t.size()), nullptr);
  }
  {
    Text t(marker + "><a href=");  // fewer than 24 bytes
    EXPECT_EQ(ParseEHMirrorGallery(t.data(), t.size()), nullptr);
  }
  {
    Text t(marker + "><a href=\"http://x/s/1-1");  // no closing quote
    const std::string before = t.all();
    EXPECT_EQ(ParseEHMirrorGallery(t.data(), t.size()), nullptr);
    EXPECT_EQ(t.all(), before);
  }
  {
    Text t(marker + "><a href=\"\"");  // shortest shape: an empty address
    const char* first = ParseEHMirrorGallery(t.data(), t.size());
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first, "");
  }
  {
    Text t("<div class=\"GI\"><a href=\"http://x/\">");  // case counts
    EXPECT_EQ(ParseEHMirrorGallery(t.data(), t.size()), nullptr);
  }
}

TEST(EHGalleryPage, MainFormGivesTheLinkAroundTheFirstThumbnail) {
  Text t(kMainGallery);
  const char* first = ParseEHMainGallery(t.data(), t.size());
  ASSERT_NE(first, nullptr);
  EXPECT_STREQ(first, "http://x/s/ab/12-1");
}

TEST(EHGalleryPage, MainMarkerNeedsThreeBytesAndAQuoteBeforeIt) {
  for (const char* page : {"img alt=\"", "a\"img alt=\"", "\"\"img alt=\"", "abcimg alt=\"x"}) {
    Text t(page);
    const std::string before = t.all();
    EXPECT_EQ(ParseEHMainGallery(t.data(), t.size()), nullptr) << page;
    EXPECT_EQ(t.all(), before) << page;
  }
  Text t("ab\"\"><img alt=\"");  // a quote right before the cut: empty address
  const char* first = ParseEHMainGallery(t.data(), t.size());
  ASSERT_NE(first, nullptr);
  EXPECT_STREQ(first, "");
  EXPECT_EQ(first, t.data() + 3);
}

TEST(EHTitle, RunsToTheNextTag) {
  Text t("<head><title>Abc Page 1</title></head>");
  const char* title = ParseEHTitle(t.data(), t.size());
  ASSERT_NE(title, nullptr);
  EXPECT_STREQ(title, "Abc Page 1");

  Text empty("<title><");
  const char* none = ParseEHTitle(empty.data(), empty.size());
  ASSERT_NE(none, nullptr);
  EXPECT_STREQ(none, "");

  for (const char* page : {"<title>Abc", "<title>", "<TITLE>Abc</TITLE>", ""}) {
    Text bad(page);
    const std::string before = bad.all();
    EXPECT_EQ(ParseEHTitle(bad.data(), bad.size()), nullptr) << page;
    EXPECT_EQ(bad.all(), before);
  }
}

TEST(EHPicturePage, TwoAndThreeLetterIds) {
  for (const std::string id : {"sm", "img"}) {
    Text t(PicturePage("http://x/s/ab/12-2", id, "http://x/p/ab7/p1.jpg"));
    EHPicturePage page;
    ASSERT_TRUE(ParseEHPicturePage(t.data(), t.size(), page)) << id;
    EXPECT_STREQ(page.pictureUrl, "http://x/p/ab7/p1.jpg");
    EXPECT_EQ(page.pictureLength, std::strlen(page.pictureUrl));
    EXPECT_STREQ(page.nextPageUrl, "http://x/s/ab/12-2");
    EXPECT_EQ(page.nextPageLength, std::strlen(page.nextPageUrl));
  }
}

TEST(EHPicturePage, OffsetsAreCheckedAgainstBothEndsOfTheText) {
  const char* bad[] = {
      "img id=\"sm\" src=\"http://p\"",           // marker at 0: nothing before the link end
      "\"x\"img id=\"sm\" src=\"http://p\"",      // marker at 3: no quote before the cut
      "\"a\"><img id=\"sm\" src=",                // the text ends 16 bytes after the marker
      "\"a\"><img id=\"sm\" src=\"",              // ... 17 bytes: byte 17 is the terminator
      "\"a\"><img id=\"img\" src=\"",             // three letters, quote at 17, nothing after
      "\"a\"><img id=\"sm\" src=\"http://p/q.jpg",  // no quote after the picture address
      "\"a\"><IMG ID=\"sm\" src=\"http://p/q.jpg\"",  // case counts
  };
  for (const char* p : bad) {
    Text t(p);
    const std::string before = t.all();
    EHPicturePage page;
    EXPECT_FALSE(ParseEHPicturePage(t.data(), t.size(), page)) << p;
    EXPECT_EQ(t.all(), before) << p;
    EXPECT_EQ(page.pictureUrl, nullptr);
  }
  // The shortest page of the shape: an empty next page and an empty picture address.
  Text t("\"\"><img id=\"img\" src=\"\"");
  EHPicturePage page;
  ASSERT_TRUE(ParseEHPicturePage(t.data(), t.size(), page));
  EXPECT_STREQ(page.pictureUrl, "");
  EXPECT_STREQ(page.nextPageUrl, "");
  EXPECT_EQ(page.nextPageUrl, t.data() + 1);
}

TEST(EHPicturePage, TextWithoutTerminatorHasNoMarkers) {
  const std::string p = PicturePage("http://x/s/1-2", "img", "http://x/p/a/b.jpg");
  std::vector<char> raw(p.begin(), p.end());  // no zero byte anywhere
  EHPicturePage page;
  EXPECT_FALSE(ParseEHPicturePage(raw.data(), raw.size(), page));
  EXPECT_EQ(ParseEHTitle(raw.data(), raw.size()), nullptr);
  std::vector<char> gallery(kMainGallery.begin(), kMainGallery.end());
  EXPECT_EQ(ParseEHMainGallery(gallery.data(), gallery.size()), nullptr);
  std::vector<char> mirror(kMirrorGallery.begin(), kMirrorGallery.end());
  EXPECT_EQ(ParseEHMirrorGallery(mirror.data(), mirror.size()), nullptr);
  EXPECT_EQ(ParseEHMirrorGallery(nullptr, 10), nullptr);
}

TEST(EHPicturePage, MirrorRuleRewritesTheByteBeforeTheLastSlash) {
  Text t(PicturePage("http://x/lofi/s/12-2", "sm", "http://x/p/ab7/p.jpg"));
  EHPicturePage page;
  ASSERT_TRUE(ParseEHPicturePage(t.data(), t.size(), page));
  ASSERT_TRUE(ApplyEHMirrorRule(page));
  EXPECT_STREQ(page.pictureUrl, "http://x/p/ab3/p.jpg");

  for (const char* picture : {"p.jpg", "/p.jpg", ""}) {
    Text u(PicturePage("http://x/lofi/s/12-2", "img", picture));
    EHPicturePage p2;
    ASSERT_TRUE(ParseEHPicturePage(u.data(), u.size(), p2));
    const std::string before = u.all();
    EXPECT_FALSE(ApplyEHMirrorRule(p2)) << picture;
    EXPECT_EQ(u.all(), before);
  }
  EHPicturePage none;
  EXPECT_FALSE(ApplyEHMirrorRule(none));
}

// Pages stitched from the markers' pieces: whatever comes out lies inside the text.
TEST(EHPages, StitchedRandomPagesStayInsideTheText) {
  const std::vector<std::string> pieces = {
      "div class=\"gi\"", "img alt=\"", "<title>", "img id", "\"", "<", "/", ">", "a",
      "=\"img\" src=\"", "=\"sm\" src=\"", "><a href=\"", "http://x/p/ab7/q.jpg", "3"};
  std::mt19937 rng(12345);
  for (int round = 0; round < 4000; ++round) {
    std::string s;
    const int n = static_cast<int>(rng() % 12);
    for (int i = 0; i < n; ++i) s += pieces[rng() % pieces.size()];
    for (int kind = 0; kind < 4; ++kind) {
      Text t(s);
      const char* begin = t.data();
      const char* end = begin + t.size();
      auto inside = [&](const char* p) {
        return p == nullptr || (p >= begin && p < end && std::memchr(p, 0, end - p) != nullptr);
      };
      switch (kind) {
        case 0: ASSERT_TRUE(inside(ParseEHMirrorGallery(t.data(), t.size()))) << s; break;
        case 1: ASSERT_TRUE(inside(ParseEHMainGallery(t.data(), t.size()))) << s; break;
        case 2: ASSERT_TRUE(inside(ParseEHTitle(t.data(), t.size()))) << s; break;
        default: {
          EHPicturePage page;
          if (ParseEHPicturePage(t.data(), t.size(), page)) {
            ApplyEHMirrorRule(page);
            ASSERT_TRUE(inside(page.pictureUrl) && inside(page.nextPageUrl)) << s;
            ASSERT_EQ(std::strlen(page.pictureUrl), page.pictureLength) << s;
          }
        }
      }
      ASSERT_EQ(t.bytes.back(), 0);
    }
  }
}

}  // namespace
}  // namespace pageloom
