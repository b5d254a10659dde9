#include "engine/links.h"

#include <algorithm>

namespace pageloom {

namespace {

bool IsAlpha(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool IsControl(char16_t c) { return c < 0x20 || c == 0x7F; }

bool IsScheme(std::u16string_view text) {
  if (text.empty() || !IsAlpha(text[0])) return false;
  return std::all_of(text.begin(), text.end(), [](char16_t c) {
    return IsAlpha(c) || IsDigit(c) || c == u'+' || c == u'-' || c == u'.';
  });
}

char16_t Lower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

bool EqualIgnoringCase(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](char16_t x, char16_t y) { return Lower(x) == Lower(y); });
}

std::u16string_view Trim(std::u16string_view text) {
  while (!text.empty() && (text.front() <= 0x20 || text.front() == 0x7F)) text.remove_prefix(1);
  while (!text.empty() && (text.back() <= 0x20 || text.back() == 0x7F)) text.remove_suffix(1);
  return text;
}

bool Acceptable(std::u16string_view text) {
  return std::none_of(text.begin(), text.end(),
                      [](char16_t c) { return IsControl(c) || c == u'\\'; });
}

bool StartsWith(std::u16string_view text, std::u16string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// Removes the last segment and the '/' before it from `out`.
void DropLastSegment(std::u16string& out) {
  const std::size_t slash = out.rfind(u'/');
  out.erase(slash == std::u16string::npos ? 0 : slash);
}

// RFC 3986, 5.2.4, walking the input once.
std::u16string RemoveDotSegments(std::u16string_view in) {
  std::u16string out;
  out.reserve(in.size());
  while (!in.empty()) {
    if (StartsWith(in, u"../")) {
      in.remove_prefix(3);
    } else if (StartsWith(in, u"./")) {
      in.remove_prefix(2);
    } else if (StartsWith(in, u"/./")) {
      in.remove_prefix(2);  // leaves the '/'
    } else if (in == u"/.") {
      out += u'/';
      in = {};
    } else if (StartsWith(in, u"/../")) {
      DropLastSegment(out);
      in.remove_prefix(3);
    } else if (in == u"/..") {
      DropLastSegment(out);
      out += u'/';
      in = {};
    } else if (in == u"." || in == u"..") {
      in = {};
    } else {
      const std::size_t end = std::min(in.find(u'/', 1), in.size());
      out.append(in.substr(0, end));
      in.remove_prefix(end);
    }
  }
  return out;
}

// RFC 3986, 5.2.3.
std::u16string Merge(const UrlParts& base, std::u16string_view path) {
  if (base.authority && base.path.empty()) return u"/" + std::u16string(path);
  const std::size_t slash = base.path.rfind(u'/');
  std::u16string merged(slash == std::u16string_view::npos ? std::u16string_view()
                                                           : base.path.substr(0, slash + 1));
  return merged.append(path);
}

// The host and the port of an http or https address, the port as written or the
// scheme's own; nothing when it is none or malformed.
struct HostPort {
  std::u16string_view host;
  unsigned port = 0;
};

std::optional<HostPort> WebHost(std::u16string_view url) {
  const UrlParts parts = SplitUrl(url);
  if (!parts.scheme || !parts.authority) return std::nullopt;
  unsigned port;
  if (EqualIgnoringCase(*parts.scheme, u"http")) {
    port = 80;
  } else if (EqualIgnoringCase(*parts.scheme, u"https")) {
    port = 443;
  } else {
    return std::nullopt;
  }
  std::u16string_view authority = *parts.authority;
  if (authority.find(u'@') != std::u16string_view::npos) return std::nullopt;
  // The port follows the last ':' that is not inside an IPv6 literal "[...]".
  const std::size_t bracket = authority.rfind(u']');
  const std::size_t colon = authority.rfind(u':');
  if (colon != std::u16string_view::npos &&
      (bracket == std::u16string_view::npos || colon > bracket)) {
    const std::u16string_view digits = authority.substr(colon + 1);
    authority = authority.substr(0, colon);
    if (!digits.empty()) {
      if (digits.size() > 5 || !std::all_of(digits.begin(), digits.end(), IsDigit))
        return std::nullopt;
      port = 0;
      for (char16_t d : digits) port = port * 10 + static_cast<unsigned>(d - u'0');
      if (port > 65535) return std::nullopt;
    }
  }
  if (authority.empty()) return std::nullopt;
  return HostPort{authority, port};
}

}  // namespace

UrlParts SplitUrl(std::u16string_view reference) {
  UrlParts parts;
  std::u16string_view rest = reference;
  const std::size_t colon = rest.find(u':');
  if (colon != std::u16string_view::npos && colon < rest.find_first_of(u"/?#") &&
      IsScheme(rest.substr(0, colon))) {
    parts.scheme = rest.substr(0, colon);
    rest.remove_prefix(colon + 1);
  }
  if (const std::size_t hash = rest.find(u'#'); hash != std::u16string_view::npos) {
    parts.fragment = rest.substr(hash + 1);
    rest = rest.substr(0, hash);
  }
  if (const std::size_t question = rest.find(u'?'); question != std::u16string_view::npos) {
    parts.query = rest.substr(question + 1);
    rest = rest.substr(0, question);
  }
  if (StartsWith(rest, u"//")) {
    rest.remove_prefix(2);
    const std::size_t slash = std::min(rest.find(u'/'), rest.size());
    parts.authority = rest.substr(0, slash);
    rest.remove_prefix(slash);
  }
  parts.path = rest;
  return parts;
}

std::u16string ResolveReference(std::u16string_view baseText, std::u16string_view referenceText) {
  baseText = Trim(baseText);
  referenceText = Trim(referenceText);
  if (!Acceptable(baseText) || !Acceptable(referenceText)) return {};
  const UrlParts base = SplitUrl(baseText);
  const UrlParts reference = SplitUrl(referenceText);
  if (!base.scheme) return {};

  // RFC 3986, 5.2.2.
  std::u16string_view scheme = *base.scheme;
  std::optional<std::u16string_view> authority = base.authority;
  std::optional<std::u16string_view> query = reference.query;
  std::u16string path;
  if (reference.scheme) {
    scheme = *reference.scheme;
    authority = reference.authority;
    path = RemoveDotSegments(reference.path);
  } else if (reference.authority) {
    authority = reference.authority;
    path = RemoveDotSegments(reference.path);
  } else if (reference.path.empty()) {
    path = RemoveDotSegments(base.path);  // the base as given may hold some
    if (!reference.query) query = base.query;
  } else if (reference.path.front() == u'/') {
    path = RemoveDotSegments(reference.path);
  } else {
    path = RemoveDotSegments(Merge(base, reference.path));
  }
  // Written out, such a path would read as an authority.
  if (!authority && StartsWith(path, u"//")) return {};

  // RFC 3986, 5.3.
  std::u16string result(scheme);
  result += u':';
  if (authority) result.append(u"//").append(*authority);
  result += path;
  if (query) result.append(u"?").append(*query);
  if (reference.fragment) result.append(u"#").append(*reference.fragment);
  // Blanks at the end of it, or of what comes before its fragment, would be dropped when
  // the address is read again (as a link, or as the base of one): it would read otherwise.
  const std::u16string_view beforeFragment =
      std::u16string_view(result).substr(0, result.find(u'#'));
  if (Trim(result).size() != result.size() || Trim(beforeFragment).size() != beforeFragment.size())
    return {};
  return result;
}

bool StaysOnHost(std::u16string_view url, std::u16string_view site) {
  const std::optional<HostPort> target = WebHost(url);
  const std::optional<HostPort> own = WebHost(site);
  return target && own && target->port == own->port && EqualIgnoringCase(target->host, own->host);
}

}  // namespace pageloom
