// Rewriting the device configuration file: the one way in of every command that rewrites it
// (-a, -r, -LI, -LO), the ScratchFile where a rewrite assembles the new content, and the shell
// pipeline that, under the tool's lock, turns it into a pending file beside the file it
// replaces, which takes the old file's place only when the pipeline succeeded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "common/paths.h"
#include "common/temporary_file.h"
#include "registry/file_replacement.h"

namespace lumora {

// Made by mkstemp from kScratchTemplate and kept, under the same name and open, until the
// command is done: it is never unlinked and made again between passes, so nobody can slip a
// link in its place, and it is written only through its own descriptor.
class ScratchFile {
 public:
  // False, with errno set, when the file cannot be made.
  bool create() { return file_.create(kScratchTemplate); }
  const char* path() const { return file_.path(); }
  int fd() const { return file_.fd(); }

 private:
  TemporaryFile file_;
};

// Prints "Cannot write <path>".
void report_cannot_write(const char* path);

enum class RewriteResult : std::uint8_t { kDone, kCommandTooLong, kFailed };

// Room for the longest command a rewrite can run: the shell is given it as one argument, and
// Linux refuses a single argument of more than 32 pages (MAX_ARG_STRLEN), terminator included.
inline constexpr std::size_t kShellCommandSize = std::size_t{32} * 4096;

// Writes into command (size bytes) the shell command that turns the scratch file into the
// file at output_path; false when it cannot be formed whole, or there is nothing to run.
using CommandFormer = std::function<bool(const char* output_path, char* command, std::size_t size)>;

// Runs the command that form_command makes for a pending file beside target (with LC_ALL=C,
// see run_pipeline), and puts that file in place of target when the shell reports success. A
// command that turns a non-empty scratch file into an empty result has failed (sed or uniq
// died early) and is not committed either. kCommandTooLong changes nothing and prints
// nothing; kFailed prints "Cannot write <target>" and leaves the old file as it was. The
// caller holds lock.
RewriteResult rewrite_file(const DirectoryLock& lock, const char* target, const char* scratch_path,
                           const CommandFormer& form_command);

// Forms format (two %s: the scratch file, then the output file) with both paths quoted for
// the shell.
bool format_scratch_pipeline(char* command, std::size_t size, const char* format,
                             const char* scratch_path, const char* output_path);

// The one way in of the commands that rewrite the configuration file.

// Room for the line a command puts in front of the file's content (a device line of -a: five
// fields of 63 characters at most and the fixed words around them).
inline constexpr std::size_t kFirstLineSize = 512;

struct ConfigRewrite {
  // Called once the lock was tried, before anything else is read or written: fills line
  // (kFirstLineSize bytes; left empty, nothing goes first) with what the command puts in
  // front of the file's content. False when the command refuses (it printed why): nothing is
  // written then. Null: nothing goes first.
  std::function<bool(char* line, std::size_t size)> first_line;
  // Forms the pipeline from the scratch file (first argument) to the output file.
  std::function<bool(const char* scratch_path, const char* output_path, char* command,
                     std::size_t size)>
      form_command;
};

enum class ConfigRewriteResult : std::uint8_t {
  kDone,
  kRefused,         // first_line refused
  kScratchFailed,   // the scratch file could not be made or filled
  kCommandTooLong,  // as from rewrite_file: nothing changed, nothing printed
  kFailed,          // "Cannot write" the configuration file was printed
};

// Makes the scratch file ("Cannot write /tmp/lumsane_tempfile5_XXXXXX" when it cannot be
// made), takes the lock, lets the command put its line first, copies the configuration file
// behind it and runs the command's pipeline over the result into the file's place. Only a
// missing configuration file counts as an empty one: any other failure to open or read it,
// or a configuration file that is no regular file (a FIFO, a directory, a device), prints
// "Cannot write <configuration file>" before any pipeline runs and changes nothing; a failed
// write to the scratch file prints "Cannot write <scratch file>". Every outcome but kDone,
// kRefused and kCommandTooLong has printed one line.
ConfigRewriteResult rewrite_config(const ConfigRewrite& rewrite);

}  // namespace lumora
