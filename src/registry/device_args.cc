#include "registry/device_args.h"

#include <cstring>

#include "common/bounded_scan.h"

namespace lumora {

void get_arg_value(int argc, char* const* argv, const char* key, char* dest, std::size_t capacity) {
  if (capacity == 0) return;
  const std::size_t key_length = std::strlen(key);
  for (int i = 0; i < argc; ++i) {
    if (argv[i] == nullptr || std::strncmp(argv[i], key, key_length) != 0) continue;
    const char* value = argv[i] + key_length;
    std::size_t length = 0;
    while (length + 1 < capacity && value[length] != '\0' && value[length] != '\t' &&
           value[length] != ' ') {
      dest[length] = value[length];
      ++length;
    }
    dest[length] = '\0';
    return;
  }
}

std::int32_t is_valid_name(const char* name) {
  if (name == nullptr || name[0] == '\0') return 0;
  for (const char* p = name; *p != '\0'; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    const bool allowed = c == '-' || c == '_' || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
                         (c >= 'a' && c <= 'z');
    if (!allowed) return 0;
  }
  return 1;
}

std::int32_t is_valid_ipv4(const char* text) {
  if (text == nullptr) return 0;
  std::int32_t part[4] = {-1, -1, -1, -1};
  if (bounded_scan(text, "%d.%d.%d.%d",
                   {scan_int(part[0]), scan_int(part[1]), scan_int(part[2]), scan_int(part[3])}) != 4) {
    return 0;
  }
  for (std::int32_t value : part) {
    if (value < 0 || value > 255) return 0;
  }
  const std::size_t length = std::strlen(text);
  if (length < 7) return 0;
  if (std::strstr(text, "..") != nullptr) return 0;
  if (text[0] == '.' || text[length - 1] == '.') return 0;
  int dots = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p == '.') ++dots;
    else if (*p < '0' || *p > '9') return 0;
  }
  return dots == 3 ? 1 : 0;
}

}  // namespace lumora
