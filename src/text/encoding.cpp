#include "text/encoding.h"

namespace pageloom {

void ToWide(char16_t* dst, std::size_t capacity, const char* src) {
  if (!src || capacity == 0) return;
  dst[0] = 0;
}
void CodeConverter::Utf8ToAnsi(std::string& out, const char* src, int length) {
  out.assign(src, length > 0 ? static_cast<std::size_t>(length) : 0);
}
char16_t CodeConverter::DecodeUtf8Triple(unsigned char out[2], const unsigned char*) {
  out[0] = out[1] = 0;
  return 0;
}
int CodeConverter::UnitToAnsi(unsigned char[4], char32_t) { return 0; }

}  // namespace pageloom
