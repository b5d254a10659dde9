#include "base/debug_line.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "base/fixed_text.h"

namespace pageloom {

bool DebugEnabled() {
  static const bool enabled = [] {
    const char* v = std::getenv("PAGELOOM_DEBUG");
    return v != nullptr && *v != 0 && std::strcmp(v, "0") != 0;
  }();
  return enabled;
}

void DebugLine(std::string_view utf8) {
  if (!DebugEnabled()) return;
  static std::mutex m;
  std::lock_guard<std::mutex> lock(m);
  std::fprintf(stderr, "pageLoom: %.*s\n", static_cast<int>(utf8.size()), utf8.data());
}

void DebugLine(std::u16string_view text) {
  if (!DebugEnabled()) return;
  DebugLine(std::string_view(ToUtf8(text)));
}

}  // namespace pageloom
