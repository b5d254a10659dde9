#include "net/picture.h"

namespace pageloom {

int DownloadPicture(std::u16string_view, std::u16string_view, char16_t*, UserPrompt&) {
  return kPictureStop;
}

}  // namespace pageloom
