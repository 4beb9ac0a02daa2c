#include "registry/file_replacement.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "common/bounded_text.h"

namespace lumora {

bool DirectoryLock::acquire(const char* dir) {
  UniqueFd fd(::open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd) return false;
  while (::flock(fd.get(), LOCK_EX) != 0) {
    if (errno != EINTR) return false;
  }
  if (::faccessat(fd.get(), ".", W_OK, AT_EACCESS) != 0) return false;
  dir_ = std::move(fd);
  return true;
}

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

bool lock_for_writing(DirectoryLock& lock, const char* dir) {
  if (!lock.acquire(dir)) return false;
  remove_stale_pending_files(lock.fd());
  return true;
}

bool resolve_replaced_file(const char* target, char (&resolved)[PATH_MAX]) {
  struct stat info {};
  if (::lstat(target, &info) == 0 && S_ISLNK(info.st_mode)) {
    return ::realpath(target, resolved) != nullptr;
  }
  return copy_bounded(resolved, target);
}

bool PendingFile::create(const char* target, const DirectoryLock& lock) {
  if (!lock.held() || file_.made()) return false;
  if (!resolve_replaced_file(target, target_)) return false;
  const char* slash = std::strrchr(target_, '/');
  if (slash == nullptr) return false;
  const auto dir_length = static_cast<std::size_t>(slash - target_) + 1;
  if (!copy_bounded(dir_, sizeof dir_, std::string_view(target_, dir_length))) return false;
  // The locked directory was cleared when the lock was taken; a link's target may lie in
  // another one, where killed runs leave their files as well.
  UniqueFd dir_fd(::open(dir_, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir_fd) return false;
  if (!same_directory(dir_fd.get(), lock.fd())) remove_stale_pending_files(dir_fd.get());
  char path_template[PATH_MAX];
  if (!format_bounded(path_template, sizeof path_template, "%s%sXXXXXX", dir_, kPendingPrefix)) {
    return false;
  }
  return file_.create(path_template);
}

bool PendingFile::commit() {
  struct stat old {};
  if (::stat(target_, &old) == 0) return install(old.st_mode, old.st_uid, old.st_gid, true);
  return install(0644 & ~current_umask(), 0, 0, false);
}

bool PendingFile::commit_like(const struct stat& model) {
  return install(model.st_mode, model.st_uid, model.st_gid, true);
}

bool PendingFile::install(mode_t mode, uid_t owner, gid_t group, bool set_owner) {
  if (!file_.made()) return false;
  if (::fchmod(file_.fd(), mode & 07777) != 0) return false;
  if (set_owner && ::geteuid() == 0 && ::fchown(file_.fd(), owner, group) != 0) return false;
  // Synced after the mode and owner are set, so that a crash cannot leave the renamed file
  // with the private mode it was created with.
  if (::fsync(file_.fd()) != 0) return false;
  if (!file_.close()) return false;
  if (::rename(file_.path(), target_) != 0) return false;
  file_.keep();
  sync_directory(dir_);
  return true;
}

}  // namespace lumora
