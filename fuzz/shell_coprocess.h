// One /bin/sh kept running for the whole fuzz run and fed scripts through a pipe, so that a
// check by the real shell costs a pipe round trip instead of a fork and an exec.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

namespace lumora::fuzz {

class ShellCoprocess {
 public:
  // Starts /bin/sh reading its commands from a pipe, in dir, with only PATH=/usr/bin:/bin and
  // the C locale in its environment and the fuzzer's standard error. Ignores SIGPIPE in this
  // process: a shell that has died must show up as a failed write, not end the run.
  explicit ShellCoprocess(const std::string& dir);
  ~ShellCoprocess();
  ShellCoprocess(const ShellCoprocess&) = delete;
  ShellCoprocess& operator=(const ShellCoprocess&) = delete;

  // Sends script followed by a line that prints a numbered marker, and returns what the shell
  // wrote to standard output before the marker. Returns nothing, with the reason in *why, when
  // the marker does not come within timeout_ms (a quote left open keeps the shell reading)
  // or the shell is gone; the shell is then in an unknown state and must not be used again.
  std::optional<std::string> run(std::string_view script, int timeout_ms, std::string* why);

 private:
  pid_t pid_ = -1;
  int to_shell_ = -1;
  int from_shell_ = -1;
  unsigned long sequence_ = 0;
  bool broken_ = false;
};

}  // namespace lumora::fuzz
