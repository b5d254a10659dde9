#include "base/fixed_text.h"

#include <cstdint>

namespace pageloom {

namespace {

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// How many units of `src` fit into `room` units without splitting a pair.
std::size_t FittingUnits(std::u16string_view src, std::size_t room) {
  if (src.size() <= room) return src.size();
  std::size_t n = room;
  if (n > 0 && IsHighSurrogate(src[n - 1]) && IsLowSurrogate(src[n])) --n;
  return n;
}

}  // namespace

std::size_t WideLength(const char16_t* text, std::size_t capacity) {
  std::size_t n = 0;
  while (n < capacity && text[n] != 0) ++n;
  return n;
}

std::u16string_view WideView(const char16_t* text, std::size_t capacity) {
  return std::u16string_view(text, WideLength(text, capacity));
}

std::size_t CopyWide(char16_t* dst, std::size_t capacity, std::u16string_view src) {
  if (capacity == 0) return 0;
  const std::size_t n = FittingUnits(src, capacity - 1);
  for (std::size_t i = 0; i < n; ++i) dst[i] = src[i];
  dst[n] = 0;
  return n;
}

std::u16string CutWide(std::u16string_view src, std::size_t capacity) {
  if (capacity == 0) return {};
  const std::size_t zero = src.find(char16_t{0});
  if (zero != std::u16string_view::npos) src = src.substr(0, zero);
  return std::u16string(src.substr(0, FittingUnits(src, capacity - 1)));
}

std::size_t AppendWide(char16_t* dst, std::size_t capacity, std::u16string_view src) {
  if (capacity == 0) return 0;
  std::size_t used = WideLength(dst, capacity);
  if (used == capacity) {  // unterminated: terminate at the last unit
    used = capacity - 1;
    dst[used] = 0;
  }
  return used + CopyWide(dst + used, capacity - used, src);
}

std::string ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t cp = text[i];
    if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
      ++i;
    } else if (IsHighSurrogate(text[i]) || IsLowSurrogate(text[i])) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

std::u16string FromUtf8(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    // Runs of plain ASCII (addresses, most folder names) are widened as they are.
    std::size_t ascii = i;
    while (ascii < n && s[ascii] < 0x80) ++ascii;
    out.append(s + i, s + ascii);
    i = ascii;
    if (i == n) break;
    const unsigned char b0 = s[i];
    std::uint32_t cp = 0xFFFD;
    std::size_t len = 1;
    std::uint32_t min = 0;
    if (b0 < 0x80) {
      cp = b0;
    } else if (b0 >= 0xC2 && b0 <= 0xF4) {
      len = b0 < 0xE0 ? 2 : b0 < 0xF0 ? 3 : 4;
      min = len == 2 ? 0x80 : len == 3 ? 0x800 : 0x10000;
      cp = b0 & (len == 2 ? 0x1F : len == 3 ? 0x0F : 0x07);
      std::size_t k = 1;
      for (; k < len && i + k < n && (s[i + k] & 0xC0) == 0x80; ++k)
        cp = (cp << 6) | (s[i + k] & 0x3F);
      if (k < len || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        cp = 0xFFFD;
        len = k;  // skip the lead byte and the continuation bytes seen so far
      }
    }
    if (cp >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
    i += len;
  }
  return out;
}

std::u16string WideNumber(int value) {
  const std::string s = std::to_string(value);
  return std::u16string(s.begin(), s.end());
}

}  // namespace pageloom
