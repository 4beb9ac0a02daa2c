// Labelled copies of the configuration file: "-s:LABEL" saves one, "-l:LABEL" loads it back.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lumora {

// Forms the path of the labelled copy named by option_word ("-s:LABEL" or "-l:LABEL", leading
// blanks and tabs passed over; the label is everything after the colon, blanks included).
// Returns 1, or -1 when size is below 48, the label holds a '/', or the path does not fit.
std::int32_t config_copy_path(const char* option_word, char* buffer, std::size_t size);

// 1 when the copy was written whole, 0 otherwise (the front end then prints
// "Invalid parameter"). An existing copy or configuration file is replaced only by a
// complete new one.
std::int32_t save_config_copy(const char* option_word);
std::int32_t load_config_copy(const char* option_word);

}  // namespace lumora
