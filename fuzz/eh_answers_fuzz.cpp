// Arbitrary bytes as what the EH site answers: the ban, limit and second-server readers.
// The bytes are copied into a buffer of exactly their size, so a read past them is caught
// by AddressSanitizer; what they return must hold the rules they promise.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "sites/eh/eh_answers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<char> bytes(data, data + size);
  const std::string_view text(bytes.data(), bytes.size());

  (void)pageloom::IsEhLimitText(text);

  const auto ban = pageloom::ParseEhBan(text);
  if (ban) {
    if (ban->count() < 0 || *ban > std::chrono::hours(24 * 365)) std::abort();
  } else if (text.find(pageloom::kEhBanText) != std::string_view::npos) {
    std::abort();  // a ban page always gives a length
  }

  const auto key = pageloom::ParseEhReloadKey(text);
  if (key) {
    if (key->empty() || key->size() > 128 || text.find(*key) == std::string_view::npos)
      std::abort();
    for (const char c : *key) {
      const bool allowed = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
                           (c >= 'A' && c <= 'Z') || c == '-' || c == '_';
      if (!allowed) std::abort();
    }
    const std::u16string address = pageloom::EhReloadAddress(u"https://x/s/1-1?a#b", *key);
    if (address.find(u'#') != std::u16string::npos) std::abort();
  }
  return 0;
}
