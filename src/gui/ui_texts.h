// The window's words for what the logic tells it: messages, picker titles, status words,
// progress and failure reasons. The source texts are the window's Chinese ones; the window
// shows them in the language in effect. Texts that come from pages (folder names) are
// never translated, and always shown as plain text.
#pragma once

#include <QString>
#include <cstdint>

#include "engine/task_snapshot.h"
#include "engine/user_prompt.h"
#include "library/cbz_packer.h"

namespace pageloom {

// A message or picker title in the language in effect.
[[nodiscard]] QString MessageText(const Message& message);
// "pageLoom 已在运行。" in the language in effect.
[[nodiscard]] QString AlreadyRunningText();
// The status column as the table writes it, in Chinese ("准备中", "未完成，缺3张", ...).
[[nodiscard]] QString StatusSource(const TaskSnapshot& snapshot);
// The same in the language in effect.
[[nodiscard]] QString StatusShown(const TaskSnapshot& snapshot);
// The progress column: "%d/%d" of the file number and the picture count.
[[nodiscard]] QString ProgressSource(const TaskSnapshot& snapshot);
// Why a folder was not packed, in the language in effect.
[[nodiscard]] QString PackRefusalText(const PackResult& result);
// Why something failed, in the language in effect: "HTTP 404", "timed out", ...
[[nodiscard]] QString ReasonText(const FailureReason& reason);
// What the status cell's tooltip says: the status, then each missing picture with its
// reason (the first few of them), or the last failure.
[[nodiscard]] QString StatusDetail(const TaskSnapshot& snapshot);

// A tooltip that shows `text` as it is: whatever looks like markup in it is shown, never
// interpreted (so it never loads a file named in it).
[[nodiscard]] QString PlainToolTip(const QString& text);

// A byte count for people: "512 B", "34.5 KB", "1.2 MB", "3.40 GB".
[[nodiscard]] QString ByteCountText(std::uint64_t bytes);

}  // namespace pageloom
