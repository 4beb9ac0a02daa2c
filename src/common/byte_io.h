// Moving bytes into and between files: the one way the tool writes a file's content and
// copies one file into another, so that every short write, interruption and error is handled
// alike; and whether a file is there to be read.
#pragma once

#include <cstdint>
#include <string_view>

namespace lumora {

// Writes all of bytes to fd, going on after short writes and interruptions. False on the
// first error (a full disk, a file-size limit, a closed pipe).
bool write_all(int fd, std::string_view bytes);

// Copies everything that can still be read from in_fd to out_fd. False on any read or write
// error; what was written before the error stays written.
bool copy_all(int in_fd, int out_fd);

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

// Whether the file at path can be opened for reading; it is closed again at once.
int file_exists(const char* path);

}  // namespace lumora
