#include "common/bounded_text.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace lumora {

bool copy_bounded(char* dest, std::size_t size, std::string_view text) {
  if (size == 0) return false;
  std::size_t length = 0;
  while (length < text.size() && text[length] != '\0') ++length;
  const bool fits = length < size;
  if (!fits) length = size - 1;
  std::memcpy(dest, text.data(), length);
  dest[length] = '\0';
  return fits && length == text.size();
}

bool format_bounded(char* dest, std::size_t size, const char* format, ...) {
  if (size == 0) return false;
  va_list args;
  va_start(args, format);
  const int written = std::vsnprintf(dest, size, format, args);
  va_end(args);
  if (written < 0) {
    dest[0] = '\0';
    return false;
  }
  return static_cast<std::size_t>(written) < size;
}

std::size_t bounded_length(const char* field, std::size_t size) {
  const void* end = std::memchr(field, '\0', size);
  return end ? static_cast<std::size_t>(static_cast<const char*>(end) - field) : size;
}

}  // namespace lumora
