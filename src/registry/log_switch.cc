#include "registry/log_switch.h"

#include "common/paths.h"
#include "registry/config_writer.h"
#include "registry/file_copy.h"
#include "registry/scratch_file.h"

namespace lumora {

std::int32_t log_on() {
  ScratchFile scratch;
  if (!make_scratch_file(scratch)) return -1;
  ConfigLock lock;
  if (!lock_config_for_rewrite(lock)) return 0;
  if (!append_to_scratch(scratch, kDefaultLogLine)) {
    report_cannot_write(scratch.path());
    return -1;
  }
  if (copy_file(kConfigFile, scratch.path(), "a") == kCopyIoError) {
    report_cannot_write(scratch.path());
    return 0;
  }
  merge_into_config(scratch);
  return 0;
}

std::int32_t log_off() {
  ScratchFile scratch;
  if (!make_scratch_file(scratch)) return -1;
  ConfigLock lock;
  if (!lock_config_for_rewrite(lock)) return 0;
  if (copy_file(kConfigFile, scratch.path(), "a") == kCopyIoError) {
    report_cannot_write(scratch.path());
    return 0;
  }
  rewrite_config(scratch, [&](const char* output, char* command, std::size_t size) {
    return format_scratch_pipeline(command, size, "cat %s | sed s/'log=.*'// | uniq > %s",
                                   scratch.path(), output);
  });
  return 0;
}

}  // namespace lumora
