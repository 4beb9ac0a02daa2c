#include "frontend/dispatch.h"

#include <cstdio>
#include <cstring>

#include "common/bounded_text.h"
#include "diagnostics/diagnosis.h"
#include "diagnostics/ping.h"
#include "frontend/netconfig_tool.h"
#include "registry/add_device.h"
#include "registry/config_copy.h"
#include "registry/log_switch.h"
#include "registry/remove_devices.h"

namespace lumora {

std::int32_t command_key(const char* word) {
  if (word == nullptr || word[0] == '\0') return 0;
  if (word[1] == '\0') return make_key(word[0], '\0');
  if (word[2] == '\0') return make_key(word[0], word[1]);
  return make_key(word[0], word[1], word[2]);
}

namespace {

// Installers and front ends match these lines as they stand, trailing blanks included; the
// header has no line break of its own, so the first line printed is the header followed by
// the first entry. The empty slot ends the table.
constexpr const char* kUsageLines[] = {
    "   OPTION:",
    "       -a name=FRIENDLY-NAME model=MODEL-NAME ip=xx.xx.xx.xx    ",
    "       -a name=FRIENDLY-NAME model=MODEL-NAME nodename=LQX_xxxxx ",
    "                   : Add network scanner",
    "       -r FRIENDLY-NAME [FRIENDLY-NAME ...]",
    "                   : Remove network scanner",
    "       -q          : Query network scanners",
    "       -d          : Diagnosis",
    "       -p          : Ping (for network scanners)  ",
    "       -s:[LABEL]  : Save current configuration",
    "       -l:[LABEL]  : Load saved configuration",
    "",
};

}  // namespace

void print_usage() {
  std::fputs("USAGE: lumoraconf [-OPTION]", stdout);
  for (const char* const* line = kUsageLines; **line != '\0'; ++line) {
    std::fputs(*line, stdout);
    std::fputc('\n', stdout);
  }
}

namespace {

// The word handed over after "-a": 511 characters and the terminator. More than the command
// line to the tool can carry (kNetconfigCommandMax), so only that line ever cuts the word.
constexpr std::size_t kHandOverWordSize = 512;

using CommandHandler = void (*)(int argc, char** argv);

void add_command(int argc, char** argv) {
  if (argc == 2) {
    run_netconfig_tool(nullptr);
    return;
  }
  // Only the first word after "-a" decides: a key=value word registers a device, anything
  // else is handed to the external tools.
  if (std::strchr(argv[2], '=') != nullptr) {
    add_net_device(argc, argv);
    return;
  }
  char argument[kHandOverWordSize] = {};
  copy_bounded(argument, argv[2]);
  run_netconfig_tool(argument);
}

void remove_command(int argc, char** argv) { remove_net_devices(argc, argv); }

void save_command(int, char** argv) {
  if (save_config_copy(argv[1]) == 0) std::fputs("Invalid parameter\n", stdout);
}

void load_command(int, char** argv) {
  if (load_config_copy(argv[1]) == 0) std::fputs("Invalid parameter\n", stdout);
}

void diagnosis_command(int, char**) { run_diagnosis(0); }
void detailed_diagnosis_command(int, char**) { run_diagnosis(3); }
void ping_command(int, char**) { ping_net_devices(); }
void log_on_command(int, char**) { log_on(); }
void log_off_command(int, char**) { log_off(); }
void query_command(int, char**) { run_network_query(); }
void nothing_command(int, char**) {}
void usage_command(int, char**) { print_usage(); }

struct Command {
  std::int32_t key;
  CommandHandler run;
};

constexpr Command kCommands[] = {
    {make_key('-', 'a'), add_command},
    {make_key('-', 'r'), remove_command},
    {make_key('-', 'q'), query_command},
    {make_key('-', 'd'), diagnosis_command},
    {make_key('-', 'D', '3'), detailed_diagnosis_command},
    {make_key('-', 'p'), ping_command},
    {make_key('-', 's', ':'), save_command},
    {make_key('-', 'l', ':'), load_command},
    {make_key('-', 'L', 'I'), log_on_command},
    {make_key('-', 'L', 'O'), log_off_command},
    {make_key('-', 'i'), nothing_command},
    {make_key('-', 'h'), usage_command},
    {make_key('-', 'H'), usage_command},
    {make_key('-', '?'), usage_command},
};

}  // namespace

void dispatch_command(int argc, char** argv) {
  const std::int32_t key = argc > 1 ? command_key(argv[1]) : 0;
  for (const Command& command : kCommands) {
    if (command.key == key) {
      command.run(argc, argv);
      return;
    }
  }
  print_usage();
}

}  // namespace lumora
