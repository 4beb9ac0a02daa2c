// The dispatch table: which command an option word runs.
#pragma once

namespace lumora {

// Runs the one command that argv[1] selects (the usage when none does). Whatever the command
// does, the process then exits with status 0.
void dispatch_command(int argc, char** argv);

}  // namespace lumora
