#include "engine/site_adapter.h"

#include <cstdint>

#include "base/fixed_text.h"

namespace pageloom {

namespace {

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// The last run of digits in `text`, or empty.
std::u16string_view LastNumber(std::u16string_view text) {
  std::size_t end = text.size();
  while (end > 0 && !IsDigit(text[end - 1])) --end;
  std::size_t begin = end;
  while (begin > 0 && IsDigit(text[begin - 1])) --begin;
  return text.substr(begin, end - begin);
}

}  // namespace

std::u16string SiteAdapter::TaskTag(std::u16string_view address) const {
  std::u16string_view path = address.substr(0, address.find_first_of(u"?#"));
  while (!path.empty() && path.back() == u'/') path.remove_suffix(1);
  const std::size_t slash = path.rfind(u'/');
  std::u16string_view last = slash == std::u16string_view::npos ? path : path.substr(slash + 1);
  last = last.substr(0, last.find(u'.'));
  const std::u16string_view number = LastNumber(last);
  if (!number.empty() && number.size() <= 20) return std::u16string(number);
  // FNV-1a of the address: short, stable between runs.
  std::uint32_t hash = 2166136261u;
  for (const char16_t unit : address) {
    hash = (hash ^ (unit & 0xFF)) * 16777619u;
    hash = (hash ^ (unit >> 8)) * 16777619u;
  }
  static const char16_t kHex[] = u"0123456789abcdef";
  std::u16string tag;
  for (int shift = 28; shift >= 0; shift -= 4) tag += kHex[(hash >> shift) & 0xF];
  return tag;
}

std::optional<std::u16string> SiteAdapter::Identity(std::u16string_view address) const {
  std::u16string_view path = address.substr(0, address.find_first_of(u"?#"));
  while (!path.empty() && path.back() == u'/') path.remove_suffix(1);
  if (path.empty()) return std::nullopt;
  return std::u16string(path);
}

std::optional<std::u16string> LastPartNumber(std::u16string_view address) {
  std::u16string_view path = address.substr(0, address.find_first_of(u"?#"));
  while (!path.empty() && path.back() == u'/') path.remove_suffix(1);
  std::u16string_view last = path.substr(path.rfind(u'/') + 1);
  last = last.substr(0, last.find(u'.'));
  const std::u16string_view number = LastNumber(last);
  if (number.empty() || number.size() > 20) return std::nullopt;
  return std::u16string(number);
}

}  // namespace pageloom
