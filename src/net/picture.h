// One picture from its address into a file of a task's folder.
#pragma once

#include <string_view>

namespace pageloom {

class UserPrompt;

// Results of DownloadPicture.
constexpr int kPictureStored = 1;   // on disk: downloaded now, or there already
constexpr int kPictureFailed = -1;  // this picture failed; no file of this call is left
constexpr int kPictureStop = 0;     // downloading cannot go on (no session, limit reached, aborted)

// Downloads `url` into `folder` + `fileName`. `folder` is a task's folder buffer of
// kPathCapacity units (or null: the bare file name); it is prepared with
// PrepareSaveFolder and may be changed by it.
int DownloadPicture(std::u16string_view url, std::u16string_view fileName, char16_t* folder,
                    UserPrompt& ui);

}  // namespace pageloom
