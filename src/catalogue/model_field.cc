#include "catalogue/model_field.h"

#include <cstring>
#include <string_view>

#include "common/bounded_scan.h"

namespace lumora {
namespace {

// Terminates the field at its comma; returns the field and sets rest to what follows the
// comma, or to null for the last field.
std::string_view split_field(char*& rest) {
  char* const field = rest;
  char* comma = std::strchr(field, ',');
  if (comma == nullptr) {
    rest = nullptr;
    return field;
  }
  *comma = '\0';
  rest = comma + 1;
  return {field, static_cast<std::size_t>(comma - field)};
}

}  // namespace

char* next_field(char* rest, std::int32_t& target, std::int32_t missing_value) {
  if (rest == nullptr) {
    target = missing_value;
    return nullptr;
  }
  scan_decimal(split_field(rest), target);
  return rest;
}

char* next_field(char* rest, char* target, std::size_t size) {
  if (rest == nullptr) {
    if (size != 0) target[0] = '\0';
    return nullptr;
  }
  const std::string_view field = split_field(rest);
  if (size != 0) scan_word(field, target, size);
  return rest;
}

}  // namespace lumora
