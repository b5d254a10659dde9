// Page fetch and the process-wide internet session.
#pragma once

#include <string>
#include <string_view>

#include "net/page_buffer.h"

namespace pageloom {

// The process-wide internet session: cookie store and settings shared by every page
// fetch and picture download. Null until OpenInternet succeeds.
struct InternetSession;
extern InternetSession* hInternet;

// Opens hInternet. Returns 1 when a session was made, 0 when not.
int OpenInternet();
// Closes hInternet. Returns 0 when there was none, 1 otherwise.
int CloseInternet();

// HTTP GET of `url` (absolute) into `page` as zero-terminated 8-bit text. The page is
// emptied first. Returns 1 when the body was read (cut at kPageBufferSize - 1 bytes when
// longer), 0 when the address could not be opened or the transfer failed, in which case
// the page text is empty. The HTTP status is not examined.
int FetchPage(std::u16string_view url, PageBuffer& page);

// Time limits of every request. Tests shorten them.
struct NetTimeouts {
  long connectSeconds = 30;
  long lowSpeedSeconds = 60;  // a transfer that gets no byte for this long fails
};
void SetNetTimeouts(const NetTimeouts& timeouts);
NetTimeouts GetNetTimeouts();

// Aborts every transfer in flight, on any thread, and makes new ones fail at once,
// until ResumeTransfers. Used to stop the workers when the window closes.
void AbortTransfers();
void ResumeTransfers();
bool TransfersAborted();

// The address as a browser sends it: spaces, controls and characters outside ASCII
// percent-encoded as UTF-8; everything else kept.
std::string EncodeUrl(std::u16string_view url);

}  // namespace pageloom
