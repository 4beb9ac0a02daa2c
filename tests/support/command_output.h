// What a shell command prints on standard output, for tests that compare the tool with the
// shell or the host's own programs.
#pragma once

#include <string>

namespace lumora::testing {

std::string command_output(const std::string& command);

}  // namespace lumora::testing
