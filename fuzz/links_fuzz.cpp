// Random base addresses and references through ResolveReference and StaysOnHost: the
// result is refused ("") or an absolute address that resolves to itself again, and a
// reference without a scheme or an authority never leaves the base's host.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/links.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool IsAbsolute(const std::u16string& url) {
  const pageloom::UrlParts parts = pageloom::SplitUrl(url);
  return parts.scheme.has_value() &&
         url.compare(0, parts.scheme->size() + 1, std::u16string(*parts.scheme) + u":") == 0;
}

// Bytes as UTF-16 units; a few bytes stand for the characters that matter in addresses.
std::u16string Units(const uint8_t* data, size_t size) {
  static const char16_t kSpecial[] = u"/.:?#@[]\\%";
  std::u16string text;
  for (size_t k = 0; k < size; ++k) {
    const uint8_t b = data[k];
    if (b >= 0xF0 && b - 0xF0u < sizeof kSpecial / sizeof kSpecial[0] - 1) {
      text += kSpecial[b - 0xF0];
    } else if (b == 0xEF && k + 1 < size) {
      text += static_cast<char16_t>(0xD800 | data[++k]);  // surrogates and the rest of the BMP
    } else {
      text += static_cast<char16_t>(b);
    }
  }
  return text;
}

// What ResolveReference drops around a reference before reading it.
std::u16string Trimmed(std::u16string text) {
  const auto blank = [](char16_t c) { return c <= 0x20 || c == 0x7F; };
  while (!text.empty() && blank(text.back())) text.pop_back();
  size_t start = 0;
  while (start < text.size() && blank(text[start])) ++start;
  return text.substr(start);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t split = data[0] % (size);
  const std::u16string fixedBases[] = {u"http://a/b/c/d;p?q", u"https://manhua.dmzj.com",
                                       u"http://127.0.0.1:8080/dmzj/c/1.shtml"};
  const bool ownBase = data[0] & 0x80;
  const std::u16string base = ownBase ? Units(data + 1, split) : fixedBases[data[0] % 3];
  const std::u16string reference = Units(data + 1 + split, size - 1 - split);

  const std::u16string resolved = pageloom::ResolveReference(base, reference);
  if (resolved.empty()) return 0;
  Check(IsAbsolute(resolved));
  // An absolute address, dot segments removed, resolves to itself (fragment and all).
  Check(pageloom::ResolveReference(base, resolved) == resolved);
  Check(pageloom::ResolveReference(resolved, u"") == resolved.substr(0, resolved.find(u'#')));

  const std::u16string trimmed = Trimmed(reference);
  const pageloom::UrlParts parts = pageloom::SplitUrl(trimmed);
  const bool relativePath = !parts.scheme && !parts.authority;
  const bool baseIsWeb = pageloom::StaysOnHost(base, base);
  if (relativePath && baseIsWeb) Check(pageloom::StaysOnHost(resolved, base));
  if (pageloom::StaysOnHost(resolved, base)) Check(baseIsWeb);
  return 0;
}
