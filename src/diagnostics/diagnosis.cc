#include "diagnostics/diagnosis.h"

#include <cstdio>

#include "catalogue/model_list.h"
#include "common/shell.h"
#include "diagnostics/device_listing.h"
#include "diagnostics/ping.h"

namespace lumora {
namespace {

constexpr const char* kSeparator = "-----------------------------\n";

constexpr const char* kDiagnosisCommands[] = {
    "cat /etc/fstab",
    "sane-find-scanner",
    "ls -R -all /proc/bus/usb",
    "cat /proc/bus/usb/devices",
    "scanimage -L",
};

}  // namespace

std::int32_t run_diagnosis(std::int32_t level) {
  for (const char* command : kDiagnosisCommands) {
    std::fputs(kSeparator, stdout);
    std::fflush(stdout);
    echo_and_run(command);
  }
  std::fputs(kSeparator, stdout);
  load_adv_models();
  if (level > 2) dump_adv_models();
  std::fputs(kSeparator, stdout);
  if (level > 2) list_net_devices();
  std::fputs("ping\n", stdout);
  ping_net_devices();
  return 1;
}

}  // namespace lumora
