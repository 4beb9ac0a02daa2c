#include "common/directory_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace lumora {

bool DirectoryLock::acquire(const char* dir) {
  UniqueFd fd(::open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd) return false;
  while (::flock(fd.get(), LOCK_EX) != 0) {
    if (errno != EINTR) return false;
  }
  if (::faccessat(fd.get(), ".", W_OK, AT_EACCESS) != 0) return false;
  dir_ = std::move(fd);
  return true;
}

}  // namespace lumora
