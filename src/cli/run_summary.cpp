#include "cli/run_summary.h"

#include "base/fixed_text.h"
#include "cli/cli_texts.h"
#include "cli/terminal_text.h"

namespace pageloom::cli {

namespace {

void AddMissingLines(const std::vector<std::u16string>& missing, UiLanguage language,
                     std::vector<std::string>& lines) {
  for (std::size_t i = 0; i < missing.size() && i < kMissingNamesShown; ++i)
    lines.push_back("      " + ToUtf8(Printable(missing[i])));
  if (missing.size() > kMissingNamesShown)
    lines.push_back("      " + Say(language, "and %1 more", "……另有%1张",
                                   {std::to_string(missing.size() - kMissingNamesShown)}));
}

}  // namespace

Summary Summarize(const std::vector<TaskResult>& tasks,
                  const std::vector<AddressFailure>& addresses, bool interrupted,
                  UiLanguage language, int skipped) {
  Summary summary;
  std::size_t finished = 0;
  for (const TaskResult& task : tasks) finished += task.finished ? 1 : 0;
  summary.whole = !interrupted && finished == tasks.size() && addresses.empty();

  std::string head = interrupted ? Say(language, "Stopped. ", "已停止。") : "";
  head += Say(language, tasks.size() == 1 ? "%1 task, %2 finished" : "%1 tasks, %2 finished",
              "%1个任务，%2个已完成", {std::to_string(tasks.size()), std::to_string(finished)});
  if (skipped > 0)
    head += Say(language, ", %1 skipped (downloaded before)", "，%1个已下载过而跳过",
                {std::to_string(skipped)});
  if (summary.whole) {
    summary.lines.push_back(
        head + (tasks.empty() && skipped == 0 ? Say(language, ": nothing to do.", "：没有要做的。")
                : tasks.empty()               ? Say(language, ".", "。")
                                : Say(language, ": every picture is there.", "：图片齐全。")));
    return summary;
  }
  const std::size_t unfinished = tasks.size() - finished;
  if (unfinished > 0)
    head += Say(language, ", %1 not", "，%1个未完成", {std::to_string(unfinished)});
  summary.lines.push_back(head +
                          (unfinished > 0 ? Say(language, ":", "：") : Say(language, ".", "。")));
  for (const TaskResult& task : tasks) {
    if (task.finished) continue;
    summary.lines.push_back(ToUtf8(u"  [" + WideNumber(task.taskNo) + u"] " + task.title + u": " +
                                   Printable(task.status) + u" (" + Printable(task.progress) +
                                   u") ") +
                            Say(language, "in %1", "于 %1", {ToUtf8(Printable(task.folder))}));
    AddMissingLines(task.missing, language, summary.lines);
  }
  if (!addresses.empty()) {
    summary.lines.push_back(Say(
        language, addresses.size() == 1 ? "%1 address gave no task:" : "%1 addresses gave no task:",
        "%1个网址没有得到任务：", {std::to_string(addresses.size())}));
    for (const AddressFailure& failure : addresses)
      summary.lines.push_back("  " + ToUtf8(Printable(FromUtf8(failure.address))) + ": " +
                              failure.reason);
  }
  return summary;
}

}  // namespace pageloom::cli
