#pragma once

namespace lumora {

// Writes the usage text to standard output.
void print_usage();

}  // namespace lumora
