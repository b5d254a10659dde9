#include "cli/terminal_text.h"

#include <cstdio>

#include "engine/safe_names.h"

namespace pageloom::cli {

namespace {

struct Range {
  char32_t first;
  char32_t last;
};

// East Asian wide and full-width blocks (Hangul, CJK, kana, full-width forms, emoji).
constexpr Range kWide[] = {
    {0x1100, 0x115F},   {0x2E80, 0x303E},   {0x3041, 0x33FF},   {0x3400, 0x4DBF},
    {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},
    {0xFE30, 0xFE4F},   {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x1F300, 0x1F64F},
    {0x1F900, 0x1F9FF}, {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD},
};

bool IsControl(char32_t c) { return c < 0x20 || (c >= 0x7F && c < 0xA0); }
bool IsHigh(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLow(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// The character at `i` and the units it takes.
std::pair<char32_t, std::size_t> CharAt(std::u16string_view text, std::size_t i) {
  const char16_t unit = text[i];
  if (IsHigh(unit) && i + 1 < text.size() && IsLow(text[i + 1]))
    return {0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (text[i + 1] - 0xDC00), 2};
  return {unit, 1};
}

}  // namespace

int CellWidth(char32_t c) {
  if (IsControl(c)) return 0;
  if ((c >= 0x300 && c <= 0x36F) || c == 0x200B || (c >= 0xFE00 && c <= 0xFE0F)) return 0;
  for (const Range& range : kWide)
    if (c >= range.first && c <= range.last) return 2;
  return 1;
}

int TextWidth(std::u16string_view text) {
  int width = 0;
  for (std::size_t i = 0; i < text.size();) {
    const auto [c, units] = CharAt(text, i);
    width += CellWidth(c);
    i += units;
  }
  return width;
}

std::u16string FitToWidth(std::u16string_view text, int width) {
  if (TextWidth(text) <= width) return std::u16string(text);
  if (width <= 0) return {};
  const int room = width - 1;  // the ellipsis takes one column
  std::u16string out;
  int used = 0;
  for (std::size_t i = 0; i < text.size();) {
    const auto [c, units] = CharAt(text, i);
    if (used + CellWidth(c) > room) break;
    used += CellWidth(c);
    out.append(text.substr(i, units));
    i += units;
  }
  out += u'…';
  return out;
}

std::u16string Printable(std::u16string_view text, bool keepNewlines) {
  std::u16string out;
  out.reserve(text.size());
  for (const char16_t unit : text) {
    if (unit == u'\n') {
      out += keepNewlines ? u'\n' : u' ';
    } else if (IsHiddenControl(unit)) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(unit));
      out.append(escaped, escaped + 6);
    } else {
      out += unit;
    }
  }
  return out;
}

std::string ByteSize(std::uint64_t bytes) {
  static constexpr const char* kUnits[] = {"KiB", "MiB", "GiB", "TiB"};
  if (bytes < 1024) return std::to_string(bytes) + " B";
  double value = static_cast<double>(bytes) / 1024.0;
  std::size_t unit = 0;
  while (value >= 1024.0 && unit + 1 < std::size(kUnits)) {
    value /= 1024.0;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

}  // namespace pageloom::cli
