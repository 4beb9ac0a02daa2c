#include "frontend/usage.h"

#include <cstdio>

namespace lumora {
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

}  // namespace lumora
