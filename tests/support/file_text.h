// Whole files as text, for tests that set up or check what the tool reads and writes.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace lumora::testing {

// The whole file, byte for byte. Throws when it cannot be read, so that a missing file never
// passes for an empty one.
std::string read_whole_file(const std::string& path);

// Replaces the file with content (its parent directories made) and gives it mode. Throws when
// it cannot be written.
void write_whole_file(const std::string& path, std::string_view content, mode_t mode = 0644);

}  // namespace lumora::testing
