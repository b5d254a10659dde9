// Conversions between page text (8-bit) and wide text (UTF-16). GB18030 plays the part
// of the desktop's ANSI code page: every Unicode character has a form in it, and every
// GBK character keeps its GBK bytes.
#pragma once

#include <cstddef>
#include <string>

namespace pageloom {

// Converts zero-terminated ANSI (GB18030) text into `dst`, which holds `capacity` units
// with the terminator. Longer text is cut after capacity - 1 units (never inside a
// surrogate pair). A null source leaves `dst` untouched; capacity 0 writes nothing.
void ToWide(char16_t* dst, std::size_t capacity, const char* src);

// Re-encodes UTF-8 into ANSI (GB18030).
class CodeConverter {
 public:
  // Replaces `out` with the ANSI form of the first `length` bytes of `src`. One-, two-,
  // three- and four-byte sequences are decoded; a malformed or truncated sequence gives
  // one replacement character; nothing past `length` is read. ASCII stays byte for byte.
  void Utf8ToAnsi(std::string& out, const char* src, int length);

  // Decodes the three-byte group at `src` (exactly three bytes are read) and stores the
  // UTF-16 unit in `out`, low byte first. Returns the unit.
  char16_t DecodeUtf8Triple(unsigned char out[2], const unsigned char* src);

  // Writes the ANSI form of one character (a BMP unit, or a code point above it) into
  // `out` (room for 4 bytes). Returns the number of bytes written, 0 on failure.
  int UnitToAnsi(unsigned char out[4], char32_t character);
};

}  // namespace pageloom
