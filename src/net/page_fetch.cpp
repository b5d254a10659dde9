#include "net/page_fetch.h"

#include <algorithm>
#include <cstring>

#include "base/debug_line.h"
#include "base/fixed_text.h"
#include "net/transfer.h"

namespace pageloom {

namespace {

constexpr char16_t kConnectFailed[] = u"到指定服务器的连接建立失败…";

// Where the write callback puts the body.
struct PageSink {
  char* data;
  std::size_t used;
  bool full;  // the body went past the page buffer: cut there
};

std::size_t WritePage(char* bytes, std::size_t size, std::size_t count, void* user) {
  auto* sink = static_cast<PageSink*>(user);
  const std::size_t n = size * count;
  const std::size_t room = kPageBufferSize - 1 - sink->used;
  const std::size_t take = std::min(n, room);
  if (take > 0) std::memcpy(sink->data + sink->used, bytes, take);
  sink->used += take;
  if (take < n) {
    sink->full = true;
    return 0;  // the rest is not wanted: end the transfer
  }
  return n;
}

bool IsUrlByteToEncode(unsigned char c) {
  return c >= 0x80 || c < 0x20 || c == 0x7F || c == ' ' || c == '"' || c == '<' || c == '>' ||
         c == '`' || c == '{' || c == '}';
}

}  // namespace

TransferOutcome FetchPageText(Session& session, std::u16string_view url, PageBuffer& page) {
  page[0] = 0;
  PageSink sink{page.data(), 0, false};  // outlives the transfer that writes to it
  const std::string address = EncodeUrl(url);
  net_detail::Transfer transfer(session, address, net_detail::TransferKind::kPage);
  if (!transfer.Ready()) {
    DebugLine(std::u16string_view(kConnectFailed));
    return TransferOutcome{};
  }
  CURL* easy = transfer.Easy();
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &WritePage);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &sink);
  CURLcode rc = transfer.Perform();
  if (rc == CURLE_WRITE_ERROR && sink.full) rc = CURLE_OK;  // cut at the buffer's end
  TransferOutcome outcome = transfer.Describe(rc);
  if (!outcome.Ok()) {
    page[0] = 0;  // never half a page
    if (outcome.status == 0 && outcome.result != TransferResult::kCancelled)
      DebugLine(std::u16string_view(kConnectFailed));
    DebugLine("page fetch failed: " + outcome.detail + " (" + address + ")");
    return outcome;
  }
  page[sink.used] = 0;
  return outcome;
}

int FetchPage(Session& session, std::u16string_view url, PageBuffer& page) {
  return FetchPageText(session, url, page).Ok() ? 1 : 0;
}

std::string EncodeUrl(std::u16string_view url) {
  const std::string utf8 = ToUtf8(url);
  // As a browser reads a typed address: C0 controls and spaces around it are dropped,
  // tabs and line breaks inside it too.
  std::size_t begin = 0;
  std::size_t end = utf8.size();
  while (begin < end && static_cast<unsigned char>(utf8[begin]) <= 0x20) ++begin;
  while (end > begin && static_cast<unsigned char>(utf8[end - 1]) <= 0x20) --end;
  // The host is left as it is (libcurl turns a host outside ASCII into its IDNA form).
  std::size_t authorityEnd = begin;
  const std::size_t scheme = utf8.find("://", begin);
  if (scheme != std::string::npos && scheme < end) {
    authorityEnd = utf8.find_first_of("/?#", scheme + 3);
    if (authorityEnd == std::string::npos || authorityEnd > end) authorityEnd = end;
  }
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(end - begin);
  for (std::size_t i = begin; i < end; ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (c == '\t' || c == '\n' || c == '\r') continue;
    if (i >= authorityEnd && IsUrlByteToEncode(c)) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace pageloom
