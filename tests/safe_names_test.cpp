// Names from pages made fit to be one component of a path.
#include "engine/safe_names.h"

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "base/fixed_text.h"
#include "support/test_server.h"

namespace pageloom::test {
namespace {

std::u16string Repeat(std::u16string_view piece, int times) {
  std::u16string out;
  for (int k = 0; k < times; ++k) out += piece;
  return out;
}

// Long Chinese, Japanese and emoji titles are cut to 255 bytes of UTF-8 at a character
// boundary, and such a name really can be created.
TEST(SafeNamesTest, LongTitlesAreCutAtACharacterBoundary) {
  TempDir dir;
  struct Case {
    std::u16string title;
    std::size_t bytes;  // UTF-8 bytes after the cut
  };
  const Case cases[] = {
      {Repeat(u"中文漫画", 30), 255},  // 3 bytes a character: 85 of them
      {Repeat(u"ひらがな", 30), 255},
      {Repeat(u"😀", 100), 252},  // 4 bytes a pair: 63 pairs, never half of one
      {u"a" + Repeat(u"😀", 100), 253},
      {u"ab" + Repeat(u"😀", 100), 254},
      {u"abc" + Repeat(u"😀", 100), 255},
      {Repeat(u"é", 200), 254},  // 2 bytes a character
      {Repeat(u"x", 255), 255},
  };
  for (const Case& c : cases) {
    const std::u16string cut = CutToUtf8Bytes(c.title);
    EXPECT_EQ(Utf8Length(cut), c.bytes);
    EXPECT_EQ(ToUtf8(cut).size(), c.bytes);
    EXPECT_EQ(c.title.compare(0, cut.size(), cut), 0);
    EXPECT_FALSE(cut.back() >= 0xD800 && cut.back() <= 0xDBFF) << "half a pair";
    std::error_code error;
    EXPECT_TRUE(std::filesystem::create_directory(dir.Path() / ToUtf8(cut), error))
        << error.message();
  }
  EXPECT_EQ(CutToUtf8Bytes(u"short"), u"short");
  EXPECT_EQ(CutToUtf8Bytes(u"中文", 5), u"中");
  EXPECT_EQ(CutToUtf8Bytes(u"😀", 3), u"");
  // A lone surrogate is written as U+FFFD, three bytes.
  EXPECT_EQ(Utf8Length(std::u16string(1, char16_t(0xD800)) + u"a"), 4u);
  EXPECT_EQ(CutToUtf8Bytes(std::u16string(1, char16_t(0xDC00)) + u"a", 3).size(), 1u);
}

TEST(SafeNamesTest, ControlCharactersAndUnusableNamesGetASafeForm) {
  EXPECT_EQ(ReplaceControlCharacters(u"a\tb\nc\x7f"
                                     u"d\u0080e"),
            u"a_b_c_d_e")
      << "C1 controls too";
  EXPECT_EQ(ReplaceControlCharacters(u"r\u202Eo\u2066k\u200Dj"), u"r_o_k\u200Dj")
      << "direction overrides go, a joiner inside a word stays";
  EXPECT_EQ(ReplaceControlCharacters(std::u16string(u"x\0y", 3)), u"x_y");

  EXPECT_EQ(SafePictureFileName(u"", 7), u"007");
  EXPECT_EQ(SafePictureFileName(u".", 12), u"012");
  EXPECT_EQ(SafePictureFileName(u"..", 1234), u"1234");
  EXPECT_EQ(SafePictureFileName(u"...", 1), u"...");
  EXPECT_EQ(SafePictureFileName(u"a/../b\r.jpg", 1), u"a_.._b_.jpg");
  EXPECT_EQ(SafePictureFileName(u"第1话.png", 1), u"第1话.png");

  // A long name keeps its short extension; a long "extension" is cut like the rest.
  const std::u16string longName = SafePictureFileName(Repeat(u"画", 100) + u".jpeg", 1);
  EXPECT_EQ(Utf8Length(longName), 83 * 3 + 5u);  // 250 bytes left for the stem
  EXPECT_EQ(longName.substr(longName.size() - 5), u".jpeg");
  EXPECT_LE(Utf8Length(SafePictureFileName(u"a." + Repeat(u"画", 100), 1)), kMaxComponentBytes);
}

}  // namespace
}  // namespace pageloom::test
