// A file that lives only as long as the run that made it: the scratch file a rewrite
// assembles its content in, and the pending file that is renamed over the file it replaces.
// Made by mkostemp (readable and writable by its owner only), owned with its descriptor, and
// removed when its owner goes away unless it was kept. A SIGINT, SIGTERM or SIGHUP removes
// every such file of the run, then ends the process by that same signal; a signal ignored when
// the run began (nohup, a script's background job) stays ignored.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <climits>
#include <string_view>

#include "common/unique_file.h"

namespace lumora {

// Holds back the signals that remove the run's files for its lifetime, so that what is done
// under it (a file made and its slot taken, a pipeline started and named) is never seen half
// done by the handler.
class CleanupSignalsHeld {
 public:
  CleanupSignalsHeld();
  ~CleanupSignalsHeld();
  CleanupSignalsHeld(const CleanupSignalsHeld&) = delete;
  CleanupSignalsHeld& operator=(const CleanupSignalsHeld&) = delete;
  // The mask from before: the one a process started under this hold must get.
  const sigset_t& previous() const { return previous_; }

 private:
  sigset_t previous_{};
};

// Names the process group of the pipeline now writing the run's files (0: none), set under
// CleanupSignalsHeld, and the read end of a pipe whose write end every process of the
// pipeline holds (-1: none). A signal that ends the run kills that group and waits until none
// of its processes is left (the pipe then reaches its end) before it removes the files: a
// signal sent to the tool alone (kill PID, timeout, a service manager) leaves the pipeline
// running, and its redirection would make a removed file again.
void set_pipeline_group(pid_t group, int alive_fd);

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
