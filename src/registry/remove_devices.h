// Removing registered devices by name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace lumora {

// The name by which "-r" removes line (a line of the device file without its line feed), or
// empty when no "-r" removes it. This is the name the backend's reader gives the device of a
// line of up to 276 bytes, read as the reader reads it, up to its first NUL byte:
//   - the line begins with "DEVICE=", and "IP-ADDRESS=" or "NODENAME=" starts within its
//     first 276 bytes (the reader's first read of a line; without either text the reader
//     leaves the name empty);
//   - after "DEVICE=" and any white space the name runs up to the next white space, comma
//     or the line's end; a comma standing first is the name "," (the reader puts blanks
//     around it);
//   - the reader keeps 63 bytes of a longer name, and so does this: every line whose name
//     begins with the same 63 bytes is removed by them.
// Longer lines are read by the backend in pieces of 276 bytes; a device it finds in a later
// piece, or a name cut by the end of the first piece, is not one of these.
std::string_view removal_name(std::string_view line);

// Whether the backend's reader still finds a device named name in text (the content of a
// device file) once "-r name" has emptied the lines removal_name gives name for: a device it
// reads from a later piece of a line over 276 bytes, which no "-r" removes.
bool registered_after_removal(std::string_view text, std::string_view name);

// The longest name "-r" takes: what the reader keeps of a name.
inline constexpr std::size_t kRemovableNameMax = 63;
// Room for any name escape_remove_word takes: a byte becomes at most four ('\'').
inline constexpr std::size_t kRemoveWordSize = 4 * kRemovableNameMax + 1;

// Writes name into dest so that, inside the single-quoted extended regular expression of the
// remove command, sed matches exactly these bytes: the characters an extended expression or
// the s command's delimiter give a meaning to (\ / . * [ ] ^ $ + ? ( ) { } |) get a
// backslash, and each ' becomes '\'' for the shell. Returns false (dest empty) for a name no
// line is removed by: empty, longer than kRemovableNameMax, holding white space (a line feed
// included) or a comma other than the name "," itself; or when the result does not fit size
// bytes.
bool escape_remove_word(std::string_view name, char* dest, std::size_t size);

// Forms in command the one pipeline that removes every device of names at once:
//   cat SCRATCH | sed -E -e '/^DEVICE=[[:space:]]*((NAMES)([[:space:],]|$)|NAMES63)/{
//     /ADDRESS TEXT IN THE FIRST 276 BYTES/s/.*//;}' | uniq > OUTPUT
// one expression for all names, each set of names shaped as a tree of the bytes they share
// (office-1, office-2: office-(1|2)), so sed follows one branch per byte of a line whatever
// the number of names; a name of 63 bytes (or ",") is matched without what follows it, as the
// reader cuts there. The lines emptied are exactly those removal_name gives one of names for. Names
// escape_remove_word refuses are passed over. False when no name is left or the command does
// not fit size bytes.
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
