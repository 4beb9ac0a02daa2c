// Turning one model line of a catalogue file into an AdvModel record of the list.
#pragma once

#include <cstddef>

namespace lumora {

// Room for the ID text of a model line: a whole line read from a file fits, so the ID is
// never cut before it is scanned.
inline constexpr std::size_t kModelIdTextSize = 1024;

// Removes all whitespace from line (in place), appends a zero-filled record to the catalogue
// list and fills it from the line's fields. Returns 0, or -1 when no memory could be had (the
// line is then dropped and the list is unchanged).
int parse_adv_model(char* line);

}  // namespace lumora
