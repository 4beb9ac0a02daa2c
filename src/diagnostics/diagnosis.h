#pragma once

#include <cstdint>

namespace lumora {

// Prints what an administrator needs to see why a scanner is not found: the file-system
// table, the USB bus, what the SANE tools find, above level 2 the model catalogue and the
// registered devices, and last the ping of every registered device. Returns 1.
std::int32_t run_diagnosis(std::int32_t level);

}  // namespace lumora
