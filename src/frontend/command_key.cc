#include "frontend/command_key.h"

namespace lumora {

std::int32_t command_key(const char* word) {
  if (word == nullptr || word[0] == '\0') return 0;
  if (word[1] == '\0') return make_key(word[0], '\0');
  if (word[2] == '\0') return make_key(word[0], word[1]);
  return make_key(word[0], word[1], word[2]);
}

}  // namespace lumora
