#include "common/byte_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/unique_file.h"

namespace lumora {

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

CopyResult copy_file(const char* source, const char* destination, CopyMode mode) {
  UniqueFd in(::open(source, O_RDONLY | O_CLOEXEC));
  if (!in) return kCopyNotOpened;
  const int flags =
      O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | (mode == CopyMode::kAppend ? O_APPEND : O_TRUNC);
  UniqueFd out(::open(destination, flags, 0644));
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

int file_exists(const char* path) {
  UniqueFile file(std::fopen(path, "r"));
  return file ? 1 : 0;
}

RegularOpen open_regular_file(const char* path, UniqueFd& fd) {
  fd.reset();
  // errno is read before anything else can change it (the reset closes a descriptor).
  const int opened = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (opened < 0) return errno == ENOENT ? RegularOpen::kMissing : RegularOpen::kRefused;
  fd.reset(opened);
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) {
    fd.reset();
    return RegularOpen::kRefused;
  }
  if (!S_ISREG(info.st_mode)) {
    fd.reset();
    errno = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    return RegularOpen::kRefused;
  }
  // Reads of a regular file never wait anyway; the flag goes so that nothing reading
  // through fd later takes EAGAIN for an error.
  const int flags = ::fcntl(fd.get(), F_GETFL);
  if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
    fd.reset();
    return RegularOpen::kRefused;
  }
  return RegularOpen::kOpened;
}

}  // namespace lumora
