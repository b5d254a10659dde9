#include "tasks/comic.h"

namespace pageloom {

// The DMZJ chapter step; filled in with the DMZJ adapter.
int ComicDMZJ::DownloadNext(PageBuffer&, UserPrompt&) { return 0; }
int ComicDMZJ::LoadPictureList(PageBuffer&) { return 0; }

}  // namespace pageloom
