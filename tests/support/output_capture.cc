#include "support/output_capture.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>

namespace lumora::testing {

OutputCapture::OutputCapture() {
  char path[] = "/var/tmp/lumora-output-XXXXXX";
  file_fd_ = ::mkstemp(path);
  if (file_fd_ < 0) throw std::runtime_error("mkstemp");
  ::unlink(path);
  std::fflush(stdout);
  saved_fd_ = ::dup(STDOUT_FILENO);
  if (saved_fd_ < 0 || ::dup2(file_fd_, STDOUT_FILENO) < 0) throw std::runtime_error("dup");
}

OutputCapture::~OutputCapture() { restore(); }

void OutputCapture::restore() {
  if (saved_fd_ < 0) return;
  std::fflush(stdout);
  ::dup2(saved_fd_, STDOUT_FILENO);
  ::close(saved_fd_);
  saved_fd_ = -1;
  char chunk[4096];
  ssize_t got = 0;
  off_t offset = 0;
  while ((got = ::pread(file_fd_, chunk, sizeof chunk, offset)) > 0) {
    text_.append(chunk, static_cast<std::size_t>(got));
    offset += got;
  }
  ::close(file_fd_);
  file_fd_ = -1;
}

const std::string& OutputCapture::text() {
  restore();
  return text_;
}

}  // namespace lumora::testing
