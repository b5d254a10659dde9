// Keys and the mouse on the task table: the Delete key deletes the selected rows as the
// Delete button does; a double-click on a row opens its task's folder in the desktop's
// file manager (a task packed as a CBZ: the archive's folder). A folder that is not there
// (or that the desktop cannot open) is said in a message.
#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QModelIndex;
class QTableView;

namespace pageloom {

class CpageLoomDlg;

class TableShortcuts : public QObject {
  Q_OBJECT

 public:
  // Opens a folder; true when it could. Tests put their own in place.
  using FolderOpener = std::function<bool(const QString& folder)>;

  // Made a child of `dialog`, after its controls.
  explicit TableShortcuts(CpageLoomDlg& dialog);

  void SetFolderOpener(FolderOpener opener) { m_opener = std::move(opener); }
  // Opens the folder of the task in `row`.
  void OpenFolderOfRow(int row);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  CpageLoomDlg& m_dialog;
  QTableView* m_table;  // the dialog's, compared with but never called through here
  FolderOpener m_opener;
};

}  // namespace pageloom
