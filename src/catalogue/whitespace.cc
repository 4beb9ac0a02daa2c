#include "catalogue/whitespace.h"

#include <array>

namespace lumora {
namespace {

// 1 for the bytes kept: all but blank, \t, \n, \r and \f (a vertical tab stays). Every
// catalogue line goes through here, so one table load per byte.
constexpr std::array<unsigned char, 256> make_kept() {
  std::array<unsigned char, 256> kept{};
  for (auto& k : kept) k = 1;
  for (const char c : {' ', '\t', '\n', '\r', '\f'}) kept[static_cast<unsigned char>(c)] = 0;
  return kept;
}
constexpr std::array<unsigned char, 256> kKept = make_kept();

}  // namespace

void remove_whitespace(char* text) {
  if (text == nullptr) return;
  // Every byte is stored and the output moves on only past a kept one: no branch to mispredict
  // on lines that mix words and blanks. out never passes in, so the store is always safe.
  char* out = text;
  for (const char* in = text; *in != '\0'; ++in) {
    *out = *in;
    out += kKept[static_cast<unsigned char>(*in)];
  }
  *out = '\0';
}

}  // namespace lumora
