#include "query/json_text.h"

namespace lumora {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

bool is_continuation(unsigned char byte) { return (byte & 0xC0U) == 0x80U; }

// The escape of one byte: "\u00XY" for a control character, "\udcXY" for a stray high byte.
void append_unicode_escape(std::string& out, const char* prefix, unsigned char byte) {
  out += prefix;
  out += kHexDigits[byte >> 4U];
  out += kHexDigits[byte & 0x0FU];
}

}  // namespace

std::size_t utf8_sequence_length(std::string_view text) {
  if (text.empty()) return 0;
  const auto lead = static_cast<unsigned char>(text[0]);
  if (lead < 0x80U) return 1;
  std::size_t length = 0;
  // The range the second byte must lie in; it is narrower than 80..BF after E0, ED, F0 and F4,
  // which is what excludes overlong forms, surrogates and values beyond U+10FFFF.
  unsigned char low = 0x80U;
  unsigned char high = 0xBFU;
  if (lead >= 0xC2U && lead <= 0xDFU) {
    length = 2;
  } else if (lead >= 0xE0U && lead <= 0xEFU) {
    length = 3;
    if (lead == 0xE0U) low = 0xA0U;
    if (lead == 0xEDU) high = 0x9FU;
  } else if (lead >= 0xF0U && lead <= 0xF4U) {
    length = 4;
    if (lead == 0xF0U) low = 0x90U;
    if (lead == 0xF4U) high = 0x8FU;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  const auto second = static_cast<unsigned char>(text[1]);
  if (second < low || second > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (!is_continuation(static_cast<unsigned char>(text[i]))) return 0;
  }
  return length;
}

void append_json_string(std::string& out, std::string_view text) {
  out += '"';
  while (!text.empty()) {
    const auto byte = static_cast<unsigned char>(text[0]);
    std::size_t taken = 1;
    switch (byte) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (byte < 0x20U || byte == 0x7FU) {
          append_unicode_escape(out, "\\u00", byte);
        } else if (byte < 0x80U) {
          out += static_cast<char>(byte);
        } else if (const std::size_t length = utf8_sequence_length(text); length != 0) {
          out.append(text.substr(0, length));
          taken = length;
        } else {
          append_unicode_escape(out, "\\udc", byte);
        }
        break;
    }
    text.remove_prefix(taken);
  }
  out += '"';
}

}  // namespace lumora
