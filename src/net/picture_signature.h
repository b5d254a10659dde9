// Telling a picture from anything else by its first bytes, whatever its name says.
#pragma once

#include <cstddef>
#include <string_view>

namespace pageloom {

enum class PictureKind {
  kUnknown,  // not (yet) a known picture signature
  kJpeg,     // FF D8 FF
  kPng,      // 89 50 4E 47 0D 0A 1A 0A
  kGif,      // GIF87a, GIF89a
  kWebp,     // RIFF????WEBP
  kAvif,     // ????ftyp with the brand avif, avis, heic, heix or mif1
  kBmp,      // BM
  kJpegXl,   // FF 0A, or the container 00 00 00 0C 4A 58 4C 20
};

enum class SignatureVerdict {
  kPicture,     // the bytes begin with a known signature
  kNotPicture,  // no known signature can begin with these bytes
  kNeedMore,    // a signature may still follow: more bytes are needed
};

struct Sniffed {
  SignatureVerdict verdict = SignatureVerdict::kNeedMore;
  PictureKind kind = PictureKind::kUnknown;
};

// The most leading bytes any signature needs.
inline constexpr std::size_t kSignatureBytes = 12;

// Judges the first bytes of an answer. With `complete`, `head` is the whole answer and
// kNeedMore never comes back.
[[nodiscard]] Sniffed SniffPicture(std::string_view head, bool complete = false);

}  // namespace pageloom
