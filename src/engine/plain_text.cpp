#include "engine/plain_text.h"

#include <cstdint>

namespace pageloom {

namespace {

constexpr std::size_t npos = std::string_view::npos;

void AppendUtf8(std::string& out, std::uint32_t code) {
  if (code == 0 || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF || code == 0xFFFE ||
      code == 0xFFFF || (code < 0x20 && code != '\t' && code != '\n' && code != '\r') ||
      (code >= 0x7F && code < 0xA0))
    code = 0xFFFD;
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// Decodes the UTF-8 sequence at text[i]; sets `size` to the bytes taken (1 for a byte
// that starts no well-formed sequence, which gives U+FFFD).
std::uint32_t DecodeUtf8(std::string_view text, std::size_t i, std::size_t& size) {
  const auto b = static_cast<unsigned char>(text[i]);
  size = 1;
  if (b < 0x80) return b;
  std::size_t need = b >= 0xF0 && b < 0xF5 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 && b < 0xE0 ? 2 : 0;
  if (need == 0 || b >= 0xF5 || i + need > text.size()) return 0xFFFD;
  std::uint32_t code = b & (need == 2 ? 0x1F : need == 3 ? 0x0F : 0x07);
  for (std::size_t k = 1; k < need; ++k) {
    const auto c = static_cast<unsigned char>(text[i + k]);
    if ((c & 0xC0) != 0x80) return 0xFFFD;
    code = (code << 6) | (c & 0x3F);
  }
  const std::uint32_t least = need == 2 ? 0x80 : need == 3 ? 0x800 : 0x10000;
  if (code < least) return 0xFFFD;
  size = need;
  return code;
}

// The entity at text[i] (which is '&'); sets `size` to its length, 0 when it is none.
std::uint32_t DecodeEntity(std::string_view text, std::size_t i, std::size_t& size) {
  size = 0;
  const std::size_t semi = text.find(';', i);
  if (semi == npos || semi - i > 12 || semi == i + 1) return 0;
  const std::string_view name = text.substr(i + 1, semi - i - 1);
  std::uint32_t code = 0;
  if (name[0] == '#') {
    const bool hex = name.size() > 1 && (name[1] == 'x' || name[1] == 'X');
    const std::string_view digits = name.substr(hex ? 2 : 1);
    if (digits.empty()) return 0;
    for (const char c : digits) {
      int d = -1;
      if (c >= '0' && c <= '9') d = c - '0';
      if (hex && c >= 'a' && c <= 'f') d = c - 'a' + 10;
      if (hex && c >= 'A' && c <= 'F') d = c - 'A' + 10;
      if (d < 0) return 0;
      code = code * (hex ? 16 : 10) + static_cast<std::uint32_t>(d);
      if (code > 0x10FFFF) code = 0x110000;  // stays out of range, never overflows
    }
  } else {
    static constexpr struct {
      std::string_view name;
      std::uint32_t code;
    } kNamed[] = {{"amp", '&'},    {"lt", '<'},       {"gt", '>'},        {"quot", '"'},
                  {"apos", '\''},  {"nbsp", 0xA0},    {"hellip", 0x2026}, {"middot", 0xB7},
                  {"times", 0xD7}, {"ndash", 0x2013}, {"mdash", 0x2014}};
    bool found = false;
    for (const auto& entry : kNamed) {
      if (entry.name == name) {
        code = entry.code;
        found = true;
      }
    }
    if (!found) return 0;
  }
  size = semi - i + 1;
  return code;
}

bool IsSpace(std::uint32_t code) {
  return code == ' ' || code == '\t' || code == '\n' || code == '\r' || code == 0xA0 ||
         code == 0x3000;
}

}  // namespace

std::string PlainText(std::string_view markup) {
  std::string out;
  out.reserve(markup.size());
  bool pendingSpace = false;
  for (std::size_t i = 0; i < markup.size();) {
    if (markup[i] == '<') {
      const std::size_t end = markup.find('>', i);
      if (end == npos) break;  // an unclosed tag runs to the end
      i = end + 1;
      continue;
    }
    std::size_t size = 0;
    std::uint32_t code = 0;
    if (markup[i] == '&') code = DecodeEntity(markup, i, size);
    if (size == 0) code = DecodeUtf8(markup, i, size);
    i += size;
    if (IsSpace(code)) {
      pendingSpace = !out.empty();
      continue;
    }
    if (pendingSpace) out += ' ';
    pendingSpace = false;
    AppendUtf8(out, code);
  }
  return out;
}

}  // namespace pageloom
