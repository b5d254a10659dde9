// The metadata of an EH gallery page (main form): titles, category, uploader, the
// details table and the tag list. Works on the page text as a string view and never
// reads outside it; a field the page lacks stays empty, and nothing here can fail.
#pragma once

#include <string_view>

#include "engine/comic_metadata.h"

namespace pageloom {

// Reads what the gallery page `page` gives. The address is not set here.
ComicMetadata ReadEHGalleryMetadata(std::string_view page);

}  // namespace pageloom
