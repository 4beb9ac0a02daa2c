#include "catalogue/whitespace.h"

namespace lumora {
namespace {

bool is_removed(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

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
