#include "common/run_shell.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>

namespace lumora {

int run_shell(const char* command) {
  std::fflush(stdout);
  const int status = std::system(command);
  if (status == -1 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

void echo_and_run(const char* command) {
  std::printf("%s\n", command);
  std::fflush(stdout);
  run_shell(command);
}

}  // namespace lumora
