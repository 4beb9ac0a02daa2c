#include "catalogue/model_match.h"

namespace lumora {
namespace {

char folded(char byte) { return (byte >= 'A' && byte <= 'Z') ? static_cast<char>(byte - 'A' + 'a') : byte; }

bool word_byte(char byte) {
  return (byte >= '0' && byte <= '9') || (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z');
}

bool equal_folded(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (folded(a[i]) != folded(b[i])) return false;
  }
  return true;
}

}  // namespace

bool stands_as_whole_word(std::string_view description, std::string_view name) {
  if (name.empty() || name.size() > description.size()) return false;
  for (std::size_t at = 0; at + name.size() <= description.size(); ++at) {
    if (at > 0 && word_byte(description[at - 1])) continue;
    const std::size_t end = at + name.size();
    if (end < description.size() && word_byte(description[end])) continue;
    if (equal_folded(description.substr(at, name.size()), name)) return true;
  }
  return false;
}

std::size_t match_catalogue_model(const std::vector<std::string>& names,
                                  const std::vector<std::string_view>& descriptions) {
  std::size_t best = kNoModelMatch;
  for (const std::string_view description : descriptions) {
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (best != kNoModelMatch && names[i].size() <= names[best].size()) continue;
      if (stands_as_whole_word(description, names[i])) best = i;
    }
  }
  return best;
}

}  // namespace lumora
