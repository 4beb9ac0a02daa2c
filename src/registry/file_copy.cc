#include "registry/file_copy.h"

#include <fcntl.h>
#include <unistd.h>

#include "common/byte_io.h"
#include "common/unique_file.h"

namespace lumora {

CopyResult copy_file(const char* source, const char* destination, const char* mode) {
  UniqueFd in(::open(source, O_RDONLY | O_CLOEXEC));
  if (!in) return kCopyNotOpened;
  const int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | (mode[0] == 'a' ? O_APPEND : O_TRUNC);
  UniqueFd out(::open(destination, flags, 0666));
  if (!out) return kCopyNotOpened;
  const bool copied = copy_all(in.get(), out.get());
  // A failing close can be the first news of a full disk.
  if (::close(out.release()) != 0 || !copied) return kCopyIoError;
  return kCopyDone;
}

CopyResult copy_file_to_fd(const char* source, int fd) {
  UniqueFd in(::open(source, O_RDONLY | O_CLOEXEC));
  if (!in) return kCopyNotOpened;
  return copy_all(in.get(), fd) ? kCopyDone : kCopyIoError;
}

}  // namespace lumora
