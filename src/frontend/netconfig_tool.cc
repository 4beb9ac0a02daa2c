#include "frontend/netconfig_tool.h"

#include <cstring>
#include <string_view>

#include "common/bounded_text.h"
#include "common/byte_io.h"
#include "common/paths.h"
#include "common/shell.h"

namespace lumora {

void format_netconfig_command(const char* tool, const char* argument, char* command,
                              std::size_t size) {
  const std::size_t limit = size < kNetconfigCommandMax + 1 ? size : kNetconfigCommandMax + 1;
  std::string_view word = argument ? argument : "";
  if (is_plain_shell_word(word)) {
    // A plain word is cut like any text: the cut can only shorten the word itself.
    format_bounded(command, limit, "%s %.*s", tool, static_cast<int>(word.size()), word.data());
    return;
  }
  const std::size_t tool_length = std::strlen(tool);
  // Room for the quoted word and the NUL; with none, the line is the tool and its blank.
  const std::size_t room = limit > tool_length + 1 ? limit - tool_length - 1 : 1;
  char quoted[kNetconfigCommandMax + 1];
  while (!shell_quote(word, quoted, room < sizeof quoted ? room : sizeof quoted)) {
    word.remove_suffix(1);
  }
  format_bounded(command, limit, "%s %s", tool, quoted);
}

void run_netconfig_tool(const char* argument) {
  char command[kNetconfigCommandMax + 2] = {};
  if (file_exists(kFirstNetconfigTool)) {
    format_netconfig_command(kFirstNetconfigTool, argument, command, sizeof command);
    if (run_shell(command) == 0) return;
  }
  if (file_exists(kSecondNetconfigTool)) {
    format_netconfig_command(kSecondNetconfigTool, argument, command, sizeof command);
    run_shell(command);
  }
}

void run_network_query() { run_shell(kQueryCommand); }

}  // namespace lumora
