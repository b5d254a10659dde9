// The line under the task table: how many tasks wait, run, are done and lack pictures, the
// speed of the last few seconds and the pictures stored since the window opened. Window
// thread only.
#pragma once

#include <QLabel>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <deque>
#include <unordered_map>

#include "engine/task_snapshot.h"
#include "gui/task_table_model.h"

namespace pageloom {

class StatusLine : public QLabel {
  Q_OBJECT

 public:
  // The speed counts the bytes of this many last seconds.
  static constexpr std::chrono::seconds kSpeedWindow{5};

  explicit StatusLine(QWidget* parent);

  // The counts to show; written at the next turn of the event loop (many changes in a row
  // are written once).
  void SetCounts(const StatusCounts& counts);
  // Task `taskNo`'s picture in flight has `received` bytes.
  void NoteBytes(int taskNo, std::uint64_t received);
  // Task `taskNo` was `before` and is `after` now: the pictures it stored meanwhile count.
  void NoteChange(int taskNo, const TaskSnapshot& before, const TaskSnapshot& after);
  // Bytes per second over the last kSpeedWindow.
  [[nodiscard]] double Speed() const;
  [[nodiscard]] int StoredThisRun() const { return m_stored; }
  // Writes the line anew (in the language in effect).
  void Refresh();

 private:
  using Clock = std::chrono::steady_clock;
  void Forget(Clock::time_point now);

  StatusCounts m_counts;
  int m_stored = 0;
  std::deque<std::pair<Clock::time_point, std::uint64_t>> m_samples;
  std::unordered_map<int, std::uint64_t> m_lastReceived;
  QTimer m_timer;
  bool m_refreshQueued = false;
};

}  // namespace pageloom
