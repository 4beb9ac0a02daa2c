// lumora_private_ns COMMAND [ARG...]: runs COMMAND in a new mount namespace whose mounts
// propagate nowhere (see private_mounts.h), for the shell-level tests and benchmarks, which
// bind scratch directories over /etc/opt, /opt and /tmp. Unlike `unshare -m --propagation
// private`, it also works inside a chroot whose / is not a mount point.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "sandbox/private_mounts.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("usage: lumora_private_ns COMMAND [ARG...]\n", stderr);
    return 2;
  }
  const std::string error = lumora::testing::enter_private_mount_namespace();
  if (!error.empty()) {
    std::fprintf(stderr, "lumora_private_ns: %s\n", error.c_str());
    return 125;
  }
  ::execvp(argv[1], argv + 1);
  std::fprintf(stderr, "lumora_private_ns: %s: %s\n", argv[1], std::strerror(errno));
  return 127;
}
