// Whole-file copies that notice every read and write error.
#pragma once

#include <cstdint>

namespace lumora {

enum CopyResult : std::int8_t {
  kCopyIoError = -1,   // both files opened, but reading or writing failed
  kCopyNotOpened = 0,  // the source (or the destination) could not be opened
  kCopyDone = 1,
};

// Copies source onto destination, opened with mode "w" (replace) or "a" (append). The
// destination is opened only once the source is open, never through a symbolic link, and
// created 0666 minus the umask when missing.
CopyResult copy_file(const char* source, const char* destination, const char* mode);

// Appends the whole of source to the open descriptor fd (which stays open).
CopyResult copy_file_to_fd(const char* source, int fd);

}  // namespace lumora
