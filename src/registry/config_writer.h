// Safe replacement of the device configuration file (and of labelled copies): the new content
// goes to a new file beside the old one, is flushed to disk, and is renamed over the old file
// only once it is complete. Rewrites hold an exclusive lock on the configuration directory.
#pragma once

#include <climits>
#include <cstddef>
#include <functional>

#include "common/unique_file.h"
#include "registry/scratch_file.h"

namespace lumora {

// An exclusive flock on the configuration directory, held from the first read of the
// configuration file until its replacement, so concurrent runs never lose each other's
// changes.
class ConfigLock {
 public:
  // False when the directory is missing, cannot be locked, or is not writable.
  bool acquire();

 private:
  UniqueFd dir_;
};

// Takes the lock for a rewrite of the configuration file; on failure prints the one line that
// says the file cannot be written.
bool lock_config_for_rewrite(ConfigLock& lock);

// Prints "Cannot write <path>".
void report_cannot_write(const char* path);

// The new version of a file, made with mkstemp in the directory of the file it will replace.
// A target that is a symbolic link stays a link: its target file is the one replaced.
class PendingFile {
 public:
  PendingFile() = default;
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;
  ~PendingFile();  // removes the new file unless it was committed

  bool create(const char* target);
  const char* path() const { return path_; }
  int fd() const { return fd_.get(); }

  // Flushes the new file to disk, gives it the old file's permission bits (and owner and group
  // when running as root; 0666 minus the umask for a new file), renames it over the target
  // and flushes the directory.
  bool commit();

 private:
  char target_[PATH_MAX] = {};
  char path_[PATH_MAX] = {};
  UniqueFd fd_;
  bool committed_ = false;
};

enum class RewriteResult { kDone, kCommandTooLong, kFailed };

// Writes into command (size bytes) the shell command that turns the scratch file into the
// file at output_path; false when it cannot be formed whole.
using CommandFormer = std::function<bool(const char* output_path, char* command, std::size_t size)>;

// Runs the command that form_command makes for a new file beside the configuration file, and
// puts that file in place of the configuration file when the shell reports success. A command
// that turns a non-empty scratch file into an empty result has failed (sed or uniq died
// early) and is not committed either. kCommandTooLong changes nothing and prints nothing;
// kFailed prints the "Cannot write" line and leaves the old file as it was.
RewriteResult rewrite_config(const ScratchFile& scratch, const CommandFormer& form_command);

// Forms format (two %s: the scratch file, then the output file) with both paths quoted for
// the shell.
bool format_scratch_pipeline(char* command, std::size_t size, const char* format,
                             const char* scratch_path, const char* output_path);

// Runs "uniq SCRATCH > NEW" and puts NEW in place of the configuration file. Prints the
// "Cannot write" line and returns false when that fails; the old file then stays.
bool merge_into_config(const ScratchFile& scratch);

}  // namespace lumora
