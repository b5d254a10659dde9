#include "tasks/comic.h"

namespace pageloom {

// The EH gallery step; filled in with the EH adapter.
int Comic::DownloadNext(PageBuffer&, UserPrompt&) { return 0; }

}  // namespace pageloom
