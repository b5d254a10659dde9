// Links read from a page, resolved as relative references against the page they came
// from (RFC 3986, section 5), and the test that a link stays on the site's own host.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pageloom {

// The five components of a URI reference (RFC 3986, appendix B); a component that is
// absent differs from one that is empty ("http://h/p?" has an empty query).
struct UrlParts {
  std::optional<std::u16string_view> scheme;
  std::optional<std::u16string_view> authority;
  std::u16string_view path;
  std::optional<std::u16string_view> query;
  std::optional<std::u16string_view> fragment;
};

// Splits a reference into its components. A text before the first ':' that is not a
// valid scheme (a letter, then letters, digits, '+', '-', '.') is no scheme: the whole
// reference is then relative. The views point into `reference`.
[[nodiscard]] UrlParts SplitUrl(std::u16string_view reference);

// Resolves `reference` (as found in a page: "/path", "//host/path", "?q", "#f",
// "../x", "x", or an absolute "http:..." address) against `base`, the absolute address
// of the page it came from, with the dot segments removed. Spaces and control
// characters around either are dropped first. Returns "" (refused) when `base` has no
// scheme, when either holds a control character or a backslash, or when the result would
// read differently once written out (a path starting with "//" without an authority).
[[nodiscard]] std::u16string ResolveReference(std::u16string_view base,
                                              std::u16string_view reference);

// True when `url` is an absolute http or https address on the host of `site` (any
// absolute address on the site, e.g. its root or the page a link came from): the host
// names are equal without regard to ASCII case, and so are the ports (the scheme's own,
// 80 or 443, when none is written). An address with user information ("user@host"), an
// empty host or a malformed port never stays.
[[nodiscard]] bool StaysOnHost(std::u16string_view url, std::u16string_view site);

}  // namespace pageloom
