// The command front end: the CommandKey formed from the option word, the dispatch table that
// selects a command by it, and the usage printed when none is selected.
#pragma once

#include <cstdint>

namespace lumora {

// Runs the one command that argv[1] selects (the usage when none does). Whatever the command
// does, the process then exits with status 0.
void dispatch_command(int argc, char** argv);

// Packs the first two characters of word (as unsigned bytes), and a third one when the word
// has one, into an integer: "-a" is 0x2D61, "-D3" and "-D3verbose" are 0x2D4433. A missing
// or empty word gives 0; a one-character word gives a key that matches no command.
std::int32_t command_key(const char* word);

constexpr std::int32_t make_key(char first, char second) {
  return static_cast<std::int32_t>(static_cast<unsigned char>(first)) * 256 +
         static_cast<unsigned char>(second);
}
constexpr std::int32_t make_key(char first, char second, char third) {
  return make_key(first, second) * 256 + static_cast<unsigned char>(third);
}

// Writes the usage text to standard output.
void print_usage();

}  // namespace lumora
