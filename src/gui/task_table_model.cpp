#include "gui/task_table_model.h"

#include <QCoreApplication>
#include <algorithm>
#include <unordered_set>

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

void StatusCounts::Count(TaskStatus status, int sign) {
  switch (status) {
    case TaskStatus::kDownloading:
      running += sign;
      break;
    case TaskStatus::kFinished:
      done += sign;
      break;
    case TaskStatus::kIncomplete:
      missing += sign;
      break;
    default:
      waiting += sign;
      break;
  }
}

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
  if (!m_bulk) beginInsertRows(QModelIndex(), row, row);
  m_rows.push_back(Row{taskNo, folder, snapshot, std::nullopt});
  m_rowOfTask.emplace(taskNo, row);  // the first row of a number is its row
  m_counts.Count(snapshot.status, 1);
  if (!m_bulk) endInsertRows();
}

void TaskTableModel::BeginBulk() {
  if (m_bulk) return;
  m_bulk = true;
  beginResetModel();
}

void TaskTableModel::EndBulk() {
  if (!m_bulk) return;
  m_bulk = false;
  endResetModel();
}

bool TaskTableModel::SetSnapshot(int taskNo, const TaskSnapshot& snapshot) {
  const int row = RowOfTask(taskNo);
  if (row < 0) return false;
  Row& target = m_rows[static_cast<size_t>(row)];
  m_counts.Count(target.snapshot.status, -1);
  m_counts.Count(snapshot.status, 1);
  target.snapshot = snapshot;
  target.inFlight.reset();
  emit dataChanged(index(row, kProgressColumn), index(row, kStatusColumn),
                   {Qt::DisplayRole, Qt::ToolTipRole});
  return true;
}

bool TaskTableModel::MoveTask(int taskNo, int row) {
  const int from = RowOfTask(taskNo);
  if (from < 0 || row < 0 || row >= rowCount()) return false;
  if (from == row) return true;
  // Qt counts the destination before the move: one further down when moving down.
  if (!beginMoveRows(QModelIndex(), from, from, QModelIndex(), row > from ? row + 1 : row))
    return false;
  Row moving = std::move(m_rows[static_cast<size_t>(from)]);
  m_rows.erase(m_rows.begin() + from);
  m_rows.insert(m_rows.begin() + row, std::move(moving));
  IndexRows();
  endMoveRows();
  return true;
}

bool TaskTableModel::SetStatus(int taskNo, TaskStatus status) {
  const int row = RowOfTask(taskNo);
  if (row < 0) return false;
  TaskSnapshot snapshot = m_rows[static_cast<size_t>(row)].snapshot;
  snapshot.status = status;
  return SetSnapshot(taskNo, snapshot);
}

bool TaskTableModel::RemoveTask(int taskNo) {
  const int row = RowOfTask(taskNo);
  if (row < 0) return false;
  beginRemoveRows(QModelIndex(), row, row);
  m_rows.erase(m_rows.begin() + row);
  IndexRows();
  endRemoveRows();
  return true;
}

bool TaskTableModel::RemoveTasks(const std::vector<int>& taskNos) {
  // Removed one run at a time, the view follows each; past this many runs one reset is
  // cheaper than the runs together.
  constexpr std::size_t kMostRuns = 32;
  const std::unordered_set<int> gone(taskNos.begin(), taskNos.end());
  std::vector<std::pair<int, int>> runs;  // first and last row of each run
  for (int row = 0; row < rowCount(); ++row) {
    if (gone.count(m_rows[static_cast<size_t>(row)].taskNo) == 0) continue;
    if (!runs.empty() && runs.back().second == row - 1)
      runs.back().second = row;
    else
      runs.emplace_back(row, row);
  }
  if (runs.empty()) return false;
  const bool reset = runs.size() > kMostRuns;
  if (reset) {
    beginResetModel();
    m_rows.erase(std::remove_if(m_rows.begin(), m_rows.end(),
                                [&gone](const Row& row) { return gone.count(row.taskNo) != 0; }),
                 m_rows.end());
    IndexRows();
    endResetModel();
    return true;
  }
  for (auto run = runs.rbegin(); run != runs.rend(); ++run) {
    beginRemoveRows(QModelIndex(), run->first, run->second);
    m_rows.erase(m_rows.begin() + run->first, m_rows.begin() + run->second + 1);
    IndexRows();
    endRemoveRows();
  }
  return false;
}

void TaskTableModel::IndexRows() {
  m_rowOfTask.clear();
  m_rowOfTask.reserve(m_rows.size());
  m_counts = {};
  for (const Row& row : m_rows) m_counts.Count(row.snapshot.status, 1);
  for (size_t i = 0; i < m_rows.size(); ++i)
    m_rowOfTask.emplace(m_rows[i].taskNo, static_cast<int>(i));
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
  const auto found = m_rowOfTask.find(taskNo);
  return found == m_rowOfTask.end() ? -1 : found->second;
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
