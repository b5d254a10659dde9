#include "gui/window_settings.h"

#include <QAbstractButton>
#include <QAction>
#include <QHeaderView>
#include <QLineEdit>
#include <QSettings>
#include <QStandardPaths>
#include <QTableView>
#include <algorithm>
#include <optional>

#include "gui/main_dialog.h"
#include "gui/task_table_model.h"

namespace pageloom {

namespace {

// The options kept, by the object name of their check box or menu entry.
struct KeptOption {
  const char* key;
  const char* objectName;
};
constexpr KeptOption kKeptOptions[] = {
    {"options/autoRename", "ctl1010"},
    {"options/followNext", "ctl1011"},
    {"options/startAfterAdd", "startAfterAddAction"},
    {"options/autoCheckUpdates", "autoCheckUpdatesAction"},
};

constexpr char kSaveFolderKey[] = "window/saveFolder";
constexpr char kSizeKey[] = "window/size";
constexpr char kColumnsKey[] = "window/columnWidths";
// Larger than any screen: a size or width beyond it is no usable value.
constexpr int kLargest = 20000;

QLineEdit* SaveFolderBox(const CpageLoomDlg& dialog) {
  return dialog.findChild<QLineEdit*>(ControlObjectName(kIdSaveFolder));
}

// The checked state of a check box or a checkable menu entry; nothing when there is none.
std::optional<bool> Checked(const QObject* control) {
  if (const auto* button = qobject_cast<const QAbstractButton*>(control))
    return button->isChecked();
  if (const auto* action = qobject_cast<const QAction*>(control)) return action->isChecked();
  return std::nullopt;
}

void ClickTo(QObject* control, bool checked) {
  if (Checked(control).value_or(checked) == checked) return;
  if (auto* button = qobject_cast<QAbstractButton*>(control)) button->click();
  if (auto* action = qobject_cast<QAction*>(control)) action->trigger();
}

std::optional<int> Number(const QVariant& value) {
  bool ok = false;
  const int number = value.toInt(&ok);
  if (!ok || number <= 0 || number > kLargest) return std::nullopt;
  return number;
}

}  // namespace

WindowSettings::WindowSettings(QString file) : m_file(std::move(file)) {}

QString WindowSettings::DefaultFile() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
         QStringLiteral("/pageLoom/pageLoom.conf");
}

void WindowSettings::Restore(CpageLoomDlg& dialog) const {
  const QSettings kept(m_file, QSettings::IniFormat);
  if (kept.status() != QSettings::NoError) return;
  const QVariant folder = kept.value(QLatin1String(kSaveFolderKey));
  if (folder.typeId() == QMetaType::QString && !folder.toString().isEmpty())
    SaveFolderBox(dialog)->setText(folder.toString());
  for (const KeptOption& option : kKeptOptions) {
    const QVariant value = kept.value(QLatin1String(option.key));
    const QString text = value.toString();
    if (text != QLatin1String("true") && text != QLatin1String("false")) continue;
    if (QObject* control = dialog.findChild<QObject*>(QLatin1String(option.objectName)))
      ClickTo(control, text == QLatin1String("true"));
  }
  const QStringList size = kept.value(QLatin1String(kSizeKey)).toStringList();
  if (size.size() == 2) {
    const std::optional<int> width = Number(size[0]);
    const std::optional<int> height = Number(size[1]);
    if (width && height)
      dialog.resize(std::max(*width, dialog.minimumWidth()),
                    std::max(*height, dialog.minimumHeight()));
  }
  // After the size: the window's growth went to the name column, which these replace.
  const QStringList widths = kept.value(QLatin1String(kColumnsKey)).toStringList();
  QHeaderView* header = dialog.TaskTable()->horizontalHeader();
  if (widths.size() == TaskTableModel::kColumnCount) {
    for (int column = 0; column < TaskTableModel::kColumnCount; ++column)
      if (const std::optional<int> width = Number(widths[column]))
        header->resizeSection(column, *width);
  }
}

bool WindowSettings::Save(const CpageLoomDlg& dialog) const {
  QSettings kept(m_file, QSettings::IniFormat);
  kept.setValue(QLatin1String(kSaveFolderKey), SaveFolderBox(dialog)->text());
  for (const KeptOption& option : kKeptOptions) {
    const QObject* control = dialog.findChild<QObject*>(QLatin1String(option.objectName));
    if (const std::optional<bool> checked = Checked(control))
      kept.setValue(QLatin1String(option.key), *checked);
  }
  // The size of the restored window, also while it is minimised or maximised.
  QSize size = dialog.size();
  if ((dialog.isMinimized() || dialog.isMaximized() || dialog.isFullScreen()) &&
      dialog.normalGeometry().isValid())
    size = dialog.normalGeometry().size();
  if (size.isValid() && !size.isEmpty())
    kept.setValue(QLatin1String(kSizeKey),
                  QStringList{QString::number(size.width()), QString::number(size.height())});
  QStringList widths;
  const QHeaderView* header = dialog.TaskTable()->horizontalHeader();
  for (int column = 0; column < TaskTableModel::kColumnCount; ++column)
    widths << QString::number(header->sectionSize(column));
  kept.setValue(QLatin1String(kColumnsKey), widths);
  kept.sync();
  return kept.status() == QSettings::NoError;
}

}  // namespace pageloom
