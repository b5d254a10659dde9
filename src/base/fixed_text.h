// Fixed-capacity wide text, as kept inside task records and passed between the parts
// of the program. Capacities count UTF-16 units and include the terminating zero.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace pageloom {

constexpr std::size_t kUrlCapacity = 2048;    // addresses
constexpr std::size_t kPathCapacity = 260;    // folder and file paths
constexpr std::size_t kRowTextCapacity = 20;  // texts written into table cells

// Length of a zero-terminated wide text, never looking past `capacity` units.
std::size_t WideLength(const char16_t* text, std::size_t capacity);

// Copies `src` into `dst` (capacity units, terminator included) and terminates it.
// Text that does not fit is cut at capacity - 1 units, never inside a surrogate pair.
// Returns the number of units written, terminator excluded. Nothing is written when
// capacity is 0.
std::size_t CopyWide(char16_t* dst, std::size_t capacity, std::u16string_view src);

// `src` as CopyWide would leave it in a buffer of `capacity` units: up to its first zero,
// cut at capacity - 1 units, never inside a surrogate pair.
std::u16string CutWide(std::u16string_view src, std::size_t capacity);

// Appends `src` behind the text already in `dst`, with the same cutting rule.
std::size_t AppendWide(char16_t* dst, std::size_t capacity, std::u16string_view src);

// Text of a terminated wide buffer of the given capacity.
std::u16string_view WideView(const char16_t* text, std::size_t capacity);

// UTF-8 <-> UTF-16 for program-internal text (paths, addresses, messages). Malformed
// input becomes U+FFFD; these never read outside the given text.
std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view text);

// Decimal text of an int as wide text ("%d").
std::u16string WideNumber(int value);

}  // namespace pageloom
