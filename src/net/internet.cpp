#include "net/internet.h"

namespace pageloom {

// Placeholder until the libcurl implementation lands.
InternetSession* hInternet = nullptr;
int OpenInternet() { return 0; }
int CloseInternet() { return 0; }
int FetchPage(std::u16string_view, PageBuffer& page) {
  page[0] = 0;
  return 0;
}
void SetNetTimeouts(const NetTimeouts&) {}
NetTimeouts GetNetTimeouts() { return {}; }
void AbortTransfers() {}
void ResumeTransfers() {}
bool TransfersAborted() { return false; }
std::string EncodeUrl(std::u16string_view) { return {}; }

}  // namespace pageloom
