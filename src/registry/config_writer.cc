#include "registry/config_writer.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/bounded_text.h"
#include "common/paths.h"
#include "common/run_shell.h"
#include "common/shell_quote.h"

namespace lumora {
namespace {

constexpr char kPendingName[] = ".lumoraconf-new.XXXXXX";

off_t file_size(const char* path) {
  struct stat info {};
  return ::stat(path, &info) == 0 ? info.st_size : -1;
}

mode_t current_umask() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

void sync_directory_of(const char* path) {
  char dir[PATH_MAX];
  const char* slash = std::strrchr(path, '/');
  const std::size_t length = slash ? static_cast<std::size_t>(slash - path) + 1 : 0;
  if (length == 0 || !copy_bounded(dir, sizeof dir, std::string_view(path, length))) return;
  UniqueFd fd(::open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd) ::fsync(fd.get());
}

}  // namespace

bool ConfigLock::acquire() {
  dir_.reset(::open(kConfigDir, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir_) return false;
  while (::flock(dir_.get(), LOCK_EX) != 0) {
    if (errno != EINTR) return false;
  }
  return ::faccessat(AT_FDCWD, kConfigDir, W_OK, AT_EACCESS) == 0;
}

void report_cannot_write(const char* path) { std::printf("Cannot write %s\n", path); }

bool lock_config_for_rewrite(ConfigLock& lock) {
  if (lock.acquire()) return true;
  report_cannot_write(kConfigFile);
  return false;
}

PendingFile::~PendingFile() {
  if (path_[0] != '\0' && !committed_) ::unlink(path_);
}

bool PendingFile::create(const char* target) {
  struct stat info {};
  if (::lstat(target, &info) == 0 && S_ISLNK(info.st_mode)) {
    if (::realpath(target, target_) == nullptr) return false;
  } else if (!copy_bounded(target_, target)) {
    return false;
  }
  const char* slash = std::strrchr(target_, '/');
  if (slash == nullptr) return false;
  const int dir_length = static_cast<int>(slash - target_ + 1);
  if (!format_bounded(path_, sizeof path_, "%.*s%s", dir_length, target_, kPendingName)) {
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
  sync_directory_of(target_);
  return true;
}

bool format_scratch_pipeline(char* command, std::size_t size, const char* format,
                             const char* scratch_path, const char* output_path) {
  char scratch_word[PATH_MAX];
  char output_word[PATH_MAX];
  return shell_quote(scratch_path, scratch_word, sizeof scratch_word) &&
         shell_quote(output_path, output_word, sizeof output_word) &&
         format_bounded(command, size, format, scratch_word, output_word);
}

RewriteResult rewrite_config(const ScratchFile& scratch, const CommandFormer& form_command) {
  PendingFile pending;
  if (!pending.create(kConfigFile)) {
    report_cannot_write(kConfigFile);
    return RewriteResult::kFailed;
  }
  char command[2 * PATH_MAX + 64];
  if (!form_command(pending.path(), command, sizeof command)) return RewriteResult::kCommandTooLong;
  const bool ok = run_shell(command) == 0 &&
                  !(file_size(scratch.path()) > 0 && file_size(pending.path()) == 0) &&
                  pending.commit();
  if (!ok) {
    report_cannot_write(kConfigFile);
    return RewriteResult::kFailed;
  }
  return RewriteResult::kDone;
}

bool merge_into_config(const ScratchFile& scratch) {
  return rewrite_config(scratch, [&](const char* output, char* command, std::size_t size) {
           return format_scratch_pipeline(command, size, "uniq %s > %s", scratch.path(), output);
         }) == RewriteResult::kDone;
}

}  // namespace lumora
