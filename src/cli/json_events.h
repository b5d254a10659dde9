// The --json stream of pageloom-cli: one JSON object a line on standard output for every
// event of a run, so that a script can follow it without reading human text.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "app/ui_language.h"
#include "cli/terminal_window.h"

namespace pageloom::cli {

// `text` (UTF-8) as a JSON string, quotes included.
[[nodiscard]] std::string JsonString(std::string_view text);

class JsonEvents {
 public:
  // The texts for people (`reason_text`) are in `language`; keys and codes never change.
  JsonEvents(std::FILE* out, UiLanguage language) : m_out(out), m_language(language) {}

  void TaskAdded(const TaskTable::Row& row);
  // What a change of task `row` (from `before`) says: pictures stored or failed, and its
  // state when that changed.
  void TaskChanged(const TaskSnapshot& before, const TaskTable::Row& row);
  void AddressFailed(const std::string& address, const std::optional<FailureReason>& reason,
                     const std::string& text);
  void Message(const std::string& text);
  // A check of followed comics found `count` new chapters of `comic`.
  void NewChapters(const std::string& comic, int count);
  // A task left out because it was downloaded before (`date`: when).
  void Skipped(const std::string& address, const std::string& title, const std::string& date);
  void RunEnded(int exitStatus, const pageloom::RunEnded& ended, int failedAddresses,
                bool interrupted, int skipped);

 private:
  void Write(const std::string& object);
  std::FILE* m_out;
  UiLanguage m_language;
};

}  // namespace pageloom::cli
