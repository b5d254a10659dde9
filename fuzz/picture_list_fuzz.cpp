// Random evaluated texts through AppendPictureList: the list changes all at once or not
// at all, never grows past the limit, and its new entries are the prefix followed by the
// pieces of the quoted text, cleaned of quotes and backslashes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <list>
#include <string>

#include "script/picture_list.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const std::size_t maxEntries =
      data[0] % 16 + (data[1] & 1 ? pageloom::kMaxPictureEntries - 8 : 0);
  const std::u16string prefix = data[1] & 2 ? u"https://p.example/" : u"";
  data += 2;
  size -= 2;
  // Pairs of bytes as UTF-16 units; a few bytes stand for the characters that matter.
  std::u16string value;
  for (std::size_t k = 0; k + 1 < size; k += 2) {
    switch (data[k]) {
      case 0:
        value += u'"';
        break;
      case 1:
        value += u',';
        break;
      case 2:
        value += u'\\';
        break;
      default:
        value += static_cast<char16_t>(data[k] | data[k + 1] << 8);
    }
  }

  const std::list<std::u16string> before{u"kept"};
  std::list<std::u16string> list = before;
  const auto result = pageloom::AppendPictureList(value, prefix, list, maxEntries);

  const std::size_t first = value.find(u'"');
  if (first == std::u16string::npos) {
    Check(result == pageloom::PictureListResult::kNoQuote && list == before);
    return 0;
  }
  std::u16string cleaned;
  for (char16_t c : value.substr(first, value.rfind(u'"') - first))
    if (c != u'"' && c != u'\\') cleaned += c;
  const auto pieces =
      static_cast<std::size_t>(std::count(cleaned.begin(), cleaned.end(), u',')) + 1;
  if (pieces > maxEntries) {
    Check(result == pageloom::PictureListResult::kTooMany && list == before);
    return 0;
  }
  Check(result == pageloom::PictureListResult::kAppended);
  Check(list.size() == before.size() + pieces && list.front() == u"kept");
  std::u16string joined;
  for (auto it = std::next(list.begin()); it != list.end(); ++it) {
    Check(it->compare(0, prefix.size(), prefix) == 0);
    if (it != std::next(list.begin())) joined += u',';
    joined += it->substr(prefix.size());
  }
  Check(joined == cleaned);
  return 0;
}
