// Page fetch: one address into a page buffer as zero-terminated 8-bit text.
#pragma once

#include <string>
#include <string_view>

#include "net/page_buffer.h"
#include "net/session.h"
#include "net/transfer_outcome.h"

namespace pageloom {

// HTTP GET of `url` (absolute) into `page`. The page is emptied first. When the body
// arrives it is the page text, whatever the HTTP status (an error page is read like any
// other; the outcome carries the status), cut at kPageBufferSize - 1 bytes when longer.
// When the transfer fails the page text is empty.
[[nodiscard]] TransferOutcome FetchPageText(Session& session, std::u16string_view url,
                                            PageBuffer& page);

// The same with the result the adapters' callers know: 1 when the body was read, 0 when
// the address could not be opened or the transfer failed.
int FetchPage(Session& session, std::u16string_view url, PageBuffer& page);

// The address as a browser sends it: spaces, controls and characters outside ASCII
// percent-encoded as UTF-8; everything else kept.
std::string EncodeUrl(std::u16string_view url);

}  // namespace pageloom
