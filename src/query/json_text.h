// JSON text for the companion's answers. The files it reports on are byte strings with no
// declared encoding, so a string is written so that every byte can be had back: valid UTF-8
// stands as it is, and each byte that is not part of a valid UTF-8 sequence is written as the
// lone surrogate escape "\udcXY" (XY its value in hexadecimal, 80 to ff). Python's
// json.loads followed by str.encode("utf-8", "surrogateescape") returns the original bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace lumora {

// Length of the well-formed UTF-8 sequence that text begins with (1 to 4), or 0 when its first
// byte does not begin one: overlong forms, encoded surrogates, values above U+10FFFF and
// truncated sequences are not well formed.
std::size_t utf8_sequence_length(std::string_view text);

// Appends text to out as a JSON string, quotes included.
void append_json_string(std::string& out, std::string_view text);

}  // namespace lumora
