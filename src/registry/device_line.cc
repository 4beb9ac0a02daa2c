#include "registry/device_line.h"

#include <cstring>

#include "common/bounded_scan.h"
#include "registry/log_settings.h"

namespace lumora {

const char* device_field(const DeviceEntry& entry, unsigned selector) {
  switch (selector) {
    case kDeviceName: return entry.name;
    case kDeviceModel: return entry.model;
    case kDeviceIp: return entry.ip;
    case kDeviceNodename: return entry.nodename;
    case kDeviceId: return entry.id;
    default: return nullptr;
  }
}

void widen_commas(char* line) {
  const std::size_t length_as_read = std::strlen(line);
  std::size_t length = length_as_read;
  std::size_t p = 0;
  for (int widened = 0; widened < 3 && p < length_as_read; ++widened) {
    // Everything before length_as_read is text still, so the search need not stop at a NUL.
    const void* comma = std::memchr(line + p, ',', length_as_read - p);
    if (comma == nullptr) break;
    p = static_cast<std::size_t>(static_cast<const char*>(comma) - line);
    std::memmove(line + p + 3, line + p + 1, length - p);  // the rest and its terminator
    line[p] = ' ';
    line[p + 1] = ',';
    line[p + 2] = ' ';
    length += 2;
    p += 3;
  }
}

DeviceLineKind classify_device_line(const char* line) {
  if (line[0] == '#' || line[0] == '[' || line[0] == '\n') return DeviceLineKind::kSkipped;
  if (std::strchr(line, '=') == nullptr) return DeviceLineKind::kSkipped;
  if (std::strncmp(line, "log=", 4) == 0) return DeviceLineKind::kLog;
  return DeviceLineKind::kDevice;
}

void scan_device_line(const char* line, DeviceEntry& entry) {
  if (std::strstr(line, "IP-ADDRESS=") != nullptr) {
    bounded_scan(line, "DEVICE=%s , %s , %s , IP-ADDRESS=%s ",
                 {scan_text(entry.name), scan_text(entry.model), scan_text(entry.id),
                  scan_text(entry.ip)});
  } else if (std::strstr(line, "NODENAME=") != nullptr) {
    bounded_scan(line, "DEVICE=%s , %s , %s , NODENAME=%s ",
                 {scan_text(entry.name), scan_text(entry.model), scan_text(entry.id),
                  scan_text(entry.nodename)});
  }
}

void apply_log_line(const char* line) {
  bounded_scan(line, "log=%s , %d , %c",
               {scan_text(g_logfile), scan_int(g_loglevel), scan_char(g_logmode)});
}

}  // namespace lumora
