#include "registry/pending_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "common/bounded_text.h"

namespace lumora {
namespace {

// The six characters mkstemp puts in place of XXXXXX are letters and digits.
constexpr std::size_t kUniqueSuffixLength = 6;

bool is_suffix_character(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

mode_t current_umask() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

bool same_directory(int first_fd, int second_fd) {
  struct stat first {};
  struct stat second {};
  return ::fstat(first_fd, &first) == 0 && ::fstat(second_fd, &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

void sync_directory(const char* dir) {
  UniqueFd fd(::open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd) ::fsync(fd.get());
}

}  // namespace

bool is_pending_file_name(std::string_view name) {
  const std::string_view prefix(kPendingPrefix);
  if (name.size() != prefix.size() + kUniqueSuffixLength || name.substr(0, prefix.size()) != prefix) {
    return false;
  }
  for (char c : name.substr(prefix.size())) {
    if (!is_suffix_character(c)) return false;
  }
  return true;
}

void remove_stale_pending_files(int dir_fd) {
  // A descriptor of its own for the listing: closedir closes the one it was given.
  const int listing_fd = ::openat(dir_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listing_fd < 0) return;
  UniqueDir listing(::fdopendir(listing_fd));
  if (!listing) {
    ::close(listing_fd);
    return;
  }
  while (const dirent* entry = ::readdir(listing.get())) {
    if (!is_pending_file_name(entry->d_name)) continue;
    // Only what create could have made: a link or a directory of that name is someone else's.
    struct stat info {};
    if (::fstatat(dir_fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode)) {
      ::unlinkat(dir_fd, entry->d_name, 0);
    }
  }
}

PendingFile::~PendingFile() {
  if (path_[0] != '\0' && !committed_) ::unlink(path_);
}

bool PendingFile::create(const char* target, const DirectoryLock& lock) {
  if (!lock.held() || fd_) return false;
  struct stat info {};
  if (::lstat(target, &info) == 0 && S_ISLNK(info.st_mode)) {
    if (::realpath(target, target_) == nullptr) return false;
  } else if (!copy_bounded(target_, target)) {
    return false;
  }
  const char* slash = std::strrchr(target_, '/');
  if (slash == nullptr) return false;
  const auto dir_length = static_cast<std::size_t>(slash - target_) + 1;
  if (!copy_bounded(dir_, sizeof dir_, std::string_view(target_, dir_length))) return false;
  // The locked directory was cleared when the lock was taken; a link's target may lie in
  // another one, where killed runs leave their files as well.
  UniqueFd dir_fd(::open(dir_, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir_fd) return false;
  if (!same_directory(dir_fd.get(), lock.fd())) remove_stale_pending_files(dir_fd.get());
  if (!format_bounded(path_, sizeof path_, "%s%sXXXXXX", dir_, kPendingPrefix)) {
    path_[0] = '\0';
    return false;
  }
  fd_.reset(::mkostemp(path_, O_CLOEXEC));
  if (!fd_) {
    path_[0] = '\0';
    return false;
  }
  return true;
}

bool PendingFile::commit() {
  if (!fd_) return false;
  struct stat old {};
  if (::stat(target_, &old) == 0) {
    if (::fchmod(fd_.get(), old.st_mode & 07777) != 0) return false;
    if (::geteuid() == 0 && ::fchown(fd_.get(), old.st_uid, old.st_gid) != 0) return false;
  } else if (::fchmod(fd_.get(), 0666 & ~current_umask()) != 0) {
    return false;
  }
  // Synced after the mode and owner are set, so that a crash cannot leave the renamed file
  // with the private mode it was created with.
  if (::fsync(fd_.get()) != 0) return false;
  if (::close(fd_.release()) != 0) return false;
  if (::rename(path_, target_) != 0) return false;
  committed_ = true;
  sync_directory(dir_);
  return true;
}

}  // namespace lumora
