// Rewriting the device configuration file: the ScratchFile where a rewrite assembles the new
// content, and the shell pipeline that, under the tool's lock, turns it into a pending file
// beside the file it replaces, which takes the old file's place only when the pipeline
// succeeded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "common/paths.h"
#include "registry/file_replacement.h"

namespace lumora {

// Made by mkstemp from kScratchTemplate and kept, under the same name, until the command is
// done: it is never unlinked and made again between passes, so nobody can slip a link in
// its place. The destructor removes it on every path.
class ScratchFile {
 public:
  ScratchFile() = default;
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  ~ScratchFile();

  const char* path() const { return path_; }

 private:
  friend bool make_scratch_file(ScratchFile& scratch);
  friend void remove_scratch_file(ScratchFile& scratch);

  char path_[sizeof kScratchTemplate] = {};
  bool made_ = false;
};

// Creates the file empty (readable and writable by its owner only). False when mkstemp fails.
bool make_scratch_file(ScratchFile& scratch);

// Unlinks the file if it was made.
void remove_scratch_file(ScratchFile& scratch);

// Writes text at the end of the scratch file. False on any write error.
bool append_to_scratch(const ScratchFile& scratch, const char* text);

// Prints "Cannot write <path>".
void report_cannot_write(const char* path);

enum class RewriteResult : std::uint8_t { kDone, kCommandTooLong, kFailed };

// Room for the longest command a rewrite can run: the shell is given it as one argument, and
// Linux refuses a single argument of more than 32 pages (MAX_ARG_STRLEN), terminator included.
inline constexpr std::size_t kShellCommandSize = std::size_t{32} * 4096;

// Writes into command (size bytes) the shell command that turns the scratch file into the
// file at output_path; false when it cannot be formed whole, or there is nothing to run.
using CommandFormer = std::function<bool(const char* output_path, char* command, std::size_t size)>;

// Runs the command that form_command makes for a pending file beside target, and puts that
// file in place of target when the shell reports success. A command that turns a non-empty
// scratch file into an empty result has failed (sed or uniq died early) and is not committed
// either. kCommandTooLong changes nothing and prints nothing; kFailed prints "Cannot write
// <target>" and leaves the old file as it was. The caller holds lock.
RewriteResult rewrite_file(const DirectoryLock& lock, const char* target, const char* scratch_path,
                           const CommandFormer& form_command);

// Forms format (two %s: the scratch file, then the output file) with both paths quoted for
// the shell.
bool format_scratch_pipeline(char* command, std::size_t size, const char* format,
                             const char* scratch_path, const char* output_path);

// Runs "uniq SCRATCH > NEW" and puts NEW in place of the configuration file. Prints the
// "Cannot write" line and returns false when that fails; the old file then stays.
bool merge_into_config(const DirectoryLock& lock, const ScratchFile& scratch);

}  // namespace lumora
