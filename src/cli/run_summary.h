// The summary pageloom-cli writes at the end of a run, and whether the run was whole.
#pragma once

#include <string>
#include <vector>

#include "app/ui_language.h"

namespace pageloom::cli {

// How one task stood when the run ended.
struct TaskResult {
  int taskNo = 0;
  std::u16string title;
  std::u16string folder;
  std::u16string status;  // as its row shows it
  std::u16string progress;
  bool finished = false;    // every picture is on disk
  bool incomplete = false;  // ended with pictures missing or a page unread
  // The pictures that could not be had, each "file name: reason" (or the last failure).
  std::vector<std::u16string> missing;
};

// An address that gave no task.
struct AddressFailure {
  std::string address;
  std::string reason;
};

struct Summary {
  std::vector<std::string> lines;  // UTF-8, without line feeds
  bool whole = true;               // every task finished, every address gave a task
};

// The missing pictures of a task that are named one by one; the rest are counted.
constexpr std::size_t kMissingNamesShown = 10;

// The summary's lines in `language`; `skipped`: the tasks left out because they were
// downloaded before.
[[nodiscard]] Summary Summarize(const std::vector<TaskResult>& tasks,
                                const std::vector<AddressFailure>& addresses, bool interrupted,
                                UiLanguage language, int skipped = 0);

}  // namespace pageloom::cli
