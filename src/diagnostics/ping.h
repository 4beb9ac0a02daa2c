#pragma once

#include <cstddef>
#include <cstdint>

namespace lumora {

// Whether address can be handed to ping: not empty, and not beginning with "-", which ping
// would read as an option ("-f" floods) rather than as a host.
bool is_ping_host(const char* address);

// Forms "ping ADDRESS -w 10\n" with the address quoted for the shell where it needs it (it
// comes from the configuration file, which anyone allowed to add devices fills). False when
// the address is no host (is_ping_host) or the command does not fit size bytes.
bool format_ping_command(const char* address, char* command, std::size_t size);

// Pings every registered device, the last of the file first, by node name or else by ip,
// after a "test NAME" line for each; a device with no address that is a host gets its test
// line and no ping. Returns 1.
std::int32_t ping_net_devices();

}  // namespace lumora
