// Splitting a model line into its comma-separated fields. There is no quoting: every comma
// ends a field.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lumora {

// Takes the field at the start of rest: cuts the line at its first comma and scans the field
// as a decimal number ("%d": optional sign and digits, anything after them ignored) into
// target. An empty field, or one that does not begin with a number, leaves target as it was.
// When rest is null (an earlier field was the last one) target receives missing_value.
// Returns the text after the comma, or null when the field was the last one.
char* next_field(char* rest, std::int32_t& target, std::int32_t missing_value);

// The same for a text field ("%s"): the field is copied into target (size bytes), cut to fit.
// An empty field leaves target as it was; a missing one empties it.
char* next_field(char* rest, char* target, std::size_t size);

template <std::size_t N>
char* next_field(char* rest, char (&target)[N]) {
  return next_field(rest, target, N);
}

}  // namespace lumora
