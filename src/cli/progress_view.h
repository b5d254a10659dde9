// What pageloom-cli shows while it runs. Both ways write a lasting line to standard
// output for every task that ends. On a terminal ("live") the tasks in flight are kept
// below those lines, one line each (title, progress, status, the bytes of the picture in
// flight), with a total line, and redrawn in place; otherwise ("plain") every finished
// picture gets a line of its own instead. Messages go to standard error. Main thread only.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "app/ui_language.h"
#include "cli/terminal_window.h"

namespace pageloom::cli {

class ProgressView {
 public:
  // `saveFolder` is left out of the titles of the tasks below it. A null `out` writes
  // nothing there (standard output carries something else).
  ProgressView(std::FILE* out, std::FILE* err, bool live, std::u16string saveFolder,
               UiLanguage language = UiLanguage::kEnglish);
  ProgressView(const ProgressView&) = delete;
  ProgressView& operator=(const ProgressView&) = delete;

  [[nodiscard]] bool Live() const { return m_live; }
  [[nodiscard]] UiLanguage Language() const { return m_language; }
  // Quiet: no line per picture or per task; messages and Line() still write.
  void SetQuiet(bool quiet) { m_quiet = quiet; }

  // A step of the task in `row` has handled a picture.
  void PictureDone(const TaskTable::Row& row);
  // The task in `row` has ended this walk with its status.
  void TaskEnded(const TaskTable::Row& row);
  // Task `taskNo` is being stepped again after it had ended.
  void TaskResumed(int taskNo);
  // The picture task `taskNo` downloads has `received` of `total` bytes (-1: unknown).
  void Bytes(int taskNo, std::uint64_t received, std::int64_t total);
  // A message for the user, on standard error.
  void Message(std::u16string_view text);
  // A lasting line (UTF-8, without its line feed) on standard output.
  void Line(const std::string& text);

  // Live: redraws the tasks in flight when something changed and the last redraw is a
  // moment ago (or `now`). Plain: nothing.
  void Refresh(const TaskTable& table, bool now = false);
  // Live: takes the tasks in flight off the screen, for the summary to follow.
  void Finish();

  // The title of a task: its folder below the save folder, without the final '/'; the
  // folder's own name when it lies elsewhere.
  [[nodiscard]] std::u16string TitleOf(std::u16string_view folder) const;

 private:
  struct PictureBytes {
    std::uint64_t received = 0;
    std::int64_t total = -1;
  };
  [[nodiscard]] std::u16string TaskLine(const TaskTable::Row& row, int width) const;
  [[nodiscard]] std::u16string TotalLine(const TaskTable& table) const;
  // The escape sequence that takes the drawn block off the screen ("" when none is).
  [[nodiscard]] std::string EraseBlock();
  void Write(std::FILE* stream, const std::string& text);

  std::FILE* m_out;
  std::FILE* m_err;
  const bool m_live;
  bool m_quiet = false;
  const std::u16string m_saveFolder;
  const UiLanguage m_language;
  std::set<int> m_ended;  // tasks whose walk has ended (until a step moves them again)
  std::map<int, PictureBytes> m_bytes;
  int m_blockLines = 0;  // lines of the live block on the screen now
  bool m_dirty = false;
  std::chrono::steady_clock::time_point m_lastDraw;
};

}  // namespace pageloom::cli
