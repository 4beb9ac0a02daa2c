// One registered network scanner as the device file describes it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lumora {

inline constexpr std::size_t kDeviceTextSize = 64;  // 63 characters and the terminator

// Fields in memory order; a device line holds them as name, model, id, address.
struct DeviceEntry {
  char name[kDeviceTextSize];
  char model[kDeviceTextSize];     // with its double quotes
  char ip[kDeviceTextSize];        // IP-ADDRESS= lines only
  char nodename[kDeviceTextSize];  // NODENAME= lines only
  char id[kDeviceTextSize];        // "0x%x:0x%x" or "Unknown"
  DeviceEntry* next;
};

// Selects one text field of a DeviceEntry; any other value selects nothing.
enum DeviceField : std::uint8_t {
  kDeviceName = 0,
  kDeviceModel = 1,
  kDeviceIp = 2,
  kDeviceNodename = 3,
  kDeviceId = 4,
};

// The field that selector picks, or null for a selector above 4.
const char* device_field(const DeviceEntry& entry, unsigned selector);

}  // namespace lumora
