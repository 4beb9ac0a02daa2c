// Moving bytes into and between files: the one way the tool writes a file's content and
// copies one file into another, so that every short write, interruption and error is handled
// alike; and whether a file is there to be read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/unique_file.h"

namespace lumora {

// One read's worth: two pages, so that a configuration file of a few hundred devices is
// copied in a handful of system calls.
inline constexpr std::size_t kCopyChunkSize = 8192;

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

enum class CopyMode : std::uint8_t { kReplace, kAppend };

// Copies source onto destination, replacing its content or appending to it. The destination
// is opened only once the source is open, never through a symbolic link, and created 0644
// minus the umask when missing: never writable by group or others, whatever the umask.
CopyResult copy_file(const char* source, const char* destination, CopyMode mode);

// Appends the whole of source to the open descriptor fd (which stays open).
CopyResult copy_file_to_fd(const char* source, int fd);

// Whether the file at path can be opened for reading; it is closed again at once.
int file_exists(const char* path);

enum class RegularOpen : std::uint8_t {
  kOpened,
  kMissing,  // no such file (ENOENT): the one failure that means "nothing there yet"
  kRefused,  // any other failure to open, or not a regular file; errno tells which
};

// Opens path for reading when it is a regular file, or a symbolic link to one, into fd. The
// open does not wait: a FIFO or a device is refused (errno EINVAL, EISDIR for a directory)
// without a byte read, so a writer holding the lock is never stopped by one.
RegularOpen open_regular_file(const char* path, UniqueFd& fd);

}  // namespace lumora
