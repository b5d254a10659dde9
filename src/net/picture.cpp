#include "net/picture.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>

#include "net/page_fetch.h"
#include "net/part_file.h"
#include "net/transfer.h"
#include "text/debug_line.h"
#include "text/fixed_text.h"

namespace pageloom {

namespace {

namespace fs = std::filesystem;

// The size of the answer a site gives instead of a picture it will not serve.
constexpr std::uint64_t kRefusedAnswerSize = 28;
// libcurl's receive buffer: fewer, larger reads from the socket; the memory a download
// takes stays this size whatever the picture's.
constexpr long kReceiveBufferSize = 256 * 1024;

bool SomethingAt(const fs::path& path) {
  if (path.empty()) return false;
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(path, ec);
  return !ec && status.type() != fs::file_type::not_found && status.type() != fs::file_type::none;
}

struct BodySink {
  PartFile* file;
  bool failed = false;
};

std::size_t WriteBody(char* bytes, std::size_t size, std::size_t count, void* user) {
  auto* sink = static_cast<BodySink*>(user);
  const std::size_t n = size * count;
  if (n == 0) return 0;
  if (!sink->file->Write(bytes, n)) {
    sink->failed = true;
    return 0;  // ends the transfer with a write error
  }
  return n;
}

}  // namespace

PictureOutcome FetchPictureFile(Session& session, std::u16string_view url,
                                std::u16string_view path) {
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
  BodySink sink{&part};
  char error[CURL_ERROR_SIZE] = {};  // outlives the handle that may write to it

  const std::string address = EncodeUrl(url);
  net_detail::EasyPtr easy = net_detail::NewRequest(address, session);
  if (!easy) return outcome;
  net_detail::SlistPtr headers;
  for (const char* header : {"Cache-Control: no-cache", "Pragma: no-cache", "User-Agent:"}) {
    curl_slist* more = curl_slist_append(headers.get(), header);
    if (!more) return outcome;
    headers.release();
    headers.reset(more);
  }
  curl_easy_setopt(easy.get(), CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(easy.get(), CURLOPT_FAILONERROR, 1L);  // an error page is no picture
  curl_easy_setopt(easy.get(), CURLOPT_WRITEFUNCTION, &WriteBody);
  curl_easy_setopt(easy.get(), CURLOPT_WRITEDATA, &sink);
  curl_easy_setopt(easy.get(), CURLOPT_ERRORBUFFER, error);
  curl_easy_setopt(easy.get(), CURLOPT_BUFFERSIZE, kReceiveBufferSize);

  const CURLcode rc = net_detail::Perform(easy.get(), session);
  outcome.transfer = net_detail::Describe(rc, easy.get(), error);
  if (rc == CURLE_ABORTED_BY_CALLBACK) {  // the part file goes with `part`
    outcome.result = PictureResult::kCancelled;
    return outcome;
  }
  if (rc != CURLE_OK) {
    DebugLine("picture download failed: " + outcome.transfer.detail + " (" + address + ")");
    return outcome;
  }
  if (!part.Created()) return outcome;                           // empty answer
  if (part.Written() == kRefusedAnswerSize) return outcome;      // the site's refusal
  switch (part.Commit()) {
    case PartFile::Placed::kPlaced: outcome.result = PictureResult::kStored; break;
    case PartFile::Placed::kTaken: outcome.result = PictureResult::kAlreadyThere; break;
    case PartFile::Placed::kFailed: return outcome;
  }
  DebugLine(target.filename().string());
  return outcome;
}

}  // namespace pageloom
