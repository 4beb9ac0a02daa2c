// Removing registered devices by name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace lumora {

// Writes name into dest so that, inside the single-quoted sed pattern of the remove command,
// sed matches exactly these bytes: the characters sed's basic regular expressions and the s
// command's delimiter give a meaning to (\ / . * [ ] ^ $) get a backslash, and each ' becomes
// '\'' for the shell. Returns false (dest empty) for an empty name, a name holding white
// space (no device name does), or a result that does not fit size bytes.
bool escape_remove_word(std::string_view name, char* dest, std::size_t size);

// Forms the remove command for one name in command (512 bytes); false when the name cannot
// be put into it whole.
bool format_remove_command(const char* scratch_path, const char* name, const char* output_path,
                           char* command, std::size_t size);

// Empties the device line of every name given after the option word (argv[2] on), one pass
// per name, each pass rewriting the configuration file from a copy of it. Returns -1 when the
// scratch file cannot be made, else 0.
std::int32_t remove_net_devices(int argc, char** argv);

}  // namespace lumora
