#pragma once

#include <cstdint>

namespace lumora {

// Prints the registered devices, one line each: index, name, model, and the node name
// ("N:") or else the ip ("I:"). Returns 1.
std::int32_t list_net_devices();

}  // namespace lumora
