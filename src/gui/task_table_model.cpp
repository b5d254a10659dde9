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
      if (index.column() == kStatusColumn) return PlainToolTip(StatusDetail(row.snapshot));
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

void TaskTableModel::AddTask(int taskNo, const QString& folder, const TaskSnapshot& snapshot) {
  const int row = rowCount();
  beginInsertRows(QModelIndex(), row, row);
  m_rows.push_back(Row{taskNo, folder, snapshot, std::nullopt});
  endInsertRows();
}

bool TaskTableModel::SetSnapshot(int taskNo, const TaskSnapshot& snapshot) {
  const int row = RowOfTask(taskNo);
  if (row < 0) return false;
  Row& target = m_rows[static_cast<size_t>(row)];
  target.snapshot = snapshot;
  target.inFlight.reset();
  emit dataChanged(index(row, kProgressColumn), index(row, kStatusColumn),
                   {Qt::DisplayRole, Qt::ToolTipRole});
  return true;
}

bool TaskTableModel::RemoveTask(int taskNo) {
  const int row = RowOfTask(taskNo);
  if (row < 0) return false;
  beginRemoveRows(QModelIndex(), row, row);
  m_rows.erase(m_rows.begin() + row);
  endRemoveRows();
  return true;
}

QString TaskTableModel::Text(int row, int column) const {
  if (row < 0 || row >= rowCount() || !ValidColumn(column)) return {};
  return Source(m_rows[static_cast<size_t>(row)], column);
}

int TaskTableModel::TaskOfRow(int row) const {
  if (row < 0 || row >= rowCount()) return -1;
  return m_rows[static_cast<size_t>(row)].taskNo;
}

TaskSnapshot TaskTableModel::SnapshotOf(int row) const {
  if (row < 0 || row >= rowCount()) return {};
  return m_rows[static_cast<size_t>(row)].snapshot;
}

int TaskTableModel::RowOfTask(int taskNo) const {
  for (size_t i = 0; i < m_rows.size(); ++i) {
    if (m_rows[i].taskNo == taskNo) return static_cast<int>(i);
  }
  return -1;
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

QString TaskTableModel::Source(const Row& row, int column) const {
  switch (column) {
    case 0:
      return QString::number(row.taskNo);
    case 1:
      return row.folder;
    case kProgressColumn:
      return ProgressSource(row.snapshot);
    case kStatusColumn:
      return StatusSource(row.snapshot);
    default:
      return {};
  }
}

QString TaskTableModel::Shown(const Row& row, int column) const {
  if (column == kStatusColumn) return StatusShown(row.snapshot);
  const QString text = Source(row, column);
  if (column != kProgressColumn || !row.inFlight) return text;
  const PictureBytes& bytes = *row.inFlight;
  if (bytes.total > 0) {
    const double share = static_cast<double>(bytes.received) / static_cast<double>(bytes.total);
    const int percent = static_cast<int>(std::min(1.0, share) * 100.0);
    return QStringLiteral("%1 (%2%)").arg(text, QString::number(percent));
  }
  return QStringLiteral("%1 (%2)").arg(text, ByteCountText(bytes.received));
}

}  // namespace pageloom
