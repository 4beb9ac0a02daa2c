// Descrambling of catalogue lines. A scrambled line starts with "?#" and two key characters;
// every other line is plain and passes unchanged. The tool only ever reads such lines.
#pragma once

#include <cstddef>

namespace lumora {

// Longest line (characters, line break included) that decode_line descrambles: fixed by the
// backend's format; a longer line is plain text to it, and so to us.
inline constexpr std::size_t kDecodeLineLimit = 496;
// The work buffer decode_line descrambles into: the backend's size, which holds any line up to
// kDecodeLineLimit with its terminator (the descrambled text is never longer than the line).
inline constexpr std::size_t kDecodeWorkSize = 512;

// Writes the descrambled text of a scrambled source, or a copy of a plain one, with its
// terminator, to destination, which must hold as many bytes as the source and its terminator.
// Always returns 0.
int decode_sub(const char* source, char* destination);

// Descrambles line in place. Returns 0, or -1 for a line over kDecodeLineLimit characters,
// which is left exactly as it was.
int decode_line(char* line);

}  // namespace lumora
