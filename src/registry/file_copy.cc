#include "registry/file_copy.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "common/unique_file.h"

namespace lumora {
namespace {

bool write_all(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

CopyResult copy_stream(std::FILE* in, int fd) {
  char buffer[8192];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0) {
    if (!write_all(fd, buffer, got)) return kCopyIoError;
  }
  return std::ferror(in) ? kCopyIoError : kCopyDone;
}

}  // namespace

CopyResult copy_file(const char* source, const char* destination, const char* mode) {
  UniqueFile in(std::fopen(source, "r"));
  if (!in) return kCopyNotOpened;
  const int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | (mode[0] == 'a' ? O_APPEND : O_TRUNC);
  UniqueFd out(::open(destination, flags, 0666));
  if (!out) return kCopyNotOpened;
  const CopyResult result = copy_stream(in.get(), out.get());
  // A failing close can be the first news of a full disk.
  if (::close(out.release()) != 0) return kCopyIoError;
  return result;
}

CopyResult copy_file_to_fd(const char* source, int fd) {
  UniqueFile in(std::fopen(source, "r"));
  if (!in) return kCopyNotOpened;
  return copy_stream(in.get(), fd);
}

}  // namespace lumora
