#include "diagnostics/device_listing.h"

#include <cstdio>
#include <cstring>

#include "registry/device_registry.h"

namespace lumora {
namespace {

// Columns are 20 wide; a text of 19 characters or more is followed by a single blank.
void print_column(const char* text) {
  const std::size_t length = std::strlen(text);
  std::fputs(text, stdout);
  const std::size_t blanks = length <= 18 ? 20 - length : 1;
  for (std::size_t i = 0; i < blanks; ++i) std::fputc(' ', stdout);
}

}  // namespace

std::int32_t list_net_devices() {
  const std::int32_t count = count_net_devices();
  std::fputs("\nDevices on network\n", stdout);
  for (std::int32_t index = 0; index < count; ++index) {
    char name[kDeviceTextSize];
    char model[kDeviceTextSize];
    char ip[kDeviceTextSize];
    char nodename[kDeviceTextSize];
    get_net_device_field(index, kDeviceName, name, sizeof name);
    get_net_device_field(index, kDeviceModel, model, sizeof model);
    get_net_device_field(index, kDeviceIp, ip, sizeof ip);
    get_net_device_field(index, kDeviceNodename, nodename, sizeof nodename);
    std::printf("%3d ", static_cast<int>(index));
    print_column(name);
    print_column(model);
    if (nodename[0] != '\0') {
      std::printf("N:%s", nodename);
    } else if (ip[0] != '\0') {
      std::printf("I:%s", ip);
    }
    std::fputc('\n', stdout);
  }
  return 1;
}

}  // namespace lumora
