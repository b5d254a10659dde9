// The rows of the task table: one row per task, kept as the task's number, its folder and
// its latest snapshot. Text gives the cells as the table writes them (in Chinese); what the
// table shows (data) is the status word in the language in effect, the progress with the
// bytes of the picture in flight, and in the status cell's tooltip the missing pictures
// with their reasons. Every text shows as plain text, tooltips included.
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "engine/task_snapshot.h"

namespace pageloom {

// Tasks by what the line counts them as.
struct StatusCounts {
  int waiting = 0;  // preparing, paused, banned: to be done by a later step
  int running = 0;  // a worker holds it
  int done = 0;     // every picture on disk
  int missing = 0;  // ended with pictures missing
  // Adds (`sign` 1) or takes away (-1) one task of `status`.
  void Count(TaskStatus status, int sign);
};

class TaskTableModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  static constexpr int kColumnCount = 4;

  explicit TaskTableModel(QObject* parent = nullptr);

  // Header text (as written) and width in pixels of each column: "编号" 37, "名称" 400,
  // "进度" 60, "状态" 50.
  static QString ColumnHeader(int column);
  static int ColumnWidth(int column);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  // Appends the row of task `taskNo`.
  void AddTask(int taskNo, const QString& folder, const TaskSnapshot& snapshot);
  // Between these, rows are added with no signal each: the views learn of them at the
  // end as of a table made anew. Nothing else may change the rows meanwhile.
  void BeginBulk();
  void EndBulk();
  bool InBulk() const { return m_bulk; }
  // Shows `snapshot` in the row of task `taskNo`; ends the bytes shown of a picture in
  // flight. Returns false, changing nothing, when no row belongs to that task.
  bool SetSnapshot(int taskNo, const TaskSnapshot& snapshot);
  // Moves the row of task `taskNo` to `row` (the others close up). False when it has none.
  bool MoveTask(int taskNo, int row);
  // Shows `status` in the row of task `taskNo` (the rest of its snapshot as it was).
  bool SetStatus(int taskNo, TaskStatus status);
  // Removes the row of task `taskNo`; false when there is none.
  bool RemoveTask(int taskNo);
  // Removes the rows of the tasks `taskNos` (numbers without a row are passed over), in
  // one pass. A few runs of rows go as row removals; many go as one reset of the model,
  // after which nothing is selected: the answer is true then.
  bool RemoveTasks(const std::vector<int>& taskNos);
  // The text of one cell as the table writes it, empty when out of range.
  QString Text(int row, int column) const;
  // The task shown in `row`, or -1.
  int TaskOfRow(int row) const;
  // The snapshot shown in `row` (a default one when out of range).
  TaskSnapshot SnapshotOf(int row) const;
  // The row of task `taskNo`, or -1.
  int RowOfTask(int taskNo) const;
  // The picture in flight of task `taskNo` has `received` bytes of `total` (-1: unknown):
  // its progress reads e.g. "3/10 (45%)" or "3/10 (1.2 MB)" until the next progress write.
  // False when no row belongs to that task.
  bool SetPictureBytes(int taskNo, std::uint64_t received, std::int64_t total);
  // The rows by what the status line counts them as.
  [[nodiscard]] const StatusCounts& Counts() const { return m_counts; }
  // Tells the views that the texts of the language in effect have changed.
  void Retranslate();

 private:
  struct PictureBytes {
    std::uint64_t received = 0;
    std::int64_t total = -1;
  };
  struct Row {
    int taskNo = -1;
    QString folder;
    TaskSnapshot snapshot;
    std::optional<PictureBytes> inFlight;
  };
  QString Source(const Row& row, int column) const;
  QString Shown(const Row& row, int column) const;

  // Makes m_rowOfTask and m_counts anew from m_rows.
  void IndexRows();

  std::vector<Row> m_rows;
  std::unordered_map<int, int> m_rowOfTask;  // task number -> row
  StatusCounts m_counts;
  bool m_bulk = false;
};

}  // namespace pageloom
