// Copies and formats into fixed-size character fields. Every helper takes the size of the
// destination, never writes past it and always terminates what it writes.
#pragma once

#include <cstddef>
#include <string_view>

namespace lumora {

// Copies at most size - 1 bytes of text into dest (stopping early at a NUL in text) and
// terminates it. Returns true when the whole text fit. size must be at least 1.
bool copy_bounded(char* dest, std::size_t size, std::string_view text);

template <std::size_t N>
bool copy_bounded(char (&dest)[N], std::string_view text) {
  return copy_bounded(dest, N, text);
}

// snprintf into dest, returning true only when the whole text fit; dest is terminated either way.
bool format_bounded(char* dest, std::size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Length of the NUL-terminated text in a field of the given size (size when unterminated).
std::size_t bounded_length(const char* field, std::size_t size);

}  // namespace lumora
