#include "net/save_folder.h"

namespace pageloom {

int PrepareSaveFolder(char16_t* path, UserPrompt&) { return path ? 1 : -1; }

}  // namespace pageloom
