// What the EH site says instead of a page or a picture: its download limit, its ban, and
// the link to a picture's second server. Plain functions on answer text; they read only
// inside the view they are given.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace pageloom {

// The text the site's limit page carries.
inline constexpr char kEhLimitText[] = "exceeded your image viewing limits";
// The text a ban page carries, and the words before its length.
inline constexpr char kEhBanText[] = "temporarily banned";
inline constexpr char kEhBanExpiresText[] = "The ban expires in";
// A ban page that does not say how long is taken to last this long.
inline constexpr std::chrono::seconds kEhDefaultBan{std::chrono::hours(1)};

// True when `text` is the site's limit page.
[[nodiscard]] bool IsEhLimitText(std::string_view text);

// How long the ban that `text` announces lasts: read from "The ban expires in" followed
// by "N day(s)", "N hour(s)", "N minute(s)" and "and N second(s)" in any combination, or
// kEhDefaultBan when it says nothing readable. Nothing when `text` is no ban page. At
// most a year.
[[nodiscard]] std::optional<std::chrono::seconds> ParseEhBan(std::string_view text);

// The key of a picture page's link to the picture's second server,
// onclick="return nl('KEY')": letters, digits, '-' and '_', at most 128 of them. Nothing
// when the page has no such link.
[[nodiscard]] std::optional<std::string> ParseEhReloadKey(std::string_view page);

// The picture page `page` with "nl=KEY" added to its query.
[[nodiscard]] std::u16string EhReloadAddress(std::u16string_view page, std::string_view key);

}  // namespace pageloom
