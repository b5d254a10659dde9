// Making sure a task's folder exists before anything is written into it.
#pragma once

namespace pageloom {

class UserPrompt;

// `path` is a buffer of kPathCapacity units. Creates the folder with its missing
// parents and leaves the path ending in '/'; when creating fails, asks the user to pick
// a folder instead. Returns -1 for a null buffer, 1 otherwise.
int PrepareSaveFolder(char16_t* path, UserPrompt& ui);

}  // namespace pageloom
