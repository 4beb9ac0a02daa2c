// Switching the backend's log line on and off.
#pragma once

#include <cstdint>

namespace lumora {

// The line log_on puts at the top of the configuration file: log file, level, mode.
inline constexpr char kDefaultLogLine[] = "log=/tmp/lum_sane.log , 1 , w\n";

// Puts the default log line first in the configuration file (once, however often it runs).
// Returns -1 when the scratch file cannot be made or written, else 0.
std::int32_t log_on();

// Empties every log line (a line that begins with "log="); every other line stays whole.
// Returns -1 when the scratch file cannot be made, else 0.
std::int32_t log_off();

}  // namespace lumora
