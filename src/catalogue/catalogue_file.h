// Reading the catalogue files: which directory entries are catalogue files, and how the
// "[Support Model]" section of one file yields model lines.
#pragma once

#include <cstddef>

namespace lumora {

// Lines are read through a buffer of this size, so a longer physical line arrives as several
// lines of at most kCatalogueLineSize - 1 characters.
inline constexpr std::size_t kCatalogueLineSize = 1024;

// 0 when a directory entry's name is a catalogue file name (ends in ".ini", case-sensitive,
// not hidden), -1 when it is not.
int is_ini_name(const char* name);

// Appends a record for each model line of the file's first "[Support Model]" section. A file
// that cannot be opened or read contributes nothing.
void read_adv_model_file(const char* path);

}  // namespace lumora
