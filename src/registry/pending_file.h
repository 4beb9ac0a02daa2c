// The new version of a file, written beside the file it will replace and renamed over it only
// once it is complete and on disk.
#pragma once

#include <climits>
#include <string_view>

#include "common/directory_lock.h"
#include "common/unique_file.h"

namespace lumora {

// Name pattern of pending files: this prefix and the six characters mkstemp fills in.
inline constexpr char kPendingPrefix[] = ".lumoraconf-new.";

// Whether name is one that PendingFile::create can have made.
bool is_pending_file_name(std::string_view name);

// Removes the regular files of the pending-file pattern from the directory dir_fd. Called only
// under the tool's lock: every pending file is made under it, so one found then belongs to a
// run that was killed before it could remove it.
void remove_stale_pending_files(int dir_fd);

class PendingFile {
 public:
  PendingFile() = default;
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;
  ~PendingFile();  // removes the new file unless it was committed

  // Makes the new file, empty, in the directory of target; a target that is a symbolic link
  // stays a link, and its target file is the one replaced. Only with the lock held, so that
  // the stale pending files it clears from that directory first are never a live run's.
  bool create(const char* target, const DirectoryLock& lock);
  const char* path() const { return path_; }
  int fd() const { return fd_.get(); }

  // Flushes the new file to disk, gives it the old file's permission bits (and owner and group
  // when running as root; 0666 minus the umask for a new file), renames it over the target
  // and flushes the directory.
  bool commit();

 private:
  char target_[PATH_MAX] = {};  // the file replaced: a link's target, not the link
  char dir_[PATH_MAX] = {};     // its directory, with the final slash
  char path_[PATH_MAX] = {};    // the new file, in that directory
  UniqueFd fd_;
  bool committed_ = false;
};

}  // namespace lumora
