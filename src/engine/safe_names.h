// Names that come from pages (titles, chapter names, picture names) made fit to be one
// component of a path on disk.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace pageloom {

// The most bytes one path component may take in UTF-8 on common file systems.
constexpr std::size_t kMaxComponentBytes = 255;

// The units a task folder's path leaves free for the names of its pictures when a long
// title is cut to fit ("0001.jpeg" and the like, with room to spare).
constexpr std::size_t kPictureNameRoom = 16;

// The number of bytes `text` takes in UTF-8; a lone surrogate counts as the three bytes
// of the replacement character it becomes.
[[nodiscard]] std::size_t Utf8Length(std::u16string_view text);

// The longest beginning of `component` whose UTF-8 form takes at most `maxBytes` bytes,
// never ending inside a character (a surrogate pair stays whole or goes whole).
[[nodiscard]] std::u16string CutToUtf8Bytes(std::u16string_view component,
                                            std::size_t maxBytes = kMaxComponentBytes);

// Characters that are not shown but change what is: control characters (C0, DEL, C1),
// the direction marks and overrides (U+061C, U+200E/F, U+202A-E, U+2066-9), and the
// invisible space and marks (U+200B, U+2060-4, U+FEFF). Joiners within words stay.
[[nodiscard]] bool IsHiddenControl(char16_t c);

// `text` with every hidden control character replaced by '_'.
[[nodiscard]] std::u16string ReplaceControlCharacters(std::u16string_view text);

// A picture's file name safe to store in the task folder: control characters and '/'
// become '_', a name too long is cut to kMaxComponentBytes (its extension, when it has
// a short one, kept), and a name that is then empty, "." or ".." becomes the picture's
// number written with at least three digits ("007").
[[nodiscard]] std::u16string SafePictureFileName(std::u16string_view name, int number);

}  // namespace pageloom
