#include "cli/json_events.h"

#include <cstdio>

#include "base/fixed_text.h"
#include "cli/cli_texts.h"

namespace pageloom::cli {

namespace {

std::string Field(const char* name, const std::string& jsonValue) {
  return std::string(",\"") + name + "\":" + jsonValue;
}

std::string Number(long long value) { return std::to_string(value); }

std::string Head(const char* event, int taskNo) {
  return std::string("{\"event\":\"") + event + "\"" + Field("task", Number(taskNo));
}

std::string ReasonFields(const FailureReason& reason, UiLanguage language) {
  std::string fields = Field("reason", JsonString(ReasonKey(reason.kind)));
  if (reason.httpStatus > 0) fields += Field("http_status", Number(reason.httpStatus));
  if (!reason.contentType.empty()) fields += Field("content_type", JsonString(reason.contentType));
  return fields + Field("reason_text", JsonString(ReasonText(reason, language)));
}

std::string Numbers(const TaskSnapshot& snapshot) {
  std::string fields = Field("file_number", Number(snapshot.fileNumber)) +
                       Field("picture_count", Number(snapshot.pictureCount));
  if (snapshot.total) fields += Field("total", Number(*snapshot.total));
  return fields;
}

}  // namespace

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte == 0x7f) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

void JsonEvents::TaskAdded(const TaskTable::Row& row) {
  Write(Head("task_added", row.taskNo) + Field("folder", JsonString(ToUtf8(row.folder))) +
        Field("state", JsonString(StatusKey(row.snapshot.status))) + Numbers(row.snapshot) + "}");
}

void JsonEvents::TaskChanged(const TaskSnapshot& before, const TaskTable::Row& row) {
  const TaskSnapshot& now = row.snapshot;
  const bool stepped = before.status == TaskStatus::kDownloading;
  if (stepped && now.missing.size() > before.missing.size()) {
    for (std::size_t i = before.missing.size(); i < now.missing.size(); ++i)
      Write(Head("picture_failed", row.taskNo) +
            Field("file", JsonString(ToUtf8(now.missing[i].fileName))) +
            ReasonFields(now.missing[i].reason, m_language) + Numbers(now) + "}");
  } else if (stepped &&
             (now.status == TaskStatus::kDownloading || now.fileNumber != before.fileNumber ||
              now.pictureCount != before.pictureCount ||
              now.missing.size() < before.missing.size())) {
    Write(Head("picture_stored", row.taskNo) + Numbers(now) + "}");
  }
  if (now.status == before.status) return;
  std::string state = Head("task_state", row.taskNo) +
                      Field("state", JsonString(StatusKey(now.status))) + Numbers(now) +
                      Field("missing", Number(static_cast<long long>(now.missing.size())));
  if (now.status == TaskStatus::kBanned) state += Field("ban_minutes", Number(now.banMinutes));
  if (now.lastError && now.status != TaskStatus::kFinished)
    state += Field("last_error", "{" + ReasonFields(*now.lastError, m_language).substr(1) + "}");
  Write(state + "}");
}

void JsonEvents::AddressFailed(const std::string& address,
                               const std::optional<FailureReason>& reason,
                               const std::string& text) {
  std::string object = "{\"event\":\"address_failed\"" + Field("address", JsonString(address));
  if (reason) object += ReasonFields(*reason, m_language);
  Write(object + Field("text", JsonString(text)) + "}");
}

void JsonEvents::Message(const std::string& text) {
  Write("{\"event\":\"message\"" + Field("text", JsonString(text)) + "}");
}

void JsonEvents::NewChapters(const std::string& comic, int count) {
  Write("{\"event\":\"new_chapters\"" + Field("comic", JsonString(comic)) +
        Field("count", Number(count)) + "}");
}

void JsonEvents::Skipped(const std::string& address, const std::string& title,
                         const std::string& date) {
  Write("{\"event\":\"skipped\"" + Field("address", JsonString(address)) +
        Field("title", JsonString(title)) + Field("downloaded", JsonString(date)) + "}");
}

void JsonEvents::RunEnded(int exitStatus, const pageloom::RunEnded& ended, int failedAddresses,
                          bool interrupted, int skipped) {
  Write("{\"event\":\"run_end\"" + Field("exit_status", Number(exitStatus)) +
        Field("tasks", Number(ended.tasks)) + Field("finished", Number(ended.finished)) +
        Field("incomplete", Number(ended.incomplete)) + Field("skipped", Number(skipped)) +
        Field("failed_addresses", Number(failedAddresses)) +
        Field("interrupted", interrupted ? "true" : "false") + "}");
}

void JsonEvents::Write(const std::string& object) {
  const std::string line = object + "\n";
  (void)std::fwrite(line.data(), 1, line.size(), m_out);
  (void)std::fflush(m_out);
}

}  // namespace pageloom::cli
