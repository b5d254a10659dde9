#include "engine/safe_names.h"

#include <cstdio>

namespace pageloom {

namespace {

constexpr std::size_t kMaxExtensionUnits = 16;

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Units and UTF-8 bytes of the character at `k`.
std::size_t CharacterUnits(std::u16string_view text, std::size_t k) {
  return IsHighSurrogate(text[k]) && k + 1 < text.size() && IsLowSurrogate(text[k + 1]) ? 2 : 1;
}

std::size_t CharacterBytes(std::u16string_view text, std::size_t k) {
  const char16_t c = text[k];
  if (CharacterUnits(text, k) == 2) return 4;
  if (c < 0x80) return 1;
  if (c < 0x800) return 2;
  return 3;  // the rest of the BMP, and a lone surrogate as U+FFFD
}

std::u16string Number(int number) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%03d", number);
  return std::u16string(digits, digits + std::char_traits<char>::length(digits));
}

}  // namespace

std::size_t Utf8Length(std::u16string_view text) {
  std::size_t bytes = 0;
  for (std::size_t k = 0; k < text.size(); k += CharacterUnits(text, k))
    bytes += CharacterBytes(text, k);
  return bytes;
}

std::u16string CutToUtf8Bytes(std::u16string_view component, std::size_t maxBytes) {
  std::size_t bytes = 0;
  std::size_t k = 0;
  while (k < component.size()) {
    const std::size_t next = CharacterBytes(component, k);
    if (bytes + next > maxBytes) break;
    bytes += next;
    k += CharacterUnits(component, k);
  }
  return std::u16string(component.substr(0, k));
}

bool IsHiddenControl(char16_t c) {
  return c < 0x20 || (c >= 0x7F && c < 0xA0) || c == 0x061C || c == 0x200B || c == 0x200E ||
         c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2060 && c <= 0x2064) ||
         (c >= 0x2066 && c <= 0x2069) || c == 0xFEFF;
}

std::u16string ReplaceControlCharacters(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) {
    if (IsHiddenControl(c)) c = u'_';
  }
  return out;
}

std::u16string SafePictureFileName(std::u16string_view name, int number) {
  std::u16string safe = ReplaceControlCharacters(name);
  for (char16_t& c : safe) {
    if (c == u'/') c = u'_';
  }
  if (Utf8Length(safe) > kMaxComponentBytes) {
    const std::size_t dot = safe.rfind(u'.');
    const bool shortExtension =
        dot != std::u16string::npos && dot > 0 && safe.size() - dot <= kMaxExtensionUnits;
    const std::u16string extension = shortExtension ? safe.substr(dot) : std::u16string();
    safe = CutToUtf8Bytes(std::u16string_view(safe).substr(0, safe.size() - extension.size()),
                          kMaxComponentBytes - Utf8Length(extension)) +
           extension;
  }
  if (safe.empty() || safe == u"." || safe == u"..") return Number(number);
  return safe;
}

}  // namespace pageloom
