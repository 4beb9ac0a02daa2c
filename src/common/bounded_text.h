// Fixed-size character fields: copies and formats into them, the scanning of a line into
// them, and the removal of whitespace from them. Every helper takes the size of the destination, never writes past it and always
// terminates what it writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
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

// Scanning: a scanf-like reader of one line into fixed-size fields. It knows the conversions that the
// file formats use (%s, %d, %x, %c): whitespace in the pattern matches any run of whitespace
// (none included), other pattern bytes match themselves, and reading stops at the first
// mismatch, keeping what was stored up to there. Unlike sscanf, a word longer than its field
// is cut to the field (the rest of the word is still consumed) and numbers saturate instead
// of overflowing.

struct ScanTarget {
  enum class Kind : std::uint8_t { kText, kInt, kHex, kChar };
  Kind kind;
  void* place;
  std::size_t size;  // bytes of a text field, terminator included
};

template <std::size_t N>
ScanTarget scan_text(char (&field)[N]) {
  return {ScanTarget::Kind::kText, field, N};
}
inline ScanTarget scan_text(char* field, std::size_t size) {
  return {ScanTarget::Kind::kText, field, size};
}
inline ScanTarget scan_int(std::int32_t& value) { return {ScanTarget::Kind::kInt, &value, 0}; }
inline ScanTarget scan_hex(std::uint32_t& value) { return {ScanTarget::Kind::kHex, &value, 0}; }
inline ScanTarget scan_char(char& value) { return {ScanTarget::Kind::kChar, &value, 0}; }

// Reads text (up to its end or a NUL) against pattern, storing conversions into targets in
// order. Returns the number of conversions stored. A pattern with more conversions than
// targets stops at the first conversion without a target.
int bounded_scan(std::string_view text, std::string_view pattern,
                 std::initializer_list<ScanTarget> targets);

// One "%s" or one "%d" of the above on its own, for a caller that has already cut the text
// into fields: no pattern to walk, the same result.
bool scan_word(std::string_view text, char* field, std::size_t size);
bool scan_decimal(std::string_view text, std::int32_t& value);

// Used for the catalogue's model lines and the values of a new device.
// Removes every blank, tab, line feed, carriage return and form feed from text in place,
// keeping the order of the other bytes. A vertical tab is not among them and stays.
void remove_whitespace(char* text);

}  // namespace lumora
