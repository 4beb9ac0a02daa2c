// Replacing a file whole: the lock that serialises every run that writes (an exclusive flock
// on a directory, held from the first read of the files it guards until their replacement is
// in place), and the new version of a file, written beside the file it will replace and
// renamed over it only once it is complete and on disk.
#pragma once

#include <sys/stat.h>

#include <climits>
#include <string_view>

#include "common/temporary_file.h"
#include "common/unique_file.h"

namespace lumora {

class DirectoryLock {
 public:
  // Waits for the lock on dir. False when the directory is missing, cannot be locked, or
  // cannot be written by this process (a read-only file system included): nothing could be
  // replaced in it.
  bool acquire(const char* dir);
  bool held() const { return static_cast<bool>(dir_); }
  // The locked directory, open for reading (its entries can be listed through it).
  int fd() const { return dir_.get(); }

 private:
  UniqueFd dir_;
};

// Name pattern of pending files: this prefix and the six characters mkstemp fills in.
inline constexpr char kPendingPrefix[] = ".lumoraconf-new.";

// Whether name is one that PendingFile::create can have made.
bool is_pending_file_name(std::string_view name);

// Removes the regular files of the pending-file pattern from the directory dir_fd. Called only
// under the tool's lock: every pending file is made under it, so one found then belongs to a
// run that was killed before it could remove it.
void remove_stale_pending_files(int dir_fd);

// Takes the lock that every writer holds while it reads and replaces files, on dir (the
// configuration directory, outside the unit tests), and removes the pending files that runs
// killed under it left there. False, without printing, when the directory is missing, cannot
// be locked or cannot be written.
bool lock_for_writing(DirectoryLock& lock, const char* dir);

// The file a replacement of target replaces, into resolved: target itself, or the file a
// symbolic link at target leads to. False when the link leads nowhere (realpath fails): such
// a target cannot be replaced.
bool resolve_replaced_file(const char* target, char (&resolved)[PATH_MAX]);

// The new version of a file, a TemporaryFile beside the file it replaces.
class PendingFile {
 public:
  // Makes the new file, empty, in the directory of target; a target that is a symbolic link
  // stays a link, and its target file is the one replaced. Only with the lock held, so that
  // the stale pending files it clears from that directory first are never a live run's.
  bool create(const char* target, const DirectoryLock& lock);
  const char* path() const { return file_.path(); }
  int fd() const { return file_.fd(); }

  // Flushes the new file to disk, gives it the old file's permission bits (and owner and group
  // when running as root), renames it over the target and flushes the directory. A file that
  // is new gets 0644 minus the umask: never writable by group or others, whatever the umask.
  bool commit();
  // The same, with the permission bits (and, as root, owner and group) of model: a copy
  // takes those of the file it copies.
  bool commit_like(const struct stat& model);

 private:
  bool install(mode_t mode, uid_t owner, gid_t group, bool set_owner);

  char target_[PATH_MAX] = {};  // the file replaced: a link's target, not the link
  char dir_[PATH_MAX] = {};     // its directory, with the final slash
  TemporaryFile file_;          // removed on every path unless the rename put it in place
};

}  // namespace lumora
