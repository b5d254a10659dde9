// Diagnostics the user never sees: one line on standard error, written only when the
// environment variable PAGELOOM_DEBUG is set (to anything but "0").
#pragma once

#include <string_view>

namespace pageloom {

bool DebugEnabled();
void DebugLine(std::u16string_view text);
void DebugLine(std::string_view utf8);

}  // namespace pageloom
