#include "script/script_protocol.h"

#include <cstring>

namespace pageloom {

namespace {

constexpr char kRequestMagic[4] = {'P', 'L', 'Q', '1'};
constexpr char kAnswerMagic[4] = {'P', 'L', 'A', '1'};

void AppendCount(std::string& out, std::uint32_t count) {
  for (int shift = 0; shift < 32; shift += 8) out += static_cast<char>((count >> shift) & 0xFF);
}

std::uint32_t ReadCount(const unsigned char* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

}  // namespace

std::string EncodeRequest(std::u16string_view script) {
  std::string frame(kRequestMagic, sizeof kRequestMagic);
  AppendCount(frame, static_cast<std::uint32_t>(script.size() * 2));
  AppendUtf16Bytes(frame, script);
  return frame;
}

std::optional<std::uint32_t> ParseRequestHeader(const unsigned char* header) {
  if (std::memcmp(header, kRequestMagic, sizeof kRequestMagic) != 0) return std::nullopt;
  const std::uint32_t bytes = ReadCount(header + 4);
  if (bytes % 2 != 0 || bytes > kMaxScriptBytes) return std::nullopt;
  return bytes;
}

std::string EncodeAnswer(AnswerKind kind, std::u16string_view text) {
  std::string frame(kAnswerMagic, sizeof kAnswerMagic);
  frame += static_cast<char>(kind);
  AppendCount(frame, static_cast<std::uint32_t>(text.size() * 2));
  AppendUtf16Bytes(frame, text);
  return frame;
}

std::optional<AnswerHeader> ParseAnswerHeader(const unsigned char* header, std::uint32_t maxBytes) {
  if (std::memcmp(header, kAnswerMagic, sizeof kAnswerMagic) != 0) return std::nullopt;
  AnswerHeader result;
  switch (header[4]) {
    case static_cast<unsigned char>(AnswerKind::kText):
      result.kind = AnswerKind::kText;
      break;
    case static_cast<unsigned char>(AnswerKind::kNotText):
      result.kind = AnswerKind::kNotText;
      break;
    case static_cast<unsigned char>(AnswerKind::kScriptError):
      result.kind = AnswerKind::kScriptError;
      break;
    case static_cast<unsigned char>(AnswerKind::kTooLarge):
      result.kind = AnswerKind::kTooLarge;
      break;
    default:
      return std::nullopt;
  }
  result.bytes = ReadCount(header + 5);
  if (result.bytes % 2 != 0 || result.bytes > maxBytes) return std::nullopt;
  const bool carriesText =
      result.kind == AnswerKind::kText || result.kind == AnswerKind::kScriptError;
  if (!carriesText && result.bytes != 0) return std::nullopt;
  return result;
}

void AppendUtf16Bytes(std::string& out, std::u16string_view text) {
  out.reserve(out.size() + text.size() * 2);
  for (char16_t unit : text) {
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>(unit >> 8);
  }
}

std::u16string Utf16FromBytes(std::string_view bytes) {
  std::u16string text(bytes.size() / 2, u'\0');
  for (std::size_t k = 0; k < text.size(); ++k) {
    text[k] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * k]) |
                                    static_cast<unsigned char>(bytes[2 * k + 1]) << 8);
  }
  return text;
}

}  // namespace pageloom
