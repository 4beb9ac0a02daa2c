// One model line of a catalogue file: its whitespace removed, its comma-separated fields, and
// the AdvModel record made of them and appended to the list.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lumora {

// Room for the ID text of a model line: a whole line read from a file fits, so the ID is
// never cut before it is scanned.
inline constexpr std::size_t kModelIdTextSize = 1024;

// Removes all whitespace from line (in place), appends a zero-filled record to the catalogue
// list and fills it from the line's fields. Returns 0, or -1 when no memory could be had (the
// line is then dropped and the list is unchanged).
int parse_adv_model(char* line);

// The fields of a model line: there is no quoting, every comma ends a field.

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

// Also used for the values of a new device.
// Removes every blank, tab, line feed, carriage return and form feed from text in place,
// keeping the order of the other bytes. A vertical tab is not among them and stays.
void remove_whitespace(char* text);

}  // namespace lumora
