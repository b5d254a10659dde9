// Text cut out of a page, made plain: for metadata that is written into files as text.
#pragma once

#include <string>
#include <string_view>

namespace pageloom {

// Markup as plain text: tags removed, entities decoded (named ones of the usual kind and
// numeric ones), runs of white space made one blank, blanks at the ends dropped, control
// characters and bytes that are no UTF-8 replaced. Always valid UTF-8.
std::string PlainText(std::string_view markup);

}  // namespace pageloom
