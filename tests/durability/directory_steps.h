// What a traced run asked of the files of one directory, as the steps a crash can cut short:
// creating, writing, truncating and changing the mode of a file, forcing a file or the
// directory to disk, renaming and unlinking. The run's processes are followed through their
// descriptor tables (open, dup, fork, exec, close), so a write by a shell or by sed through an
// inherited descriptor lands on the file it was opened on, at the offset it had; files are told
// apart by identity, not by name, so a rename moves a file and not its writes. Files outside
// the directory are passed over; a call the steps cannot express on a file of the directory
// (data copied in by sendfile, a link, a file renamed in from elsewhere) is refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "durability/strace_lines.h"

namespace lumora::testing {

enum class StepKind : std::uint8_t {
  kCreate,          // a new, empty file under name
  kWrite,           // bytes at offset
  kTruncate,        // to size
  kChmod,           // to mode
  kFsync,           // the file's data (and mode, unless data_only) forced to disk
  kRename,          // name → new_name, replacing what new_name was
  kUnlink,          // name
  kDirectoryFsync,  // every entry change of the directory forced to disk
  kSyncAll,         // sync(): everything forced to disk
};

struct Step {
  StepKind kind = StepKind::kWrite;
  int file = -1;         // the file the step acts on (-1: none, as for the directory's fsync)
  std::string name;      // kCreate, kUnlink: the entry; kRename: the old one
  std::string new_name;  // kRename
  std::uint64_t offset = 0;
  std::string bytes;       // kWrite
  std::uint64_t size = 0;  // kTruncate
  unsigned mode = 0;       // kCreate, kChmod
  bool data_only = false;  // kFsync from fdatasync: the mode is not forced
  std::size_t line = 0;    // the trace line of the call
};

// One line: "line 412: rename .lumoraconf-new.K6pqvG -> lumsanenetdevice.cfg".
std::string describe(const Step& step);

struct DirectoryFile {
  std::string content;
  unsigned mode = 0;  // permission bits
  bool operator==(const DirectoryFile&) const = default;
};
// The regular files of a directory by entry name.
using DirectorySnapshot = std::map<std::string, DirectoryFile>;

struct StepOptions {
  std::string directory;  // absolute, as the traced processes saw it
  unsigned umask = 022;   // of the first traced process
  std::string working_dir = "/";
};

struct DirectorySteps {
  std::vector<Step> steps;
  // Files are numbered from 0: those of the snapshot taken before the run, in name order, then
  // each file the run created.
  int file_count = 0;
};

// The steps of calls (parse_trace) on the directory whose files before the run were before.
// Throws TraceError for what the steps cannot express, or when the trace contradicts before
// (a file opened there that did not exist and was not created).
DirectorySteps directory_steps(const std::vector<TracedCall>& calls,
                               const DirectorySnapshot& before, const StepOptions& options);

}  // namespace lumora::testing
