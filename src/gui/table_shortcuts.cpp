#include "gui/table_shortcuts.h"

#include <QDesktopServices>
#include <QDir>
#include <QKeyEvent>
#include <QPushButton>
#include <QTableView>
#include <QUrl>
#include <filesystem>
#include <system_error>

#include "gui/main_dialog.h"
#include "gui/task_table_model.h"
#include "library/cbz_packer.h"

namespace pageloom {

namespace {

bool OpenWithDesktop(const QString& folder) {
  return QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

}  // namespace

TableShortcuts::TableShortcuts(CpageLoomDlg& dialog)
    : QObject(&dialog), m_dialog(dialog), m_table(dialog.TaskTable()), m_opener(OpenWithDesktop) {
  setObjectName(QStringLiteral("tableShortcuts"));
  QTableView* table = m_table;
  table->installEventFilter(this);
  connect(table, &QAbstractItemView::doubleClicked, this,
          [this](const QModelIndex& index) { OpenFolderOfRow(index.row()); });
}

bool TableShortcuts::eventFilter(QObject* watched, QEvent* event) {
  // The table's events reach this filter until the table itself goes, which is after the
  // dialog's own part is gone: only a key press, which comes while the dialog lives,
  // reaches into it.
  if (watched == m_table && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Delete && key->modifiers() == Qt::NoModifier) {
      if (auto* button = m_dialog.findChild<QPushButton*>(ControlObjectName(kIdDelete)))
        button->click();
      return true;
    }
  }
  return QObject::eventFilter(watched, event);
}

void TableShortcuts::OpenFolderOfRow(int row) {
  const QString folder = m_dialog.TableModel().Text(row, 1);
  if (folder.isEmpty()) return;
  if (QDir(folder).exists() && m_opener(folder)) return;
  // A task packed as a CBZ has its archive beside where its folder was.
  const std::filesystem::path archive = ArchivePathFor(folder.toStdString());
  std::error_code ec;
  if (std::filesystem::is_regular_file(archive, ec) &&
      m_opener(QString::fromStdString(archive.parent_path().string())))
    return;
  m_dialog.ShowMessage(Message{MessageKind::kCannotOpenFolder, {folder.toStdU16String()}});
}

}  // namespace pageloom
