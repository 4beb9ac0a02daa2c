// The backend's log settings as the device file's log line gives them. Only the device file
// reader writes them; they are exported by name for the backend's own use.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr std::size_t kLogFileSize = 260;

extern "C" {
extern char g_logfile[kLogFileSize];
extern std::int32_t g_loglevel;
extern char g_logmode;
}
