// Where pageLoom keeps what outlives a run (the queue, the cookies): "pageLoom" under the
// XDG data folder ($XDG_DATA_HOME, by default ~/.local/share).
#pragma once

#include <filesystem>

namespace pageloom {

// The folder (not created here). Reads the environment at each call.
std::filesystem::path DataFolder();

}  // namespace pageloom
