// Removing registered devices by name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace lumora {

// Writes name into dest so that, inside the single-quoted sed pattern of the remove command,
// sed matches exactly these bytes: the characters sed's basic regular expressions and the s
// command's delimiter give a meaning to (\ / . * [ ] ^ $) get a backslash, and each ' becomes
// '\'' for the shell. Returns false (dest empty) for an empty name, a name holding white
// space (no device name does), or a result that does not fit size bytes.
bool escape_remove_word(std::string_view name, char* dest, std::size_t size);

// Forms in command the one pipeline that removes every device of names at once:
//   cat SCRATCH | sed -e s/'^DEVICE=NAME .*$'// [-e ...] | uniq > OUTPUT
// one substitution per name, in the order given. The reader takes a line for a device only
// when "DEVICE=" stands at its very start, so the pattern is tied there: a line that merely
// holds "DEVICE=NAME " further on (a comment, another device's node name) is left whole. A
// name escape_remove_word refuses, or whose pipeline alone would not fit the 512 bytes one
// name's remove command is allowed, is passed over. False when no name is left or the
// command does not fit size bytes.
bool format_remove_command(const char* scratch_path, std::span<const char* const> names,
                           const char* output_path, char* command, std::size_t size);

// The same for one name.
bool format_remove_command(const char* scratch_path, const char* name, const char* output_path,
                           char* command, std::size_t size);

// Empties the device lines of every name given after the option word (argv[2] on) in one
// rewrite of the configuration file, so that a run either removes them all or changes
// nothing. Returns -1 when the scratch file cannot be made, else 0.
std::int32_t remove_net_devices(int argc, char** argv);

}  // namespace lumora
