// ANSI (GB18030) <-> Unicode conversions on glibc's iconv.
//
// Each thread keeps its own pair of iconv descriptors (opened on first use, closed when
// the thread ends) and resets their state at the start of every conversion, so the
// functions here are thread-safe and cheap to call often.
#include "base/encoding.h"

#include <cerrno>
#include <cstring>

#include <iconv.h>

namespace pageloom {

namespace {

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
constexpr const char* kWideEncoding = "UTF-16BE";
#else
constexpr const char* kWideEncoding = "UTF-16LE";
#endif
constexpr const char* kAnsiEncoding = "GB18030";
constexpr const char* kCodePointEncoding = "UTF-32LE";  // bytes are written explicitly

constexpr char16_t kReplacement = 0xFFFD;
// GB18030 form of U+FFFD; it holds no zero byte.
constexpr unsigned char kAnsiReplacement[4] = {0x84, 0x31, 0xA4, 0x37};

// One iconv descriptor, owned by one thread.
class IconvDescriptor {
 public:
  IconvDescriptor(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
  ~IconvDescriptor() {
    if (Valid()) iconv_close(m_cd);
  }
  IconvDescriptor(const IconvDescriptor&) = delete;
  IconvDescriptor& operator=(const IconvDescriptor&) = delete;

  bool Valid() const { return m_cd != reinterpret_cast<iconv_t>(-1); }

  // The descriptor back in its initial shift state.
  iconv_t Reset() {
    iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
    return m_cd;
  }

 private:
  iconv_t m_cd;
};

IconvDescriptor& AnsiDecoder() {
  thread_local IconvDescriptor descriptor(kWideEncoding, kAnsiEncoding);
  return descriptor;
}

IconvDescriptor& AnsiEncoder() {
  thread_local IconvDescriptor descriptor(kAnsiEncoding, kCodePointEncoding);
  return descriptor;
}

// Without a usable descriptor ASCII still passes; everything else is replaced.
std::size_t DecodeAsciiOnly(const char* src, std::size_t n, char16_t* dst, std::size_t room) {
  std::size_t written = 0;
  for (std::size_t i = 0; i < n && written < room; ++i) {
    const auto byte = static_cast<unsigned char>(src[i]);
    dst[written++] = byte < 0x80 ? static_cast<char16_t>(byte) : kReplacement;
  }
  return written;
}

// Decodes the n bytes at `src` into at most `room` units at `dst` and returns the number
// of units written. A byte that starts no GB18030 character (or starts one that the text
// ends inside) becomes U+FFFD and decoding goes on behind it. When the room runs out the
// text is cut before the first character that does not fit whole, so a surrogate pair is
// never split.
std::size_t DecodeAnsi(const char* src, std::size_t n, char16_t* dst, std::size_t room) {
  IconvDescriptor& decoder = AnsiDecoder();
  if (!decoder.Valid()) return DecodeAsciiOnly(src, n, dst, room);
  iconv_t cd = decoder.Reset();

  char* in = const_cast<char*>(src);  // iconv's signature; the input is only read
  std::size_t inLeft = n;
  std::size_t written = 0;
  while (inLeft > 0 && written < room) {
    char* out = reinterpret_cast<char*>(dst + written);
    std::size_t outLeft = (room - written) * sizeof(char16_t);
    const std::size_t before = outLeft;
    const std::size_t result = iconv(cd, &in, &inLeft, &out, &outLeft);
    const int error = errno;
    written += (before - outLeft) / sizeof(char16_t);
    if (result != static_cast<std::size_t>(-1)) break;  // everything converted
    if (error == E2BIG) break;                          // the next character does not fit
    if (error != EILSEQ && error != EINVAL) break;      // nothing else is expected
    if (inLeft == 0 || written >= room) break;
    dst[written++] = kReplacement;
    ++in;
    --inLeft;
    decoder.Reset();
  }
  return written;
}

void AppendReplacement(std::string& out) {
  out.append(reinterpret_cast<const char*>(kAnsiReplacement), sizeof kAnsiReplacement);
}

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Length of the sequence a UTF-8 lead byte announces; 0 for a byte that leads none.
// C0/C1 and F5-F7 are counted as leads so that the whole overlong or out-of-range
// sequence they begin gives a single replacement.
std::size_t SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead < 0xC0) return 0;
  if (lead < 0xE0) return 2;
  if (lead < 0xF0) return 3;
  if (lead < 0xF8) return 4;
  return 0;
}

}  // namespace

void ToWide(char16_t* dst, std::size_t capacity, const char* src) {
  if (src == nullptr || capacity == 0) return;
  const std::size_t units = DecodeAnsi(src, std::strlen(src), dst, capacity - 1);
  dst[units] = 0;
}

std::u16string AnsiToWide(std::string_view text) {
  // Every byte gives at most one unit: a one-byte character one, a two-byte character
  // one, a four-byte character at most two, a bad byte one replacement.
  std::u16string wide(text.size(), u'\0');
  wide.resize(DecodeAnsi(text.data(), text.size(), wide.data(), wide.size()));
  return wide;
}

void CodeConverter::Utf8ToAnsi(std::string& out, const char* src, int length) {
  out.clear();
  if (src == nullptr || length <= 0) return;
  const auto* s = reinterpret_cast<const unsigned char*>(src);
  const auto n = static_cast<std::size_t>(length);
  out.reserve(n + n / 4 + 2);

  static constexpr char32_t kSmallest[5] = {0, 0, 0x80, 0x800, 0x10000};
  unsigned char form[4];
  std::size_t i = 0;
  while (i < n) {
    const unsigned char lead = s[i];
    if (lead == 0) break;  // the text ends at its first zero byte
    if (lead < 0x80) {
      out.push_back(static_cast<char>(lead));
      ++i;
      continue;
    }
    const std::size_t len = SequenceLength(lead);
    if (len == 0) {  // a stray continuation byte or F8-FF
      AppendReplacement(out);
      ++i;
      continue;
    }
    std::size_t got = 1;
    while (got < len && i + got < n && IsContinuation(s[i + got])) ++got;
    if (got < len) {  // cut short by the end of the text or by a byte that continues nothing
      AppendReplacement(out);
      i += got;
      continue;
    }

    char32_t character;
    if (len == 2) {
      character = (char32_t(lead & 0x1F) << 6) | (s[i + 1] & 0x3F);
    } else if (len == 3) {
      unsigned char unit[2];
      character = DecodeUtf8Triple(unit, s + i);
    } else {
      character = (char32_t(lead & 0x07) << 18) | (char32_t(s[i + 1] & 0x3F) << 12) |
                  (char32_t(s[i + 2] & 0x3F) << 6) | (s[i + 3] & 0x3F);
    }
    i += len;

    const bool overlong = character < kSmallest[len];
    const bool surrogate = character >= 0xD800 && character <= 0xDFFF;
    const int count =
        overlong || surrogate || character > 0x10FFFF ? 0 : UnitToAnsi(form, character);
    if (count <= 0) {
      AppendReplacement(out);
    } else {
      out.append(reinterpret_cast<const char*>(form), static_cast<std::size_t>(count));
    }
  }
}

char16_t CodeConverter::DecodeUtf8Triple(unsigned char out[2], const unsigned char* src) {
  const auto high = static_cast<unsigned char>(((src[0] & 0x0F) << 4) + ((src[1] >> 2) & 0x0F));
  const auto low = static_cast<unsigned char>(((src[1] & 0x03) << 6) + (src[2] & 0x3F));
  out[0] = low;
  out[1] = high;
  return static_cast<char16_t>(high * 256 + low);
}

int CodeConverter::UnitToAnsi(unsigned char out[4], char32_t character) {
  if (character < 0x80) {
    out[0] = static_cast<unsigned char>(character);
    return 1;
  }
  if ((character >= 0xD800 && character <= 0xDFFF) || character > 0x10FFFF) return 0;
  IconvDescriptor& encoder = AnsiEncoder();
  if (!encoder.Valid()) return 0;
  iconv_t cd = encoder.Reset();

  char in[4] = {static_cast<char>(character & 0xFF), static_cast<char>((character >> 8) & 0xFF),
                static_cast<char>((character >> 16) & 0xFF), static_cast<char>(character >> 24)};
  char buffer[4];
  char* inPos = in;
  char* outPos = buffer;
  std::size_t inLeft = sizeof in;
  std::size_t outLeft = sizeof buffer;
  if (iconv(cd, &inPos, &inLeft, &outPos, &outLeft) == static_cast<std::size_t>(-1)) return 0;
  const std::size_t count = sizeof buffer - outLeft;
  std::memcpy(out, buffer, count);
  return static_cast<int>(count);
}

}  // namespace pageloom
