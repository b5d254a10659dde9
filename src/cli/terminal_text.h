// Text for a terminal: what a character occupies on screen, lines cut to a width,
// control characters kept out, and the small formats of the progress display.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace pageloom::cli {

// Columns a character takes: 2 for East Asian wide and full-width ones, 0 for combining
// marks, 1 otherwise.
[[nodiscard]] int CellWidth(char32_t c);
// Columns a text takes.
[[nodiscard]] int TextWidth(std::u16string_view text);
// The longest start of `text` that takes at most `width` columns; a text that had to be
// cut ends in "…" within them.
[[nodiscard]] std::u16string FitToWidth(std::u16string_view text, int width);

// `text` with every hidden control character (C0 but the line feed, DEL, C1, direction
// overrides and marks) written out as "\u202E", so that page texts can neither move the
// cursor, change the terminal nor turn what is shown around. Without `keepNewlines`, line
// feeds become spaces.
[[nodiscard]] std::u16string Printable(std::u16string_view text, bool keepNewlines = false);

// "512 B", "12.3 KiB", "4.0 MiB", "1.2 GiB".
[[nodiscard]] std::string ByteSize(std::uint64_t bytes);

}  // namespace pageloom::cli
