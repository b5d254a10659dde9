#include "sites/eh/eh_answers.h"

#include <algorithm>
#include <cstdint>

namespace pageloom {

namespace {

constexpr char kReloadMarker[] = "onclick=\"return nl('";
constexpr std::size_t kLongestKey = 128;
// The length is read from this many bytes after its words at most.
constexpr std::size_t kBanLengthWindow = 200;
constexpr std::int64_t kLongestBan = 365LL * 24 * 3600;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Reads a run of characters that `keep` accepts, from `at`.
template <typename Keep>
std::string_view Run(std::string_view text, std::size_t& at, Keep keep) {
  const std::size_t start = at;
  while (at < text.size() && keep(text[at])) ++at;
  return text.substr(start, at - start);
}

void SkipBlanksAndCommas(std::string_view text, std::size_t& at) {
  while (at < text.size() && (text[at] == ' ' || text[at] == ',' || text[at] == '\t')) ++at;
}

// Seconds of a unit word ("day", "days", "hour", ...); 0 for anything else.
std::int64_t UnitSeconds(std::string_view word) {
  if (!word.empty() && word.back() == 's') word.remove_suffix(1);
  if (word == "day") return 24 * 3600;
  if (word == "hour") return 3600;
  if (word == "minute") return 60;
  if (word == "second") return 1;
  return 0;
}

// The length in `text` (what follows the words before it): "N unit" parts, joined by
// blanks, commas and "and". Nothing when no part could be read.
std::optional<std::int64_t> ReadLength(std::string_view text) {
  std::int64_t total = 0;
  bool any = false;
  std::size_t at = 0;
  for (;;) {
    SkipBlanksAndCommas(text, at);
    std::size_t probe = at;
    if (Run(text, probe, IsLetter) == "and") {
      at = probe;
      SkipBlanksAndCommas(text, at);
    }
    const std::string_view digits = Run(text, at, IsDigit);
    if (digits.empty()) break;
    std::int64_t number = 0;
    for (const char c : digits)
      number = std::min<std::int64_t>(number * 10 + (c - '0'), kLongestBan);
    SkipBlanksAndCommas(text, at);
    const std::int64_t unit = UnitSeconds(Run(text, at, IsLetter));
    if (unit == 0) break;
    total = std::min(total + number * unit, kLongestBan);
    any = true;
  }
  if (!any) return std::nullopt;
  return total;
}

}  // namespace

bool IsEhLimitText(std::string_view text) {
  return text.find(kEhLimitText) != std::string_view::npos;
}

std::optional<std::chrono::seconds> ParseEhBan(std::string_view text) {
  if (text.find(kEhBanText) == std::string_view::npos) return std::nullopt;
  const std::size_t words = text.find(kEhBanExpiresText);
  if (words == std::string_view::npos) return kEhDefaultBan;
  const std::string_view rest =
      text.substr(words + std::char_traits<char>::length(kEhBanExpiresText), kBanLengthWindow);
  const std::optional<std::int64_t> length = ReadLength(rest);
  if (!length) return kEhDefaultBan;
  return std::chrono::seconds(*length);
}

std::optional<std::string> ParseEhReloadKey(std::string_view page) {
  const std::size_t marker = page.find(kReloadMarker);
  if (marker == std::string_view::npos) return std::nullopt;
  std::size_t at = marker + std::char_traits<char>::length(kReloadMarker);
  const std::string_view key =
      Run(page, at, [](char c) { return IsDigit(c) || IsLetter(c) || c == '-' || c == '_'; });
  if (key.empty() || key.size() > kLongestKey || at >= page.size() || page[at] != '\'')
    return std::nullopt;
  return std::string(key);
}

std::u16string EhReloadAddress(std::u16string_view page, std::string_view key) {
  const std::size_t hash = page.find(u'#');
  std::u16string address(page.substr(0, hash));
  address += address.find(u'?') == std::u16string::npos ? u'?' : u'&';
  address += u"nl=";
  address.append(key.begin(), key.end());  // ASCII only
  return address;
}

}  // namespace pageloom
