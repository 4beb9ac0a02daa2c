#include "common/byte_io.h"

#include <unistd.h>

#include <cerrno>

namespace lumora {
namespace {

// One read's worth: two pages, so that a configuration file of a few hundred devices is
// copied in a handful of system calls.
constexpr std::size_t kCopyChunkSize = 8192;

}  // namespace

bool write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    // A write that takes nothing would never end the loop; only an error does that.
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

bool copy_all(int in_fd, int out_fd) {
  char chunk[kCopyChunkSize];
  for (;;) {
    const ssize_t got = ::read(in_fd, chunk, sizeof chunk);
    if (got == 0) return true;
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (!write_all(out_fd, std::string_view(chunk, static_cast<std::size_t>(got)))) return false;
  }
}

}  // namespace lumora
