// The key=value words of the add command and the checks on their values.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lumora {

// Copies into dest the value of the first argument (argv[0] included) that begins with key:
// the characters after the key up to a NUL, tab or blank, at most capacity - 1 of them, then
// a terminator. dest is left as it was when no argument begins with key.
void get_arg_value(int argc, char* const* argv, const char* key, char* dest, std::size_t capacity);

// 1 when name is non-empty and every byte is a letter, a digit, '-' or '_', else 0.
std::int32_t is_valid_name(const char* name);

// 1 when text is four runs of decimal digits, each 0 to 255, joined by single dots, else 0.
std::int32_t is_valid_ipv4(const char* text);

}  // namespace lumora
