#include "net/picture.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

#include "base/debug_line.h"
#include "base/fixed_text.h"
#include "net/page_fetch.h"
#include "net/part_file.h"
#include "net/transfer.h"

namespace pageloom {

namespace {

namespace fs = std::filesystem;

// The size of the answer a site gives instead of a picture it will not serve.
constexpr std::uint64_t kRefusedAnswerSize = 28;
// libcurl's receive buffer: fewer, larger reads from the socket; the memory a download
// takes stays this size whatever the picture's.
constexpr long kReceiveBufferSize = 256 * 1024;
// The progress hook hears of a download at most this often (and once at its end).
constexpr std::chrono::milliseconds kProgressStep{100};
// An error page up to this size is read past rather than cut off.
constexpr std::uint64_t kErrorPageToSkip = 64 * 1024;

bool SomethingAt(const fs::path& path) {
  if (path.empty()) return false;
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(path, ec);
  return !ec && status.type() != fs::file_type::not_found && status.type() != fs::file_type::none;
}

// Where the write callback puts the body, and what it finds on the way.
struct BodySink {
  PartFile* file;
  CURL* easy;
  std::uint64_t maxBytes;
  const PictureProgress* progress;
  std::chrono::steady_clock::time_point lastReport;
  bool statusSeen = false;
  bool errorAnswer = false;   // the answer's status says it is no picture
  std::uint64_t skipped = 0;  // bytes of an error answer read past
  bool failed = false;        // the file could not be written
  bool tooLarge = false;      // the body passed maxBytes
};

// The size the answer announced, -1 when it did not (or is no picture).
std::int64_t AnnouncedSize(const BodySink& sink) {
  curl_off_t total = -1;
  if (sink.errorAnswer ||
      curl_easy_getinfo(sink.easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &total) != CURLE_OK)
    return -1;
  return total < 0 ? -1 : static_cast<std::int64_t>(total);
}

void ReportProgress(BodySink& sink) {
  if (!*sink.progress) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - sink.lastReport < kProgressStep) return;
  sink.lastReport = now;
  (*sink.progress)(sink.file->Written(), AnnouncedSize(sink));
}

std::size_t WriteBody(char* bytes, std::size_t size, std::size_t count, void* user) {
  auto* sink = static_cast<BodySink*>(user);
  const std::size_t n = size * count;
  if (n == 0) return 0;
  if (!sink->statusSeen) {
    sink->statusSeen = true;
    long status = 0;
    curl_easy_getinfo(sink->easy, CURLINFO_RESPONSE_CODE, &status);
    sink->errorAnswer = status >= 400;
  }
  if (sink->errorAnswer) {
    // An error page is no picture. A short one is read to its end, which keeps the
    // connection usable; a long one ends the transfer.
    sink->skipped += n;
    return sink->skipped <= kErrorPageToSkip ? n : 0;
  }
  if (n > sink->maxBytes - sink->file->Written()) {
    sink->tooLarge = true;
    return 0;  // ends the transfer; the part file goes
  }
  if (!sink->file->Write(bytes, n)) {
    sink->failed = true;
    return 0;  // ends the transfer with a write error
  }
  ReportProgress(*sink);
  return n;
}

// How the transfer of a picture ended, with what its sink saw: a body past the size
// limit, an answer whose status says it is no picture.
TransferOutcome JudgeTransfer(const net_detail::Transfer& transfer, CURLcode rc,
                              const BodySink& sink) {
  long status = 0;
  curl_easy_getinfo(sink.easy, CURLINFO_RESPONSE_CODE, &status);
  if (sink.tooLarge)
    rc = CURLE_FILESIZE_EXCEEDED;
  else if (status >= 400 && rc != CURLE_ABORTED_BY_CALLBACK)
    rc = CURLE_HTTP_RETURNED_ERROR;
  TransferOutcome outcome = transfer.Describe(rc);
  if (sink.tooLarge)
    outcome.detail = "larger than " + std::to_string(sink.maxBytes) + " bytes";
  else if (rc == CURLE_HTTP_RETURNED_ERROR)
    outcome.detail = "answered " + std::to_string(status);
  return outcome;
}

}  // namespace

PictureOutcome FetchPictureFile(Session& session, std::u16string_view url, std::u16string_view path,
                                const PictureProgress& progress) {
  PictureOutcome outcome;
  if (path.empty() || path.find(u'\0') != std::u16string_view::npos) return outcome;
  const fs::path target(ToUtf8(path));
  if (SomethingAt(target)) {
    outcome.result = PictureResult::kAlreadyThere;
    return outcome;
  }
  if (session.Aborted()) {
    outcome.result = PictureResult::kCancelled;
    return outcome;
  }

  PartFile part(target);
  // Outlives the transfer that writes to it.
  BodySink sink{&part, nullptr, 0, &progress, std::chrono::steady_clock::now()};

  const std::string address = EncodeUrl(url);
  net_detail::SlistPtr headers;  // outlives the transfer that sends it
  for (const char* header : {"Cache-Control: no-cache", "Pragma: no-cache", "User-Agent:"}) {
    curl_slist* more = curl_slist_append(headers.get(), header);
    if (!more) return outcome;
    headers.release();
    headers.reset(more);
  }
  net_detail::Transfer transfer(session, address, net_detail::TransferKind::kPicture);
  if (!transfer.Ready()) return outcome;
  CURL* easy = transfer.Easy();
  sink.easy = easy;
  sink.maxBytes = transfer.Limits().pictureMaxBytes;
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &WriteBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &sink);
  curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kReceiveBufferSize);

  outcome.transfer = JudgeTransfer(transfer, transfer.Perform(), sink);
  if (progress) progress(part.Written(), AnnouncedSize(sink));
  if (outcome.transfer.result == TransferResult::kCancelled) {  // the part file goes with `part`
    outcome.result = PictureResult::kCancelled;
    return outcome;
  }
  if (!outcome.transfer.Ok()) {
    DebugLine("picture download failed: " + outcome.transfer.detail + " (" + address + ")");
    return outcome;
  }
  if (!part.Created()) return outcome;                       // empty answer
  if (part.Written() == kRefusedAnswerSize) return outcome;  // the site's refusal
  switch (part.Commit()) {
    case PartFile::Placed::kPlaced:
      outcome.result = PictureResult::kStored;
      break;
    case PartFile::Placed::kTaken:
      outcome.result = PictureResult::kAlreadyThere;
      break;
    case PartFile::Placed::kFailed:
      return outcome;
  }
  DebugLine(target.filename().string());
  return outcome;
}

}  // namespace pageloom
