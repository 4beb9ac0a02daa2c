#include "registry/device_registry.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/paths.h"
#include "common/unique_file.h"
#include "registry/device_line.h"

namespace lumora {
namespace {

DeviceEntry* registry_head = nullptr;
DeviceEntry* registry_tail = nullptr;

void append_entry(DeviceEntry* entry) {
  if (registry_tail == nullptr) {
    registry_head = entry;
  } else {
    registry_tail->next = entry;
  }
  registry_tail = entry;
}

void ensure_loaded() {
  if (registry_head == nullptr) load_net_devices();
}

char* copy_field(const DeviceEntry& entry, unsigned field, char* buffer, std::int32_t length) {
  const char* text = device_field(entry, field);
  if (text == nullptr || text[0] == '\0') {
    buffer[0] = '\0';
    return nullptr;
  }
  // The field fills the buffer and the rest is NUL; the last byte is always a terminator, so
  // a caller with a short buffer still gets a string.
  const std::size_t size = static_cast<std::size_t>(length);
  std::strncpy(buffer, text, size);
  buffer[size - 1] = '\0';
  return buffer;
}

}  // namespace

std::int32_t load_net_devices() { return load_net_devices_from(kConfigFile); }

std::int32_t load_net_devices_from(const char* path) {
  UniqueFile file(std::fopen(path, "r"));
  if (!file) return -1;
  char line[kDeviceLineBufferSize];
  std::int32_t appended = 0;
  while (std::fgets(line, static_cast<int>(kDeviceLineReadLimit), file.get()) != nullptr) {
    widen_commas(line);
    switch (classify_device_line(line)) {
      case DeviceLineKind::kSkipped:
        break;
      case DeviceLineKind::kLog:
        apply_log_line(line);
        break;
      case DeviceLineKind::kDevice: {
        auto* entry = static_cast<DeviceEntry*>(std::calloc(1, sizeof(DeviceEntry)));
        if (entry == nullptr) return -1;
        scan_device_line(line, *entry);
        append_entry(entry);
        ++appended;
        break;
      }
    }
  }
  return appended;
}

std::int32_t count_net_devices() {
  ensure_loaded();
  std::int32_t count = 0;
  for (const DeviceEntry* entry = registry_head; entry != nullptr; entry = entry->next) ++count;
  return count;
}

char* get_net_device_field(std::int32_t index, unsigned field, char* buffer, std::int32_t length) {
  if (buffer == nullptr || length <= 0) return nullptr;
  if (index < 0) {
    buffer[0] = '\0';
    return nullptr;
  }
  ensure_loaded();
  const DeviceEntry* entry = registry_head;
  for (std::int32_t i = 0; i < index && entry != nullptr; ++i) entry = entry->next;
  if (entry == nullptr) {
    buffer[0] = '\0';
    return nullptr;
  }
  return copy_field(*entry, field, buffer, length);
}

char* find_net_device_field(const char* name, unsigned field, char* buffer, std::int32_t length) {
  if (buffer == nullptr || length <= 0 || name == nullptr) return nullptr;
  ensure_loaded();
  if (registry_head == nullptr) return nullptr;
  // Every entry is searched: an entry without a name (a hand-written line the reader could
  // not scan) must not hide the devices registered below it.
  for (const DeviceEntry* entry = registry_head; entry != nullptr; entry = entry->next) {
    if (entry->name[0] != '\0' && std::strcmp(entry->name, name) == 0) {
      return copy_field(*entry, field, buffer, length);
    }
  }
  buffer[0] = '\0';
  return nullptr;
}

std::int32_t free_net_devices() {
  DeviceEntry* entry = registry_head;
  while (entry != nullptr) {
    DeviceEntry* next = entry->next;
    std::free(entry);
    entry = next;
  }
  registry_head = nullptr;
  registry_tail = nullptr;
  return 0;
}

const DeviceEntry* first_net_device() { return registry_head; }

}  // namespace lumora
