// The DeviceRegistry: the registered devices as read from the device configuration file, and
// the lookups through which the other commands see them.
#pragma once

#include <cstdint>

#include "registry/device_entry.h"

namespace lumora {

// Reads the device configuration file and appends an entry for each device line, applying
// log lines to the log settings on the way. Returns the number of entries appended, or -1
// when the file cannot be opened or an entry cannot be allocated (the entries read before
// then stay). Called only while the registry is empty.
std::int32_t load_net_devices();

// load_net_devices on a file of the caller's choice; the lookups only ever load kConfigFile.
std::int32_t load_net_devices_from(const char* path);

// Number of registered devices; loads the registry first while it is empty.
std::int32_t count_net_devices();

// Copies field `field` of the device at `index` (0 is the first line of the file) into buffer
// (`length` bytes, always terminated, the rest NUL-filled). Returns buffer, or null when
// there is no such device or field or the field is empty; the buffer is then emptied.
char* get_net_device_field(std::int32_t index, unsigned field, char* buffer, std::int32_t length);

// As get_net_device_field, for the first device whose name equals `name` exactly. When no
// device is registered the buffer is left as it was.
char* find_net_device_field(const char* name, unsigned field, char* buffer, std::int32_t length);

// Frees every entry, so that the next lookup reads the file again. Returns 0.
std::int32_t free_net_devices();

// The first entry, or null while the registry is empty (not loaded).
const DeviceEntry* first_net_device();

}  // namespace lumora
