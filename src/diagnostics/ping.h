#pragma once

#include <cstddef>
#include <cstdint>

namespace lumora {

// Forms "ping ADDRESS -w 10\n" with the address quoted for the shell where it needs it (it
// comes from the configuration file, which anyone allowed to add devices fills). False when
// the command does not fit size bytes.
bool format_ping_command(const char* address, char* command, std::size_t size);

// Pings every registered device, the last of the file first, by node name or else by ip,
// after a "test NAME" line for each. Returns 1.
std::int32_t ping_net_devices();

}  // namespace lumora
