#include "cli/progress_view.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include <sys/ioctl.h>
#include <unistd.h>

#include "base/fixed_text.h"
#include "cli/cli_texts.h"
#include "cli/terminal_text.h"

namespace pageloom::cli {

namespace {

constexpr auto kRedrawPause = std::chrono::milliseconds(100);

struct ScreenSize {
  int columns = 80;
  int rows = 24;
};

ScreenSize SizeOf(std::FILE* stream) {
  ScreenSize size;
  winsize ws{};
  if (ioctl(fileno(stream), TIOCGWINSZ, &ws) == 0) {
    if (ws.ws_col > 0) size.columns = ws.ws_col;
    if (ws.ws_row > 0) size.rows = ws.ws_row;
  }
  return size;
}

std::u16string Head(const TaskTable::Row& row) { return u"[" + WideNumber(row.taskNo) + u"] "; }

}  // namespace

ProgressView::ProgressView(std::FILE* out, std::FILE* err, bool live, std::u16string saveFolder,
                           UiLanguage language)
    : m_out(out),
      m_err(err),
      m_live(live),
      m_saveFolder(std::move(saveFolder)),
      m_language(language) {}

std::u16string ProgressView::TitleOf(std::u16string_view folder) const {
  while (folder.size() > 1 && folder.back() == u'/') folder.remove_suffix(1);
  std::u16string_view base = m_saveFolder;
  while (base.size() > 1 && base.back() == u'/') base.remove_suffix(1);
  if (!base.empty() && folder.size() > base.size() + 1 && folder.substr(0, base.size()) == base &&
      (base == u"/" || folder[base.size()] == u'/')) {
    folder.remove_prefix(base == u"/" ? 1 : base.size() + 1);
  } else if (const std::size_t slash = folder.rfind(u'/');
             slash != std::u16string_view::npos && slash + 1 < folder.size()) {
    // A task of another save folder (one kept in the queue from an earlier run): its name.
    folder.remove_prefix(slash + 1);
  }
  return Printable(folder);
}

void ProgressView::PictureDone(const TaskTable::Row& row) {
  m_ended.erase(row.taskNo);
  m_bytes.erase(row.taskNo);
  m_dirty = true;
  if (!m_live && !m_quiet)
    Line(ToUtf8(Head(row) + TitleOf(row.folder)) + ": " + ProgressText(row.snapshot));
}

void ProgressView::TaskEnded(const TaskTable::Row& row) {
  m_ended.insert(row.taskNo);
  m_bytes.erase(row.taskNo);
  m_dirty = true;
  if (m_quiet) return;
  Line(ToUtf8(Head(row) + TitleOf(row.folder)) + ": " + StatusWord(row.snapshot, m_language) +
       " (" + ProgressText(row.snapshot) + ")");
}

void ProgressView::TaskResumed(int taskNo) {
  if (m_ended.erase(taskNo) != 0) m_dirty = true;
}

void ProgressView::Bytes(int taskNo, std::uint64_t received, std::int64_t total) {
  m_bytes[taskNo] = PictureBytes{received, total};
  m_dirty = true;
}

void ProgressView::Message(std::u16string_view text) {
  std::string erase = EraseBlock();
  if (!erase.empty()) Write(m_out, erase);
  Write(m_err, ToUtf8(Printable(text, true)) + "\n");
  m_dirty = true;
}

void ProgressView::Line(const std::string& text) { Write(m_out, EraseBlock() + text + "\n"); }

void ProgressView::Write(std::FILE* stream, const std::string& text) {
  if (stream == nullptr) return;
  // A closed standard output (a pipe whose reader went away) is no reason to stop.
  (void)std::fwrite(text.data(), 1, text.size(), stream);
  (void)std::fflush(stream);
}

std::string ProgressView::EraseBlock() {
  if (m_blockLines == 0) return {};
  const std::string erase = "\x1b[" + std::to_string(m_blockLines) + "A\r\x1b[J";
  m_blockLines = 0;
  m_dirty = true;
  return erase;
}

std::u16string ProgressView::TaskLine(const TaskTable::Row& row, int width) const {
  std::u16string tail =
      FromUtf8("  " + ProgressText(row.snapshot) + "  " + StatusWord(row.snapshot, m_language));
  const auto bytes = m_bytes.find(row.taskNo);
  if (bytes != m_bytes.end()) {
    std::string size = ByteSize(bytes->second.received);
    if (bytes->second.total >= 0)
      size += " / " + ByteSize(static_cast<std::uint64_t>(bytes->second.total));
    tail += u"  " + FromUtf8(size);
  }
  const std::u16string head = Head(row);
  const int titleRoom = std::max(8, width - TextWidth(head) - TextWidth(tail));
  return FitToWidth(head + FitToWidth(TitleOf(row.folder), titleRoom) + tail, width);
}

std::u16string ProgressView::TotalLine(const TaskTable& table) const {
  long long done = 0;
  long long total = 0;
  for (const TaskTable::Row& row : table.Rows()) {
    done += row.snapshot.fileNumber;
    total += row.snapshot.pictureCount;
  }
  return FromUtf8(Say(m_language, "total: %1/%2 pictures, %3/%4 tasks ended",
                      "合计：%1/%2张图片，%3/%4个任务已结束",
                      {std::to_string(done), std::to_string(total), std::to_string(m_ended.size()),
                       std::to_string(table.RowCount())}));
}

void ProgressView::Refresh(const TaskTable& table, bool now) {
  if (!m_live || !m_dirty) return;
  const auto time = std::chrono::steady_clock::now();
  if (!now && time - m_lastDraw < kRedrawPause) return;
  m_lastDraw = time;
  m_dirty = false;

  const ScreenSize screen = SizeOf(m_out);
  const int width = screen.columns - 1;  // never the last column: no wrapping
  std::vector<const TaskTable::Row*> inFlight;
  for (const TaskTable::Row& row : table.Rows())
    if (m_ended.count(row.taskNo) == 0) inFlight.push_back(&row);
  // The block stays within the screen: the lines it cannot show are counted instead.
  const int room = std::max(1, screen.rows - 2);
  const int shown = std::min(static_cast<int>(inFlight.size()),
                             static_cast<int>(inFlight.size()) > room ? room - 1 : room);

  std::string text = EraseBlock();
  m_dirty = false;
  int lines = 0;
  for (int i = 0; i < shown; ++i, ++lines) text += ToUtf8(TaskLine(*inFlight[i], width)) + "\n";
  if (shown < static_cast<int>(inFlight.size())) {
    text += "  " +
            Say(m_language, "... %1 more", "……另有%1个",
                {std::to_string(inFlight.size() - static_cast<std::size_t>(shown))}) +
            "\n";
    ++lines;
  }
  text += ToUtf8(FitToWidth(TotalLine(table), width)) + "\n";
  m_blockLines = lines + 1;
  Write(m_out, text);
}

void ProgressView::Finish() {
  const std::string erase = EraseBlock();
  if (!erase.empty()) Write(m_out, erase);
  m_dirty = false;
}

}  // namespace pageloom::cli
