// Hand-over to the external network-configuration tools of the product family.
#pragma once

#include <cstddef>

namespace lumora {

// Longest command line handed to an external tool, in characters: fixed by the hand-over of
// the product family (a 255-byte limit, terminator included). The line is cut there, outside
// any quotes (format_netconfig_command), rather than somewhere the shell would misread.
inline constexpr std::size_t kNetconfigCommandMax = 254;

// Forms the command line "<tool> <argument>" into command (at least kNetconfigCommandMax + 1
// bytes). A plain argument goes in as it stands and the line is cut at kNetconfigCommandMax
// characters; any other argument is quoted for the shell, shortened first where needed so
// that the cut never falls inside the quotes. A missing argument leaves the line ending in a
// blank.
void format_netconfig_command(const char* tool, const char* argument, char* command,
                              std::size_t size);

// Runs the first tool with the argument; if it is missing or ends with a non-zero status,
// runs the second one. Silent when neither exists.
void run_netconfig_tool(const char* argument);

// Asks the second tool for the scanners on the network.
void run_network_query();

}  // namespace lumora
