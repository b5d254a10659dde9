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
  bool errorAnswer = false;    // the answer's status says it is no picture
  Sniffed sniffed;             // what its first bytes are
  std::string head;            // the first bytes, held until they are judged
  std::string text;            // the start of an answer that is no picture
  std::uint64_t received = 0;  // bytes of the body
  bool failed = false;         // the file could not be written
  bool tooLarge = false;       // the body passed maxBytes
};

// The size the answer announced, -1 when it did not (or is no picture).
std::int64_t AnnouncedSize(const BodySink& sink) {
  curl_off_t total = -1;
  if (sink.errorAnswer || sink.sniffed.verdict == SignatureVerdict::kNotPicture ||
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

// Keeps the start of an answer that is no picture as its text; a short one is read to
// its end, which keeps the connection usable, a long one ends the transfer.
std::size_t ReadPast(BodySink& sink, const char* bytes, std::size_t n) {
  if (sink.text.size() < kAnswerTextKept)
    sink.text.append(bytes, std::min(n, kAnswerTextKept - sink.text.size()));
  return sink.received <= kErrorPageToSkip ? n : 0;
}

// Appends to the part file; 0 ends the transfer.
std::size_t Store(BodySink& sink, const char* bytes, std::size_t n) {
  if (n == 0) return 0;
  if (n > sink.maxBytes - sink.file->Written()) {
    sink.tooLarge = true;
    return 0;  // ends the transfer; the part file goes
  }
  if (!sink.file->Write(bytes, n)) {
    sink.failed = true;
    return 0;  // ends the transfer with a write error
  }
  return n;
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
  sink->received += n;
  if (sink->errorAnswer || sink->sniffed.verdict == SignatureVerdict::kNotPicture)
    return ReadPast(*sink, bytes, n);
  if (sink->sniffed.verdict == SignatureVerdict::kNeedMore) {
    // The first bytes wait until they tell what the answer is.
    sink->head.append(bytes, n);
    sink->sniffed = SniffPicture(sink->head);
    if (sink->sniffed.verdict == SignatureVerdict::kNeedMore) return n;
    std::string head;
    head.swap(sink->head);
    if (sink->sniffed.verdict == SignatureVerdict::kNotPicture)
      return ReadPast(*sink, head.data(), head.size()) == 0 ? 0 : n;
    if (Store(*sink, head.data(), head.size()) == 0) return 0;
  } else if (Store(*sink, bytes, n) == 0) {
    return 0;
  }
  ReportProgress(*sink);
  return n;
}

// How the transfer of a picture ended, with what its sink saw: a body past the size
// limit, an answer whose status says it is no picture, one whose bytes say so.
TransferOutcome JudgeTransfer(const net_detail::Transfer& transfer, CURLcode rc,
                              const BodySink& sink) {
  long status = 0;
  curl_easy_getinfo(sink.easy, CURLINFO_RESPONSE_CODE, &status);
  if (sink.tooLarge)
    rc = CURLE_FILESIZE_EXCEEDED;
  else if (status >= 400 && rc != CURLE_ABORTED_BY_CALLBACK)
    rc = CURLE_HTTP_RETURNED_ERROR;
  else if (rc == CURLE_WRITE_ERROR && !sink.failed &&
           sink.sniffed.verdict == SignatureVerdict::kNotPicture)
    rc = CURLE_OK;  // read as far as its text needs: the answer is judged
  TransferOutcome outcome = transfer.Describe(rc);
  if (sink.tooLarge)
    outcome.detail = "larger than " + std::to_string(sink.maxBytes) + " bytes";
  else if (rc == CURLE_HTTP_RETURNED_ERROR)
    outcome.detail = "answered " + std::to_string(status);
  return outcome;
}

std::string ContentTypeOf(CURL* easy) {
  const char* type = nullptr;
  if (curl_easy_getinfo(easy, CURLINFO_CONTENT_TYPE, &type) != CURLE_OK || type == nullptr)
    return {};
  return type;
}

// Fills in what the answer was, once its transfer has ended.
void DescribeAnswer(BodySink& sink, PictureOutcome& outcome) {
  if (sink.sniffed.verdict == SignatureVerdict::kNeedMore && !sink.errorAnswer &&
      outcome.transfer.Ok()) {
    // The whole answer is shorter than the signature it began like.
    sink.sniffed = SniffPicture(sink.head, true);
    sink.text.swap(sink.head);
  }
  outcome.contentType = ContentTypeOf(sink.easy);
  outcome.kind = sink.sniffed.kind;
  outcome.bodyBytes = sink.received;
  outcome.answerText = std::move(sink.text);
}

// What becomes of a transfer that ended well: stored under its name, or not.
void Settle(PartFile& part, const fs::path& target, const PictureCheck& check,
            PictureOutcome& outcome) {
  if (outcome.kind == PictureKind::kUnknown) {
    DebugLine("not a picture (" + outcome.contentType + "): " + target.filename().string());
    outcome.result = PictureResult::kNotPicture;
    return;
  }
  if (part.Written() == kRefusedAnswerSize) return;  // the site's refusal
  if (check && !check(outcome.kind, part.Written())) {
    outcome.result = PictureResult::kTurnedDown;
    return;
  }
  switch (part.Commit()) {
    case PartFile::Placed::kPlaced:
      outcome.result = PictureResult::kStored;
      break;
    case PartFile::Placed::kTaken:
      outcome.result = PictureResult::kAlreadyThere;
      break;
    case PartFile::Placed::kFailed:
      return;
  }
  DebugLine(target.filename().string());
}

}  // namespace

PictureOutcome FetchPictureFile(Session& session, std::u16string_view url, std::u16string_view path,
                                const PictureProgress& progress, const PictureCheck& check) {
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
  for (const char* header : {"Cache-Control: no-cache", "Pragma: no-cache"}) {
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
  DescribeAnswer(sink, outcome);
  if (progress) progress(part.Written(), AnnouncedSize(sink));
  if (outcome.transfer.result == TransferResult::kCancelled) {  // the part file goes with `part`
    outcome.result = PictureResult::kCancelled;
    return outcome;
  }
  if (!outcome.transfer.Ok()) {
    DebugLine("picture download failed: " + outcome.transfer.detail + " (" + address + ")");
    return outcome;
  }
  Settle(part, target, check, outcome);
  return outcome;
}

}  // namespace pageloom
