#pragma once

namespace lumora {

// Prints the command line and a line break, flushes standard output so the echo stands before
// the command's own output also in a file or a pipe, then passes the line to the shell.
void echo_and_run(const char* command);

}  // namespace lumora
