#include "gui/picker_start.h"

#include <QDir>
#include <QFileInfo>

namespace pageloom {

QString PickerStartFolder(const QString& saveFolderText) {
  const QString text = saveFolderText.trimmed();
  if (text.isEmpty() || QDir::isRelativePath(text)) return QDir::homePath();
  QString folder = QDir::cleanPath(text);
  // Each step takes one name off the end, so the walk ends at the root at the latest.
  for (int guard = 0; guard < 4096 && !QFileInfo(folder).isDir(); ++guard) {
    const QString parent = QFileInfo(folder).path();
    if (parent == folder) return QDir::homePath();
    folder = parent;
  }
  return QFileInfo(folder).isDir() ? folder : QDir::homePath();
}

}  // namespace pageloom
