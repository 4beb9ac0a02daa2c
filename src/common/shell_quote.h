// Quoting of values that the tool puts into command lines for the system shell.
#pragma once

#include <cstddef>
#include <string_view>

namespace lumora {

// True when every byte of word is a letter, a digit or one of ". - _ : / = , + @ %": such a
// word means the same to the shell quoted or not, so it is written as it stands. The empty
// word counts as plain (it adds nothing to a command line).
bool is_plain_shell_word(std::string_view word);

// Writes word into dest as the shell must see it to pass it on as one literal argument: a plain
// word as it stands, anything else inside single quotes with each ' written as '\''.
// Returns false, leaving dest empty, when the result and its terminator do not fit size bytes.
bool shell_quote(std::string_view word, char* dest, std::size_t size);

}  // namespace lumora
