#include "query/query_input.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "catalogue/catalogue_file.h"
#include "common/unique_file.h"

namespace lumora {
namespace {

InputState unreadable(const char* path, int error_number, std::string& error) {
  error = std::string(path) + ": " + std::strerror(error_number);
  return InputState::kUnreadable;
}

}  // namespace

InputState probe_input(const char* path, InputKind kind, std::string& error) {
  // Never waits: a FIFO or a device opens at once and is then refused for what it is.
  const int flags =
      O_RDONLY | O_NONBLOCK | O_CLOEXEC | (kind == InputKind::kDirectory ? O_DIRECTORY : 0);
  const UniqueFd fd(::open(path, flags));
  if (!fd) {
    // Only a missing last component means "nothing registered"; a missing parent directory
    // means the same on a machine where the backend was never configured.
    if (errno == ENOENT) return InputState::kMissing;
    return unreadable(path, errno, error);
  }
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return unreadable(path, errno, error);
  // A directory opens for reading but yields no line, which the reader would take for an
  // empty file.
  if (kind == InputKind::kFile && S_ISDIR(info.st_mode)) return unreadable(path, EISDIR, error);
  // A FIFO or a device would hold the reader up, or feed it what no file holds.
  if (kind == InputKind::kFile && !S_ISREG(info.st_mode)) return unreadable(path, EINVAL, error);
  return InputState::kReadable;
}

bool catalogue_readable(const char* models_dir, const char* default_file, std::string& error) {
  if (probe_input(default_file, InputKind::kFile, error) == InputState::kUnreadable) return false;
  switch (probe_input(models_dir, InputKind::kDirectory, error)) {
    case InputState::kUnreadable: return false;
    case InputState::kMissing: return true;
    case InputState::kReadable: break;
  }
  const UniqueDir dir(::opendir(models_dir));
  if (!dir) {
    error = std::string(models_dir) + ": " + std::strerror(errno);
    return false;
  }
  while (const dirent* entry = ::readdir(dir.get())) {
    if (is_ini_name(entry->d_name) != 0) continue;
    std::string path = std::string(models_dir) + "/" + entry->d_name;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
      if (errno == ENOENT) continue;  // a dangling link names nothing, as for the reader
      error = path + ": " + std::strerror(errno);
      return false;
    }
    if (!S_ISREG(info.st_mode)) continue;
    if (probe_input(path.c_str(), InputKind::kFile, error) == InputState::kUnreadable) return false;
  }
  return true;
}

}  // namespace lumora
