#include "diagnostics/echo_and_run.h"

#include <cstdio>

#include "common/run_shell.h"

namespace lumora {

void echo_and_run(const char* command) {
  std::printf("%s\n", command);
  std::fflush(stdout);
  run_shell(command);
}

}  // namespace lumora
