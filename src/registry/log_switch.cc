#include "registry/log_switch.h"

#include "common/bounded_text.h"
#include "common/paths.h"
#include "registry/config_writer.h"

namespace lumora {

std::int32_t log_on() {
  ConfigRewrite rewrite;
  rewrite.first_line = [](char* line, std::size_t size) {
    return copy_bounded(line, size, kDefaultLogLine);
  };
  rewrite.form_command = [](const char* scratch, const char* output, char* command,
                            std::size_t size) {
    return format_scratch_pipeline(command, size, "uniq %s > %s", scratch, output);
  };
  return rewrite_config(rewrite) == ConfigRewriteResult::kScratchFailed ? -1 : 0;
}

std::int32_t log_off() {
  ConfigRewrite rewrite;
  // Tied to the start of the line: the reader takes only a line that begins with "log=" for
  // the log line, and a device whose model or node name holds "log=" keeps its line whole.
  rewrite.form_command = [](const char* scratch, const char* output, char* command,
                            std::size_t size) {
    return format_scratch_pipeline(command, size, "cat %s | sed s/'^log=.*'// | uniq > %s",
                                   scratch, output);
  };
  return rewrite_config(rewrite) == ConfigRewriteResult::kScratchFailed ? -1 : 0;
}

}  // namespace lumora
