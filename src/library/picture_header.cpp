#include "library/picture_header.h"

#include <array>
#include <cstdint>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace pageloom {

namespace {

// A file read by position; closes itself.
class HeaderFile {
 public:
  explicit HeaderFile(const std::filesystem::path& path)
      : m_fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW)) {}
  ~HeaderFile() {
    if (m_fd >= 0) ::close(m_fd);
  }
  HeaderFile(const HeaderFile&) = delete;
  HeaderFile& operator=(const HeaderFile&) = delete;
  bool Ok() const { return m_fd >= 0; }
  // Reads exactly `size` bytes at `offset`; false when the file is shorter.
  bool Read(std::uint64_t offset, unsigned char* out, std::size_t size) const {
    std::size_t done = 0;
    while (done < size) {
      const ssize_t n = ::pread(m_fd, out + done, size - done, static_cast<off_t>(offset + done));
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    return true;
  }

 private:
  int m_fd;
};

std::uint32_t Big16(const unsigned char* p) { return (p[0] << 8) | p[1]; }
std::uint32_t Big32(const unsigned char* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (p[2] << 8) | p[3];
}
std::uint32_t Little16(const unsigned char* p) { return p[0] | (p[1] << 8); }
std::uint32_t Little24(const unsigned char* p) { return p[0] | (p[1] << 8) | (p[2] << 16); }
std::int32_t Little32(const unsigned char* p) {
  return static_cast<std::int32_t>(p[0] | (p[1] << 8) | (p[2] << 16) |
                                   (static_cast<std::uint32_t>(p[3]) << 24));
}

std::optional<PictureSize> Sized(std::int64_t width, std::int64_t height) {
  if (width <= 0 || height <= 0 || width > 1000000 || height > 1000000) return std::nullopt;
  return PictureSize{static_cast<int>(width), static_cast<int>(height)};
}

// Walks the segments of a JPEG up to its first frame header.
std::optional<PictureSize> JpegSize(const HeaderFile& file) {
  std::uint64_t at = 2;
  for (int segments = 0; segments < 1000; ++segments) {
    unsigned char head[4];
    if (!file.Read(at, head, 2)) return std::nullopt;
    if (head[0] != 0xFF) return std::nullopt;
    const unsigned marker = head[1];
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
      at += 2;
      continue;
    }
    if (!file.Read(at + 2, head + 2, 2)) return std::nullopt;
    const std::uint32_t length = Big16(head + 2);
    if (length < 2) return std::nullopt;
    const bool frame =
        marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (frame) {
      unsigned char sof[5];
      if (length < 7 || !file.Read(at + 4, sof, sizeof sof)) return std::nullopt;
      return Sized(Big16(sof + 3), Big16(sof + 1));
    }
    if (marker == 0xD9 || marker == 0xDA) return std::nullopt;  // no frame before the data
    at += 2 + length;
  }
  return std::nullopt;
}

std::optional<PictureSize> WebpSize(const HeaderFile& file) {
  unsigned char chunk[30];
  if (!file.Read(0, chunk, sizeof chunk)) return std::nullopt;
  if (std::memcmp(chunk + 12, "VP8 ", 4) == 0) {
    if (chunk[23] != 0x9D || chunk[24] != 0x01 || chunk[25] != 0x2A) return std::nullopt;
    return Sized(Little16(chunk + 26) & 0x3FFF, Little16(chunk + 28) & 0x3FFF);
  }
  if (std::memcmp(chunk + 12, "VP8L", 4) == 0) {
    if (chunk[20] != 0x2F) return std::nullopt;
    const std::uint32_t bits = static_cast<std::uint32_t>(Little32(chunk + 21));
    return Sized((bits & 0x3FFF) + 1, ((bits >> 14) & 0x3FFF) + 1);
  }
  if (std::memcmp(chunk + 12, "VP8X", 4) == 0)
    return Sized(std::int64_t{Little24(chunk + 24)} + 1, std::int64_t{Little24(chunk + 27)} + 1);
  return std::nullopt;
}

}  // namespace

std::optional<PictureSize> ReadPictureSize(const std::filesystem::path& path) {
  const HeaderFile file(path);
  if (!file.Ok()) return std::nullopt;
  std::array<unsigned char, 26> h{};
  if (!file.Read(0, h.data(), 12)) return std::nullopt;
  if (h[0] == 0xFF && h[1] == 0xD8) return JpegSize(file);
  if (std::memcmp(h.data(), "\x89PNG\r\n\x1a\n", 8) == 0) {
    if (!file.Read(0, h.data(), 24) || std::memcmp(h.data() + 12, "IHDR", 4) != 0)
      return std::nullopt;
    return Sized(Big32(h.data() + 16), Big32(h.data() + 20));
  }
  if (std::memcmp(h.data(), "GIF87a", 6) == 0 || std::memcmp(h.data(), "GIF89a", 6) == 0)
    return Sized(Little16(h.data() + 6), Little16(h.data() + 8));
  if (std::memcmp(h.data(), "RIFF", 4) == 0 && std::memcmp(h.data() + 8, "WEBP", 4) == 0)
    return WebpSize(file);
  if (h[0] == 'B' && h[1] == 'M') {
    if (!file.Read(0, h.data(), 26)) return std::nullopt;
    const std::int32_t height = Little32(h.data() + 22);
    return Sized(Little32(h.data() + 18), height < 0 ? -std::int64_t{height} : height);
  }
  return std::nullopt;
}

}  // namespace pageloom
