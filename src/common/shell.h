// The system shell: quoting the values that the tool puts into its command lines, and passing
// those lines to it.
#pragma once

#include <cstddef>
#include <string_view>

namespace lumora {

// True when every byte of word is a letter, a digit or one of ". - _ : / = , + @ %": such a
// word means the same to the shell quoted or not, so it is written as it stands. The empty
// word counts as plain (it adds nothing to a command line).
bool is_plain_shell_word(std::string_view word);

// Writes word into dest as the shell must see it to pass it on as one literal argument: a plain
// word as it stands, anything else inside single quotes with each ' written as '\''.
// Returns false, leaving dest empty, when the result and its terminator do not fit size bytes.
bool shell_quote(std::string_view word, char* dest, std::size_t size);

// Flushes standard output, so that everything the tool printed stands before what the command
// prints, then runs command with /bin/sh and waits for it. Returns the shell's exit status, or
// -1 when the shell could not be run or was killed by a signal.
int run_shell(const char* command);

// Runs a pipeline of the text tools (sed, uniq, cat) over the tool's files, as run_shell does,
// but with LC_ALL=C in the pipeline's environment: every byte is then a character, and a line
// holding bytes that are not valid in the caller's locale is matched like any other. The
// caller's locale is left as it is for everything else. The pipeline runs in a process group
// of its own, known to the handler of the signals that end the run (see temporary_file.h),
// which ends it first: a signal sent to the tool alone ends the pipeline too.
int run_pipeline(const char* command);

// Prints the command line and a line break, flushes standard output so the echo stands before
// the command's own output also in a file or a pipe, then passes the line to the shell.
void echo_and_run(const char* command);

}  // namespace lumora
