// The texts of the logic as the window shows them. The logic speaks Chinese: its
// messages, picker titles and status words reach the window as they are written, and
// the window shows them in the language in effect. Texts it does not know (the names of
// folders, which come from pages) are shown as they are, never translated, and always
// as plain text.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>
#include <string_view>

namespace pageloom {

// A message or picker title of the logic in the language in effect.
[[nodiscard]] QString CoreMessage(std::u16string_view text);
// A status word of the table ("准备中", "已完成", "未完成，缺N张", ...) in the language in
// effect; any other text as it is.
[[nodiscard]] QString StatusText(const QString& status);
// N of a status "未完成，缺N张" (a task that ended with N pictures missing), or nothing.
[[nodiscard]] std::optional<int> MissingPictures(const QString& status);
// True for the status of a task that has ended with all its pictures ("已完成").
[[nodiscard]] bool IsFinishedStatus(const QString& status);

// A tooltip that shows `text` as it is: whatever looks like markup in it is shown, never
// interpreted (so it never loads a file named in it).
[[nodiscard]] QString PlainToolTip(const QString& text);

// A byte count for people: "512 B", "34.5 KB", "1.2 MB", "3.40 GB".
[[nodiscard]] QString ByteCountText(std::uint64_t bytes);

}  // namespace pageloom
