// A file that lives only as long as the run that made it: the scratch file a rewrite
// assembles its content in, and the pending file that is renamed over the file it replaces.
// Made by mkostemp (readable and writable by its owner only), owned with its descriptor, and
// removed when its owner goes away unless it was kept. A SIGINT, SIGTERM or SIGHUP removes
// every such file of the run, then ends the process by that same signal.
#pragma once

#include <climits>
#include <string_view>

#include "common/unique_file.h"

namespace lumora {

class TemporaryFile {
 public:
  TemporaryFile() = default;
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() { remove(); }

  // Makes the file from path_template (ending in six X, which mkostemp fills in), empty and
  // open for writing. False, with errno set, when the template does not fit a path or the
  // file cannot be made; the path is then empty.
  bool create(std::string_view path_template);

  bool made() const { return path_[0] != '\0'; }
  const char* path() const { return path_; }
  int fd() const { return fd_.get(); }

  // Closes the descriptor; false when the close reports an error (the first news of a full
  // disk can come only then).
  bool close();
  // The file now stands under another name (it was renamed into place): its name is no
  // longer this run's to remove.
  void keep();
  // Closes and unlinks the file, if it was made and not kept.
  void remove();

 private:
  char path_[PATH_MAX] = {};
  UniqueFd fd_;
  int slot_ = -1;  // its entry in the list the signal handler removes
};

}  // namespace lumora
