// Safe replacement of the device configuration file: under the tool's lock, a shell pipeline
// turns the scratch file into a pending file beside the file it replaces, which takes the old
// file's place only when the pipeline succeeded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "common/directory_lock.h"
#include "registry/scratch_file.h"

namespace lumora {

// Takes the lock that every writer holds while it reads and replaces files, on dir (the
// configuration directory, outside the unit tests), and removes the pending files that runs
// killed under it left there. False, without printing, when the directory is missing, cannot
// be locked or cannot be written.
bool lock_for_writing(DirectoryLock& lock, const char* dir);

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
