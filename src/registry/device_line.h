// Reading one line of the device configuration file: widening its commas, telling its kind
// and scanning a device line or the log line into fixed-size fields.
#pragma once

#include <cstddef>
#include <cstdint>

#include "registry/device_entry.h"

namespace lumora {

// The read limit of the backend's reader of this file (fgets' count: 276 characters and the
// terminator): fixed by the format, so that both sides cut an over-long line into the same
// pieces.
inline constexpr std::size_t kDeviceLineReadLimit = 277;
// The backend's line buffer, fixed with the read limit: it holds a piece after the comma step,
// its 276 characters, the six blanks widening three commas adds and the terminator (283).
inline constexpr std::size_t kDeviceLineBufferSize = 296;

// Turns each of the first three commas of line into " , ". The scan stops at the length the
// line had before the step, so once c commas were widened it ends 2c characters short of the
// new end and a comma standing there stays as it is. line must have room for six more bytes.
void widen_commas(char* line);

enum class DeviceLineKind : std::uint8_t { kSkipped, kLog, kDevice };

DeviceLineKind classify_device_line(const char* line);

// Fills name, model, id and ip or nodename from a device line; fields the line does not
// supply stay as they were (empty in a fresh entry).
void scan_device_line(const char* line, DeviceEntry& entry);

// Applies a log line to g_logfile, g_loglevel and g_logmode; a setting the line does not
// reach keeps its value.
void apply_log_line(const char* line);

}  // namespace lumora
