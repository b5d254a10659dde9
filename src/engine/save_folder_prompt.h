// Preparing a task's folder, with the user as the fallback: when the folder cannot be
// made, the user is asked to pick one.
#pragma once

namespace pageloom {

class UserPrompt;

// `path` is a buffer of kPathCapacity units. Creates the folder with its missing
// parents and leaves the path ending in '/'; when creating fails, asks the user to pick
// a folder instead, the picker's title naming the path (again as long as the picked one
// cannot be made either). The path becomes a folder of the same name inside the picked one
// ("picked/Title/"). A cancelled picker (or a pick that would not fit the buffer) says
// "无效的目录，请重新选择" and leaves the path as it was. Returns -1 for a
// null buffer, 1 otherwise.
int PrepareSaveFolder(char16_t* path, UserPrompt& ui);

}  // namespace pageloom
