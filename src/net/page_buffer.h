// The page buffer: one fetched page as zero-terminated 8-bit text.
#pragma once

#include <array>
#include <cstddef>

namespace pageloom {

constexpr std::size_t kPageBufferSize = 102400;  // terminator included
using PageBuffer = std::array<char, kPageBufferSize>;

}  // namespace pageloom
