#include "registry/log_switch.h"

#include "common/paths.h"
#include "registry/config_writer.h"
#include "registry/file_copy.h"
#include "registry/scratch_file.h"

namespace lumora {

std::int32_t log_on() {
  ScratchFile scratch;
  if (!make_scratch_file(scratch)) return -1;
  DirectoryLock lock;
  if (!lock_for_writing(lock, kConfigDir)) {
    report_cannot_write(kConfigFile);
    return 0;
  }
  if (!append_to_scratch(scratch, kDefaultLogLine)) {
    report_cannot_write(scratch.path());
    return -1;
  }
  if (copy_file(kConfigFile, scratch.path(), "a") == kCopyIoError) {
    report_cannot_write(scratch.path());
    return 0;
  }
  merge_into_config(lock, scratch);
  return 0;
}

std::int32_t log_off() {
  ScratchFile scratch;
  if (!make_scratch_file(scratch)) return -1;
  DirectoryLock lock;
  if (!lock_for_writing(lock, kConfigDir)) {
    report_cannot_write(kConfigFile);
    return 0;
  }
  if (copy_file(kConfigFile, scratch.path(), "a") == kCopyIoError) {
    report_cannot_write(scratch.path());
    return 0;
  }
  // Tied to the start of the line: the reader takes only a line that begins with "log=" for
  // the log line, and a device whose model or node name holds "log=" keeps its line whole.
  rewrite_file(lock, kConfigFile, scratch.path(),
               [&](const char* output, char* command, std::size_t size) {
                 return format_scratch_pipeline(command, size,
                                                "cat %s | sed s/'^log=.*'// | uniq > %s",
                                                scratch.path(), output);
               });
  return 0;
}

}  // namespace lumora
