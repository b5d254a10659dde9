// Where the folder picker opens: at the save folder the box names, or, when that folder is
// not there (yet), at the nearest folder above it that is; at the home folder when the box
// is empty or names no absolute path.
#pragma once

#include <QString>

namespace pageloom {

[[nodiscard]] QString PickerStartFolder(const QString& saveFolderText);

}  // namespace pageloom
