// The rows of the task table. Each row carries the task number that its column 0 shows,
// so a progress write that names its task finds the task's current row.
//
// The cells keep the texts as the logic writes them (Text); what the table shows (data)
// is the status word in the language in effect and the progress with the bytes of the
// picture in flight. Every text shows as plain text, tooltips included.
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace pageloom {

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

  // Appends a row whose column 0 reads `number`; the other columns are empty.
  void AppendRow(const QString& number);
  // Writes one cell; a row or column out of range is ignored.
  void SetText(int row, int column, const QString& text);
  // Removes one row; a row out of range is ignored.
  void RemoveRow(int row);
  // The text of one cell, empty when out of range.
  QString Text(int row, int column) const;
  // The row of task `taskNo` (whose column 0 reads that number), or -1.
  int RowOfTask(int taskNo) const;
  // Writes progress (column 2) and status (column 3) into the row of task `taskNo`.
  // Returns false, writing nothing, when no row belongs to that task.
  // Ends the bytes shown of a picture in flight.
  bool SetTaskProgress(int taskNo, const QString& progress, const QString& status);
  // The picture in flight of task `taskNo` has `received` bytes of `total` (-1: unknown):
  // its progress reads e.g. "3/10 (45%)" or "3/10 (1.2 MB)" until the next progress write.
  // False when no row belongs to that task.
  bool SetPictureBytes(int taskNo, std::uint64_t received, std::int64_t total);
  // Tells the views that the texts of the language in effect have changed.
  void Retranslate();

 private:
  struct PictureBytes {
    std::uint64_t received = 0;
    std::int64_t total = -1;
  };
  struct Row {
    std::optional<int> taskNo;
    std::array<QString, kColumnCount> texts;
    std::optional<PictureBytes> inFlight;
  };
  static std::optional<int> ParseTaskNumber(const QString& text);
  QString Shown(const Row& row, int column) const;

  std::vector<Row> m_rows;
};

}  // namespace pageloom
