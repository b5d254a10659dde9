// The width and height of a picture, read from its header only (PNG, GIF, JPEG, WebP,
// BMP). Nothing when the header cannot be read or says nothing sensible.
#pragma once

#include <filesystem>
#include <optional>

namespace pageloom {

struct PictureSize {
  int width = 0;
  int height = 0;
};

[[nodiscard]] std::optional<PictureSize> ReadPictureSize(const std::filesystem::path& file);

}  // namespace pageloom
