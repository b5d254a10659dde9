#include "gui/status_line.h"

#include "gui/ui_texts.h"

namespace pageloom {

StatusLine::StatusLine(QWidget* parent) : QLabel(parent) {
  setObjectName(QStringLiteral("statusLine"));
  setTextFormat(Qt::PlainText);
  m_timer.setInterval(1000);
  connect(&m_timer, &QTimer::timeout, this, &StatusLine::Refresh);
  m_timer.start();
  Refresh();
}

void StatusLine::SetCounts(const StatusCounts& counts) {
  m_counts = counts;
  if (m_refreshQueued) return;
  m_refreshQueued = true;
  QTimer::singleShot(0, this, &StatusLine::Refresh);
}

void StatusLine::NoteBytes(int taskNo, std::uint64_t received) {
  std::uint64_t& last = m_lastReceived[taskNo];
  // Fewer bytes than before: the next picture has begun.
  const std::uint64_t added = received >= last ? received - last : received;
  last = received;
  if (added == 0) return;
  const Clock::time_point now = Clock::now();
  m_samples.emplace_back(now, added);
  Forget(now);
}

void StatusLine::NoteChange(int taskNo, const TaskSnapshot& before, const TaskSnapshot& after) {
  m_lastReceived.erase(taskNo);  // a picture ended: the next one starts from nothing
  const auto onDisk = [](const TaskSnapshot& shot) {
    return shot.fileNumber - static_cast<int>(shot.missing.size());
  };
  const int stored = onDisk(after) - onDisk(before);
  if (stored > 0) m_stored += stored;
}

double StatusLine::Speed() const {
  const Clock::time_point since = Clock::now() - kSpeedWindow;
  std::uint64_t bytes = 0;
  for (const auto& sample : m_samples)
    if (sample.first >= since) bytes += sample.second;
  return static_cast<double>(bytes) / static_cast<double>(kSpeedWindow.count());
}

void StatusLine::Forget(Clock::time_point now) {
  while (!m_samples.empty() && m_samples.front().first < now - kSpeedWindow) m_samples.pop_front();
}

void StatusLine::Refresh() {
  m_refreshQueued = false;
  Forget(Clock::now());
  setText(tr("等待 %1 · 下载中 %2 · 已完成 %3 · 缺图 %4 · 速度 %5/s · 本次已存 %6 张")
              .arg(m_counts.waiting)
              .arg(m_counts.running)
              .arg(m_counts.done)
              .arg(m_counts.missing)
              .arg(ByteCountText(static_cast<std::uint64_t>(Speed())))
              .arg(m_stored));
}

}  // namespace pageloom
