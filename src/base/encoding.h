// Conversions between page text (8-bit) and wide text (UTF-16). GB18030 plays the part
// of the desktop's ANSI code page: every Unicode character has a form in it, and every
// GBK character keeps its GBK bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace pageloom {

// Converts zero-terminated ANSI (GB18030) text into `dst`, which holds `capacity` units
// with the terminator. Longer text is cut after capacity - 1 units (never inside a
// surrogate pair). A null source leaves `dst` untouched; capacity 0 writes nothing.
// A byte that starts no GB18030 character becomes U+FFFD; nothing past the terminator
// is read.
void ToWide(char16_t* dst, std::size_t capacity, const char* src);

// Converts the whole of `text` (ANSI, GB18030) into wide text, without any capacity;
// bytes that start no character become U+FFFD.
std::u16string AnsiToWide(std::string_view text);

// Re-encodes UTF-8 into ANSI (GB18030).
class CodeConverter {
 public:
  // Replaces `out` with the ANSI form of the first `length` bytes of `src`. One-, two-,
  // three- and four-byte sequences are decoded; a malformed or truncated sequence gives
  // one replacement character; nothing past `length` is read. ASCII stays byte for byte.
  // Each character takes its GB18030 form (1, 2 or 4 bytes); the replacement character
  // is the GB18030 form of U+FFFD. A truncated sequence is its lead byte and the
  // continuation bytes that follow it; an overlong, surrogate or out-of-range sequence
  // is replaced whole; a stray continuation byte or a byte F8-FF is replaced alone.
  // A zero byte ends the text: the output is what comes before it, so the output never
  // holds a zero byte. A length of 0 or less gives an empty string.
  void Utf8ToAnsi(std::string& out, const char* src, int length);

  // Decodes the three-byte group at `src` (exactly three bytes are read) and stores the
  // UTF-16 unit in `out`, low byte first. Returns the unit.
  char16_t DecodeUtf8Triple(unsigned char out[2], const unsigned char* src);

  // Writes the ANSI form of one character (a BMP unit, or a code point above it) into
  // `out` (room for 4 bytes). Returns the number of bytes written, 0 on failure.
  int UnitToAnsi(unsigned char out[4], char32_t character);
};

}  // namespace pageloom
