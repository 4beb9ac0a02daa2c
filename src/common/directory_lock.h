// The lock that serialises every run that writes: an exclusive flock on a directory, held
// from the first read of the files it guards until their replacement is in place.
#pragma once

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

}  // namespace lumora
