// Reading the catalogue files, apart from what their lines mean: which directory entries are
// catalogue files, and how the "[Support Model]" section of one file yields model lines.
#pragma once

#include <cstddef>

namespace lumora {

// Lines are read through a buffer of this size, so a longer physical line arrives as several
// lines of at most kCatalogueLineSize - 1 characters.
inline constexpr std::size_t kCatalogueLineSize = 1024;

// 0 when a directory entry's name is a catalogue file name (ends in ".ini", case-sensitive,
// not hidden), -1 when it is not.
int is_ini_name(const char* name);

// What is done with each model line: the line, descrambled, writable and with its line break.
using ModelLineHandler = int (*)(char* line);

// Hands each model line of the file's first "[Support Model]" section to on_model_line, in
// file order. A file that cannot be opened or read yields nothing.
void for_each_model_line(const char* path, ModelLineHandler on_model_line);

}  // namespace lumora
