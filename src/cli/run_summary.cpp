#include "cli/run_summary.h"

#include "base/fixed_text.h"
#include "cli/terminal_text.h"

namespace pageloom::cli {

namespace {

std::string Count(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

void AddMissingLines(const std::vector<std::u16string>& missing, std::vector<std::string>& lines) {
  for (std::size_t i = 0; i < missing.size() && i < kMissingNamesShown; ++i)
    lines.push_back("      " + ToUtf8(Printable(missing[i])));
  if (missing.size() > kMissingNamesShown)
    lines.push_back("      and " + std::to_string(missing.size() - kMissingNamesShown) + " more");
}

}  // namespace

Summary Summarize(const std::vector<TaskResult>& tasks,
                  const std::vector<AddressFailure>& addresses, bool interrupted, int skipped) {
  Summary summary;
  std::size_t finished = 0;
  for (const TaskResult& task : tasks) finished += task.finished ? 1 : 0;
  summary.whole = !interrupted && finished == tasks.size() && addresses.empty();

  std::string head = interrupted ? "Stopped. " : "";
  head += Count(tasks.size(), "task", "tasks") + ", " + std::to_string(finished) + " finished";
  if (skipped > 0) head += ", " + std::to_string(skipped) + " skipped (downloaded before)";
  if (summary.whole) {
    summary.lines.push_back(head + (tasks.empty() && skipped == 0 ? ": nothing to do."
                                    : tasks.empty()               ? "."
                                                                  : ": every picture is there."));
    return summary;
  }
  const std::size_t unfinished = tasks.size() - finished;
  if (unfinished > 0) head += ", " + std::to_string(unfinished) + " not";
  summary.lines.push_back(head + (unfinished > 0 ? ":" : "."));
  for (const TaskResult& task : tasks) {
    if (task.finished) continue;
    summary.lines.push_back(ToUtf8(u"  [" + WideNumber(task.taskNo) + u"] " + task.title + u": " +
                                   Printable(task.status) + u" (" + Printable(task.progress) +
                                   u") in " + Printable(task.folder)));
    AddMissingLines(task.missing, summary.lines);
  }
  if (!addresses.empty()) {
    summary.lines.push_back(Count(addresses.size(), "address", "addresses") + " gave no task:");
    for (const AddressFailure& failure : addresses)
      summary.lines.push_back("  " + ToUtf8(Printable(FromUtf8(failure.address))) + ": " +
                              failure.reason);
  }
  return summary;
}

}  // namespace pageloom::cli
