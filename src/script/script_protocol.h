// The frames exchanged with the script helper process over its standard input and
// output. A request is one expression, an answer its value's text or what went wrong.
//
//   request:  "PLQ1", byte count (4 bytes, low byte first), the expression in UTF-16LE
//   answer:   "PLA1", kind (1 byte), byte count (4 bytes, low byte first), UTF-16LE text
//
// The helper answers every request and waits for the next one; any frame that breaks
// these rules ends the exchange.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pageloom {

constexpr std::size_t kRequestHeaderBytes = 8;
constexpr std::size_t kAnswerHeaderBytes = 9;
// Largest expression a request carries, and largest text an answer carries.
constexpr std::uint32_t kMaxScriptBytes = 16u << 20;
constexpr std::uint32_t kMaxAnswerBytes = 4u << 20;

enum class AnswerKind : std::uint8_t {
  kText = 0,         // the value is text; the answer carries it
  kNotText = 1,      // the value is something else; no text
  kScriptError = 2,  // the script failed; the answer carries the message
  kTooLarge = 3,     // the value is text longer than an answer may be; no text
};

// The helper's exit status when the system does not let it limit itself (no seccomp
// filter, say): it then evaluates nothing, as a script must never run unlimited.
constexpr int kHelperCannotLimitItself = 3;

struct AnswerHeader {
  AnswerKind kind = AnswerKind::kNotText;
  std::uint32_t bytes = 0;
};

// A whole request frame. The caller keeps `script` within kMaxScriptBytes.
[[nodiscard]] std::string EncodeRequest(std::u16string_view script);
// The byte count of a request header, or nothing when the header is not one (wrong
// magic, an odd count, more than kMaxScriptBytes). Reads kRequestHeaderBytes bytes.
[[nodiscard]] std::optional<std::uint32_t> ParseRequestHeader(const unsigned char* header);

// A whole answer frame. The caller keeps `text` within kMaxAnswerBytes.
[[nodiscard]] std::string EncodeAnswer(AnswerKind kind, std::u16string_view text);
// The header of an answer, or nothing when it is not one (wrong magic, an unknown kind,
// an odd count, more than `maxBytes`, text on a kind that carries none). Reads
// kAnswerHeaderBytes bytes.
[[nodiscard]] std::optional<AnswerHeader> ParseAnswerHeader(const unsigned char* header,
                                                            std::uint32_t maxBytes);

// UTF-16LE bytes and wide text, both ways. An odd last byte is dropped.
void AppendUtf16Bytes(std::string& out, std::u16string_view text);
[[nodiscard]] std::u16string Utf16FromBytes(std::string_view bytes);

}  // namespace pageloom
