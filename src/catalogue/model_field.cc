#include "catalogue/model_field.h"

#include <cstring>

#include "common/bounded_scan.h"

namespace lumora {
namespace {

// Terminates the field at its comma and returns what follows it, or null for the last field.
char* split_field(char* rest) {
  char* comma = std::strchr(rest, ',');
  if (comma == nullptr) return nullptr;
  *comma = '\0';
  return comma + 1;
}

}  // namespace

char* next_field(char* rest, std::int32_t& target, std::int32_t missing_value) {
  if (rest == nullptr) {
    target = missing_value;
    return nullptr;
  }
  char* after = split_field(rest);
  bounded_scan(rest, "%d", {scan_int(target)});
  return after;
}

char* next_field(char* rest, char* target, std::size_t size) {
  if (size == 0) return rest == nullptr ? nullptr : split_field(rest);
  if (rest == nullptr) {
    target[0] = '\0';
    return nullptr;
  }
  char* after = split_field(rest);
  bounded_scan(rest, "%s", {scan_text(target, size)});
  return after;
}

}  // namespace lumora
