// Passing a command line to the system shell.
#pragma once

namespace lumora {

// Flushes standard output, so that everything the tool printed stands before what the command
// prints, then runs command with /bin/sh and waits for it. Returns the shell's exit status, or
// -1 when the shell could not be run or was killed by a signal.
int run_shell(const char* command);

// Prints the command line and a line break, flushes standard output so the echo stands before
// the command's own output also in a file or a pipe, then passes the line to the shell.
void echo_and_run(const char* command);

}  // namespace lumora
