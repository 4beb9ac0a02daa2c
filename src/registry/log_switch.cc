#include "registry/log_switch.h"

#include <climits>

#include "common/bounded_text.h"
#include "common/paths.h"
#include "common/shell_quote.h"
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
  PendingFile pending;
  char scratch_word[PATH_MAX];
  char pending_word[PATH_MAX];
  char command[2 * PATH_MAX + 64];
  const bool ok = pending.create(kConfigFile) &&
                  shell_quote(scratch.path(), scratch_word, sizeof scratch_word) &&
                  shell_quote(pending.path(), pending_word, sizeof pending_word) &&
                  format_bounded(command, sizeof command, "cat %s | sed s/'log=.*'// | uniq > %s",
                                 scratch_word, pending_word) &&
                  commit_pipeline(command, scratch, pending);
  if (!ok) report_cannot_write(kConfigFile);
  return 0;
}

}  // namespace lumora
