// Conversions between UTF-8 page text, GB18030 (the ANSI code page) and wide text.
#include "base/encoding.h"

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/fixed_text.h"

namespace pageloom::test {
namespace {

const std::string kAnsiReplacement = "\x84\x31\xA4\x37";  // GB18030 form of U+FFFD

// UTF-8 and UTF-16 of one code point, written independently of the code under test.
void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void AppendUtf16(std::u16string& out, char32_t c) {
  if (c < 0x10000) {
    out += static_cast<char16_t>(c);
  } else {
    out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
    out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
  }
}

// Utf8ToAnsi over exactly `bytes`, held in a heap block of that size so that the
// sanitizer sees any read past the given length.
std::string Ansi(const std::string& bytes) {
  std::unique_ptr<char[]> exact(new char[bytes.size() + 1]);
  std::memcpy(exact.get(), bytes.data(), bytes.size());
  std::string out = "stale";
  CodeConverter converter;
  converter.Utf8ToAnsi(out, bytes.empty() ? nullptr : exact.get(), static_cast<int>(bytes.size()));
  return out;
}

std::string AnsiExact(const std::string& bytes) {
  std::unique_ptr<char[]> exact(new char[bytes.size()]);
  std::memcpy(exact.get(), bytes.data(), bytes.size());
  std::string out;
  CodeConverter().Utf8ToAnsi(out, exact.get(), static_cast<int>(bytes.size()));
  return out;
}

std::u16string Wide(const std::string& ansi, std::size_t capacity = 4096) {
  std::vector<char16_t> buffer(capacity + 1, u'#');
  ToWide(buffer.data(), capacity, ansi.c_str());
  EXPECT_EQ(buffer[capacity], u'#') << "written past the capacity";
  return std::u16string(buffer.data());
}

std::string AnsiOf(char32_t c) {
  unsigned char form[4];
  const int n = CodeConverter().UnitToAnsi(form, c);
  return std::string(reinterpret_cast<const char*>(form), n > 0 ? static_cast<std::size_t>(n) : 0);
}

TEST(ToWideTest, NullSourceAndZeroCapacityLeaveTheBufferAlone) {
  char16_t buffer[3] = {u'x', u'y', u'z'};
  ToWide(buffer, 3, nullptr);
  EXPECT_EQ(std::u16string(buffer, 3), u"xyz");
  ToWide(buffer + 1, 0, "abc");
  EXPECT_EQ(std::u16string(buffer, 3), u"xyz");
  ToWide(buffer, 3, "");
  EXPECT_EQ(buffer[0], u'\0');
  EXPECT_EQ(buffer[1], u'y');
}

TEST(ToWideTest, DecodesGbkAndFourByteForms) {
  EXPECT_EQ(Wide("plain ascii"), u"plain ascii");
  EXPECT_EQ(Wide("\xD6\xD0\xCE\xC4"), u"中文");
  EXPECT_EQ(Wide(AnsiOf(0x1F600) + "!"), u"\U0001F600!");
  EXPECT_EQ(Wide(AnsiOf(0xE9)), u"é");
}

TEST(ToWideTest, CutsAtCapacityMinusOneWithoutSplittingAPair) {
  EXPECT_EQ(Wide("abcdef", 4), u"abc");
  EXPECT_EQ(Wide("abc", 4), u"abc");
  EXPECT_EQ(Wide("abcdef", 1), u"");
  EXPECT_EQ(Wide("\xD6\xD0\xCE\xC4", 2), u"中");
  const std::string emoji = AnsiOf(0x1F600);
  EXPECT_EQ(Wide("a" + emoji + "b", 3), u"a");  // one unit of room left: the pair is dropped whole
  EXPECT_EQ(Wide("a" + emoji + "b", 4), u"a\U0001F600");
  EXPECT_EQ(Wide("\x80\x80\x80", 3), u"\uFFFD\uFFFD");
}

TEST(ToWideTest, BadBytesBecomeReplacementsAndDecodingGoesOn) {
  EXPECT_EQ(Wide("a\x80"
                 "b\xFF"
                 "c"),
            u"a\uFFFDb\uFFFDc");
  EXPECT_EQ(Wide("ab\x81"), u"ab\uFFFD");  // lead byte at the very end
  EXPECT_EQ(Wide("ab\x81\x30"),
            u"ab\uFFFD"
            u"0");                            // four-byte form cut short
  EXPECT_EQ(Wide("\x81\x20x"), u"\uFFFD x");  // an ASCII trail is not swallowed
}

TEST(ToWideTest, WholeTextConversionHasNoCap) {
  std::string longText(5000, 'q');
  longText += "\xD6\xD0";
  const std::u16string wide = AnsiToWide(longText);
  ASSERT_EQ(wide.size(), 5001u);
  EXPECT_EQ(wide.back(), u'中');
  EXPECT_EQ(AnsiToWide(""), u"");
  EXPECT_EQ(AnsiToWide("x\x80"), u"x\uFFFD");
}

TEST(Utf8ToAnsiTest, AsciiStaysByteForByteAndEmptyInputGivesEmpty) {
  EXPECT_EQ(Ansi("Hello, world! /a/b?c=1"), "Hello, world! /a/b?c=1");
  EXPECT_EQ(Ansi(""), "");
  std::string out = "stale";
  CodeConverter().Utf8ToAnsi(out, "abc", 0);
  EXPECT_EQ(out, "");
  out = "stale";
  CodeConverter().Utf8ToAnsi(out, "abc", -5);
  EXPECT_EQ(out, "");
}

TEST(Utf8ToAnsiTest, EverySequenceLengthIsDecoded) {
  EXPECT_EQ(Ansi("\xE4\xB8\xAD"), "\xD6\xD0");
  EXPECT_EQ(Ansi("\xC3\xA9\x78"), AnsiOf(0xE9) + "x");  // the x after a two-byte character stays
  EXPECT_EQ(AnsiOf(0xE9), "\xA8\xA6");
  EXPECT_EQ(Ansi("\xF0\x9F\x98\x80"
                 "a"),
            AnsiOf(0x1F600) + "a");
  EXPECT_EQ(AnsiOf(0x1F600).size(), 4u);
}

TEST(Utf8ToAnsiTest, TruncatedSequencesNeverReadPastTheLength) {
  EXPECT_EQ(AnsiExact("a\xE4\xB8"), "a" + kAnsiReplacement);
  EXPECT_EQ(AnsiExact("a\xE4"), "a" + kAnsiReplacement);
  EXPECT_EQ(AnsiExact("\xF0\x9F\x98"), kAnsiReplacement);
  EXPECT_EQ(AnsiExact("\xC3"), kAnsiReplacement);
  // The bytes behind the length would complete the character; they must not be used.
  std::string out;
  CodeConverter().Utf8ToAnsi(out, "\xE4\xB8\xAD", 2);
  EXPECT_EQ(out, kAnsiReplacement);
}

TEST(Utf8ToAnsiTest, MalformedSequencesGiveOneReplacementEach) {
  EXPECT_EQ(Ansi("\xC0\xAF"), kAnsiReplacement);          // overlong slash
  EXPECT_EQ(Ansi("\xE0\x80\xAF"), kAnsiReplacement);      // overlong, three bytes
  EXPECT_EQ(Ansi("\xF0\x80\x80\xAF"), kAnsiReplacement);  // overlong, four bytes
  EXPECT_EQ(Ansi("\xED\xA0\x80"), kAnsiReplacement);      // surrogate
  EXPECT_EQ(Ansi("\xF4\x90\x80\x80"), kAnsiReplacement);  // above U+10FFFF
  EXPECT_EQ(Ansi("\x80\xBF"), kAnsiReplacement + kAnsiReplacement);
  EXPECT_EQ(Ansi("\xFF"
                 "a"),
            kAnsiReplacement + "a");
  EXPECT_EQ(Ansi("\xE4x\xB8"), kAnsiReplacement + "x" + kAnsiReplacement);
  EXPECT_EQ(AnsiOf(0xFFFD), kAnsiReplacement);
}

TEST(Utf8ToAnsiTest, AZeroByteEndsTheText) {
  EXPECT_EQ(Ansi(std::string("ab\0cd", 5)), "ab");
  EXPECT_EQ(Ansi(std::string("\xE4\xB8\0\xAD", 4)), kAnsiReplacement);
}

TEST(CodeConverterTest, TripleFormulaAndSingleCharacters) {
  CodeConverter converter;
  unsigned char unit[2] = {0, 0};
  const unsigned char chinese[3] = {0xE4, 0xB8, 0xAD};
  EXPECT_EQ(converter.DecodeUtf8Triple(unit, chinese), 0x4E2D);
  EXPECT_EQ(unit[0], 0x2D);
  EXPECT_EQ(unit[1], 0x4E);
  // Lead and continuation marks are not examined.
  const unsigned char unmarked[3] = {0x24, 0x38, 0x2D};
  EXPECT_EQ(converter.DecodeUtf8Triple(unit, unmarked), 0x4E2D);
  const unsigned char highest[3] = {0xEF, 0xBF, 0xBF};
  EXPECT_EQ(converter.DecodeUtf8Triple(unit, highest), 0xFFFF);

  unsigned char form[4];
  EXPECT_EQ(converter.UnitToAnsi(form, U'A'), 1);
  EXPECT_EQ(form[0], 'A');
  EXPECT_EQ(converter.UnitToAnsi(form, 0x4E2D), 2);
  EXPECT_EQ(converter.UnitToAnsi(form, 0x10FFFF), 4);
  EXPECT_EQ(converter.UnitToAnsi(form, 0xD800), 0);
  EXPECT_EQ(converter.UnitToAnsi(form, 0xDFFF), 0);
  EXPECT_EQ(converter.UnitToAnsi(form, 0x110000), 0);
}

TEST(RoundTripTest, TitlesInManyScriptsComeBackExactly) {
  const char* titles[] = {
      "\xE7\xAC\xAC\xE4\xB8\x80\xE8\xAF\x9D \xE5\x87\xBA\xE5\x8F\x91",  // 第一话 出发
      "\xE3\x81\x93\xE3\x82\x93\xE3\x81\xAB\xE3\x81\xA1\xE3\x81\xAF\xE3\x83\xBB\xE3\x82"
      "\xAB",  // こんにちは・カ
      "Caf\xC3\xA9 d\xC3\xA9j\xC3\xA0 vu \xE2\x80\x94 na\xC3\xAFve",
      "\xF0\x9F\x8E\x89\xE6\xBC\xAB\xE7\x94\xBB\xF0\x9F\x98\x80 [Vol.2]",
      "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 \xCE\xB1\xCE\xB2\xCE\xB3 "
      "\xEA\xB0\x80",
  };
  const std::u16string expected[] = {
      u"第一话 出发",    u"こんにちは・カ", u"Café déjà vu — naïve",
      u"🎉漫画😀 [Vol.2]", u"Привет αβγ 가",
  };
  for (std::size_t i = 0; i < std::size(titles); ++i) {
    EXPECT_EQ(Wide(Ansi(titles[i]), 260), expected[i]) << titles[i];
  }
}

TEST(RoundTripTest, RandomCodePointsComeBackExactly) {
  std::mt19937 random(20261208);
  std::uniform_int_distribution<int> range(0, 3);
  std::uniform_int_distribution<char32_t> ascii(1, 0x7F), two(0x80, 0x7FF), three(0x800, 0xFFFF),
      four(0x10000, 0x10FFFF);
  std::uniform_int_distribution<int> lengths(0, 80);
  for (int round = 0; round < 1500; ++round) {
    std::string utf8;
    std::u16string expected;
    const int count = lengths(random);
    for (int k = 0; k < count; ++k) {
      char32_t c = 0;
      switch (range(random)) {
        case 0:
          c = ascii(random);
          break;
        case 1:
          c = two(random);
          break;
        case 2:
          c = three(random);
          break;
        default:
          c = four(random);
          break;
      }
      if (c >= 0xD800 && c <= 0xDFFF) continue;
      if (AnsiOf(c).empty()) continue;  // a few private-use points the code page has no form for
      AppendUtf8(utf8, c);
      AppendUtf16(expected, c);
    }
    const std::string ansi = AnsiExact(utf8);
    ASSERT_EQ(ansi.find('\0'), std::string::npos);
    ASSERT_EQ(AnsiToWide(ansi), expected) << "round " << round;
    ASSERT_EQ(Wide(ansi, expected.size() + 1), expected) << "round " << round;
  }
}

TEST(RoundTripTest, RandomBytesGiveWellFormedWideText) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> byte(0, 255), length(0, 40);
  for (int round = 0; round < 2000; ++round) {
    std::string bytes;
    for (int k = length(random); k > 0; --k) bytes += static_cast<char>(byte(random));
    const std::string ansi = AnsiExact(bytes);
    ASSERT_EQ(ansi.find('\0'), std::string::npos);
    const std::u16string wide = Wide(ansi, 9);
    for (std::size_t k = 0; k < wide.size(); ++k) {
      const char16_t u = wide[k];
      if (u >= 0xD800 && u <= 0xDBFF) {
        ASSERT_LT(k + 1, wide.size()) << "pair split at the capacity";
        ASSERT_TRUE(wide[k + 1] >= 0xDC00 && wide[k + 1] <= 0xDFFF);
        ++k;
      } else {
        ASSERT_FALSE(u >= 0xDC00 && u <= 0xDFFF);
      }
    }
  }
}

TEST(RoundTripTest, ThreadsConvertAtTheSameTime) {
  const std::string title = "\xE7\xAC\xAC\xE4\xB8\x80\xE8\xAF\x9D Caf\xC3\xA9 \xF0\x9F\x98\x80";
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int k = 0; k < 500; ++k) {
        if (AnsiToWide(AnsiExact(title)) != u"第一话 Café 😀") ++failures[t];
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int f : failures) EXPECT_EQ(f, 0);
}

// Plain ASCII runs between other forms, at either end and inside, each code point and
// each bad byte where it stood; a sequence cut short at the end reads nothing past it.
TEST(FromUtf8Test, AsciiRunsAndOtherFormsKeepTheirPlaces) {
  std::mt19937 random(7);
  const char32_t forms[] = {U'a', U'/', U'\u00E9', U'\u6F2B', U'\U0001F600'};
  for (int round = 0; round < 200; ++round) {
    std::string bytes;
    std::u16string expected;
    for (int i = random() % 12; i > 0; --i) {
      if (random() % 5 == 0) {
        bytes += '\xFF';  // never part of UTF-8
        expected += u'\uFFFD';
        continue;
      }
      const char32_t c = forms[random() % 5];
      AppendUtf8(bytes, c);
      AppendUtf16(expected, c);
    }
    EXPECT_EQ(FromUtf8(bytes), expected) << round;
    EXPECT_EQ(FromUtf8(bytes + "\xE6\xBC"), expected + u'\uFFFD') << round;
  }
}

}  // namespace
}  // namespace pageloom::test
