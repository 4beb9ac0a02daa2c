#include "catalogue/whitespace.h"

#include <cstdint>

namespace lumora {
namespace {

// Blank, \t, \n, \r and \f as bits of the byte values below 64 (a vertical tab stays). Every
// catalogue line goes through here, so one test per byte rather than five.
constexpr std::uint64_t kRemovedBits = (std::uint64_t{1} << ' ') | (std::uint64_t{1} << '\t') |
                                       (std::uint64_t{1} << '\n') | (std::uint64_t{1} << '\r') |
                                       (std::uint64_t{1} << '\f');

bool is_removed(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte <= ' ' && ((kRemovedBits >> byte) & 1u) != 0;
}

}  // namespace

void remove_whitespace(char* text) {
  if (text == nullptr) return;
  char* out = text;
  for (const char* in = text; *in != '\0'; ++in) {
    if (!is_removed(*in)) *out++ = *in;
  }
  *out = '\0';
}

}  // namespace lumora
