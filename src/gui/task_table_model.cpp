#include "gui/task_table_model.h"

#include <QCoreApplication>
#include <algorithm>

#include "gui/ui_texts.h"

namespace pageloom {

namespace {

struct ColumnLayout {
  const char* header;  // UTF-8
  int width;           // pixels
};

constexpr ColumnLayout kColumns[TaskTableModel::kColumnCount] = {
    {QT_TRANSLATE_NOOP("pageloom::TaskTableModel", "编号"), 37},
    {QT_TRANSLATE_NOOP("pageloom::TaskTableModel", "名称"), 400},
    {QT_TRANSLATE_NOOP("pageloom::TaskTableModel", "进度"), 60},
    {QT_TRANSLATE_NOOP("pageloom::TaskTableModel", "状态"), 50}};
constexpr int kProgressColumn = 2;
constexpr int kStatusColumn = 3;

bool ValidColumn(int column) { return column >= 0 && column < TaskTableModel::kColumnCount; }

}  // namespace

TaskTableModel::TaskTableModel(QObject* parent) : QAbstractTableModel(parent) {}

QString TaskTableModel::ColumnHeader(int column) {
  return ValidColumn(column) ? QString::fromUtf8(kColumns[column].header) : QString();
}

int TaskTableModel::ColumnWidth(int column) {
  return ValidColumn(column) ? kColumns[column].width : 0;
}

int TaskTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int TaskTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QVariant TaskTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount() || !ValidColumn(index.column())) return {};
  const Row& row = m_rows[static_cast<size_t>(index.row())];
  switch (role) {
    case Qt::DisplayRole:
      return Shown(row, index.column());
    case Qt::ToolTipRole:
      // Folder names come from pages: never let a tooltip take them for markup.
      return PlainToolTip(Shown(row, index.column()));
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    default:
      return {};
  }
}

QVariant TaskTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || !ValidColumn(section)) return {};
  if (role == Qt::DisplayRole) return tr(kColumns[section].header);
  if (role == Qt::TextAlignmentRole) {
    return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
  }
  return {};
}

Qt::ItemFlags TaskTableModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

void TaskTableModel::AppendRow(const QString& number) {
  const int row = rowCount();
  beginInsertRows(QModelIndex(), row, row);
  Row added;
  added.taskNo = ParseTaskNumber(number);
  added.texts[0] = number;
  m_rows.push_back(std::move(added));
  endInsertRows();
}

void TaskTableModel::SetText(int row, int column, const QString& text) {
  if (row < 0 || row >= rowCount() || !ValidColumn(column)) return;
  Row& target = m_rows[static_cast<size_t>(row)];
  target.texts[static_cast<size_t>(column)] = text;
  if (column == 0) target.taskNo = ParseTaskNumber(text);
  if (column == kProgressColumn) target.inFlight.reset();
  const QModelIndex cell = index(row, column);
  emit dataChanged(cell, cell, {Qt::DisplayRole, Qt::ToolTipRole});
}

void TaskTableModel::RemoveRow(int row) {
  if (row < 0 || row >= rowCount()) return;
  beginRemoveRows(QModelIndex(), row, row);
  m_rows.erase(m_rows.begin() + row);
  endRemoveRows();
}

QString TaskTableModel::Text(int row, int column) const {
  if (row < 0 || row >= rowCount() || !ValidColumn(column)) return {};
  return m_rows[static_cast<size_t>(row)].texts[static_cast<size_t>(column)];
}

int TaskTableModel::RowOfTask(int taskNo) const {
  for (size_t i = 0; i < m_rows.size(); ++i) {
    if (m_rows[i].taskNo == taskNo) return static_cast<int>(i);
  }
  return -1;
}

bool TaskTableModel::SetTaskProgress(int taskNo, const QString& progress, const QString& status) {
  const int row = RowOfTask(taskNo);
  if (row < 0) return false;
  Row& target = m_rows[static_cast<size_t>(row)];
  target.texts[kProgressColumn] = progress;
  target.texts[kStatusColumn] = status;
  target.inFlight.reset();
  emit dataChanged(index(row, kProgressColumn), index(row, kStatusColumn),
                   {Qt::DisplayRole, Qt::ToolTipRole});
  return true;
}

bool TaskTableModel::SetPictureBytes(int taskNo, std::uint64_t received, std::int64_t total) {
  const int row = RowOfTask(taskNo);
  if (row < 0) return false;
  m_rows[static_cast<size_t>(row)].inFlight = PictureBytes{received, total};
  const QModelIndex cell = index(row, kProgressColumn);
  emit dataChanged(cell, cell, {Qt::DisplayRole, Qt::ToolTipRole});
  return true;
}

void TaskTableModel::Retranslate() {
  emit headerDataChanged(Qt::Horizontal, 0, kColumnCount - 1);
  if (!m_rows.empty())
    emit dataChanged(index(0, kStatusColumn), index(rowCount() - 1, kStatusColumn),
                     {Qt::DisplayRole, Qt::ToolTipRole});
}

QString TaskTableModel::Shown(const Row& row, int column) const {
  const QString& text = row.texts[static_cast<size_t>(column)];
  if (column == kStatusColumn) return StatusText(text);
  if (column != kProgressColumn || !row.inFlight) return text;
  const PictureBytes& bytes = *row.inFlight;
  if (bytes.total > 0) {
    const double share = static_cast<double>(bytes.received) / static_cast<double>(bytes.total);
    const int percent = static_cast<int>(std::min(1.0, share) * 100.0);
    return QStringLiteral("%1 (%2%)").arg(text, QString::number(percent));
  }
  return QStringLiteral("%1 (%2)").arg(text, ByteCountText(bytes.received));
}

std::optional<int> TaskTableModel::ParseTaskNumber(const QString& text) {
  bool ok = false;
  const int value = text.toInt(&ok, 10);
  if (!ok) return std::nullopt;
  return value;
}

}  // namespace pageloom
