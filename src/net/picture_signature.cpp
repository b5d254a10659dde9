#include "net/picture_signature.h"

#include <algorithm>
#include <array>

namespace pageloom {

namespace {

// A signature: bytes to match; those in [anyFrom, anyTo) match any byte.
struct Signature {
  std::string_view bytes;
  PictureKind kind;
  std::size_t anyFrom = 0;
  std::size_t anyTo = 0;
};

using namespace std::string_view_literals;

constexpr std::array<Signature, 13> kSignatures{{
    {"\xFF\xD8\xFF"sv, PictureKind::kJpeg},
    {"\x89PNG\r\n\x1A\n"sv, PictureKind::kPng},
    {"GIF87a"sv, PictureKind::kGif},
    {"GIF89a"sv, PictureKind::kGif},
    {"RIFF????WEBP"sv, PictureKind::kWebp, 4, 8},
    {"????ftypavif"sv, PictureKind::kAvif, 0, 4},
    {"????ftypavis"sv, PictureKind::kAvif, 0, 4},
    {"????ftypheic"sv, PictureKind::kAvif, 0, 4},
    {"????ftypheix"sv, PictureKind::kAvif, 0, 4},
    {"????ftypmif1"sv, PictureKind::kAvif, 0, 4},
    {"BM"sv, PictureKind::kBmp},
    {"\xFF\x0A"sv, PictureKind::kJpegXl},
    {"\x00\x00\x00\x0CJXL "sv, PictureKind::kJpegXl},
}};

// Whether every byte of `head` that the signature covers matches it.
bool Agrees(std::string_view head, const Signature& signature) {
  const std::size_t n = std::min(head.size(), signature.bytes.size());
  for (std::size_t i = 0; i < n; ++i) {
    if (i >= signature.anyFrom && i < signature.anyTo) continue;
    if (head[i] != signature.bytes[i]) return false;
  }
  return true;
}

}  // namespace

Sniffed SniffPicture(std::string_view head, bool complete) {
  bool mayFollow = false;
  for (const Signature& signature : kSignatures) {
    if (!Agrees(head, signature)) continue;
    if (head.size() >= signature.bytes.size())
      return Sniffed{SignatureVerdict::kPicture, signature.kind};
    mayFollow = true;
  }
  if (mayFollow && !complete) return Sniffed{SignatureVerdict::kNeedMore, PictureKind::kUnknown};
  return Sniffed{SignatureVerdict::kNotPicture, PictureKind::kUnknown};
}

}  // namespace pageloom
