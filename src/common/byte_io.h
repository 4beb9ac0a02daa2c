// Moving bytes through file descriptors: the one way the tool writes a file's content and
// copies one file into another, so that every short write, interruption and error is handled
// alike.
#pragma once

#include <string_view>

namespace lumora {

// Writes all of bytes to fd, going on after short writes and interruptions. False on the
// first error (a full disk, a file-size limit, a closed pipe).
bool write_all(int fd, std::string_view bytes);

// Copies everything that can still be read from in_fd to out_fd. False on any read or write
// error; what was written before the error stays written.
bool copy_all(int in_fd, int out_fd);

}  // namespace lumora
