#include "diagnostics/ping.h"

#include <cstdio>

#include "common/bounded_text.h"
#include "common/shell_quote.h"
#include "diagnostics/echo_and_run.h"
#include "registry/device_entry.h"
#include "registry/device_registry.h"

namespace lumora {
namespace {

constexpr std::size_t kPingCommandSize = 128;

}  // namespace

bool is_ping_host(const char* address) { return address[0] != '\0' && address[0] != '-'; }

bool format_ping_command(const char* address, char* command, std::size_t size) {
  char word[kPingCommandSize];
  return is_ping_host(address) && shell_quote(address, word, sizeof word) &&
         format_bounded(command, size, "ping %s -w 10\n", word);
}

std::int32_t ping_net_devices() {
  const std::int32_t count = count_net_devices();
  for (std::int32_t index = count - 1; index >= 0; --index) {
    char field[kDeviceTextSize];
    get_net_device_field(index, kDeviceName, field, sizeof field);
    std::printf("test %s\n", field);
    if (get_net_device_field(index, kDeviceNodename, field, sizeof field) == nullptr ||
        !is_ping_host(field)) {
      get_net_device_field(index, kDeviceIp, field, sizeof field);
    }
    char command[kPingCommandSize];
    if (format_ping_command(field, command, sizeof command)) {
      echo_and_run(command);
    }
  }
  return 1;
}

}  // namespace lumora
