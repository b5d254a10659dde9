// Random bytes through Utf8ToAnsi and ToWide with small capacities. Checks that nothing is
// read or written outside its buffer, that the ANSI text never holds a zero byte, that
// wide text is always terminated and never ends in half a surrogate pair, and that
// well-formed UTF-8 comes back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "base/encoding.h"
#include "base/fixed_text.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckWide(const char16_t* wide, std::size_t capacity) {
  std::size_t n = 0;
  while (n < capacity && wide[n] != 0) ++n;
  Check(n < capacity);  // terminated inside the capacity
  for (std::size_t k = 0; k < n; ++k) {
    const char16_t u = wide[k];
    if (u >= 0xD800 && u <= 0xDBFF) {
      Check(k + 1 < n && wide[k + 1] >= 0xDC00 && wide[k + 1] <= 0xDFFF);
      ++k;
    } else {
      Check(!(u >= 0xDC00 && u <= 0xDFFF));
    }
  }
}

// ToWide into a heap block of exactly `capacity` units.
void WideInto(std::size_t capacity, const char* text) {
  std::unique_ptr<char16_t[]> buffer(new char16_t[capacity]);
  pageloom::ToWide(buffer.get(), capacity, text);
  CheckWide(buffer.get(), capacity);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::size_t capacity = data[0] % 12 + 1;
  ++data;
  --size;

  // Exactly `size` bytes, no terminator: Utf8ToAnsi must stay inside them.
  std::unique_ptr<char[]> exact(new char[size > 0 ? size : 1]);
  if (size > 0) std::memcpy(exact.get(), data, size);
  std::string ansi;
  pageloom::CodeConverter converter;
  converter.Utf8ToAnsi(ansi, exact.get(), static_cast<int>(size));
  Check(ansi.find('\0') == std::string::npos);

  WideInto(capacity, ansi.c_str());
  const std::u16string whole = pageloom::AnsiToWide(ansi);
  CheckWide(whole.c_str(), whole.size() + 1);

  // Well-formed UTF-8 (up to its first zero byte) comes back as it went in, unless a
  // character had no form in the code page and was replaced.
  const std::string_view text(reinterpret_cast<const char*>(data), strnlen(exact.get(), size));
  const std::u16string unicode = pageloom::FromUtf8(text);
  if (pageloom::ToUtf8(unicode) == text && whole.find(u'\uFFFD') == std::u16string::npos) {
    Check(whole == unicode);
  }

  // The raw bytes as ANSI text.
  std::string terminated(reinterpret_cast<const char*>(data), size);
  WideInto(capacity, terminated.c_str());
  if (size >= 3) {
    unsigned char unit[2];
    converter.DecodeUtf8Triple(unit, data);
  }
  return 0;
}
