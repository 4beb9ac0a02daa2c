// Helpers shared by the fuzz targets: inputs handed to path-taking readers without touching the
// real file system, a scratch directory under /var/tmp, and the shell runs of the property
// checks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lumora::fuzz {

// Stops the fuzzer with a message; libFuzzer keeps the input that got here.
[[noreturn]] void fail(std::string_view what, std::string_view detail = {});

// An anonymous in-memory file reachable by a /proc/self/fd path, rewritten for every input.
class MemFile {
 public:
  MemFile();
  void set(const std::uint8_t* data, std::size_t size);
  const std::string& path() const { return path_; }

 private:
  int fd_ = -1;
  std::string path_;
};

// A directory made under /var/tmp for this process, removed with its files at exit.
const std::string& scratch_dir();

// Runs script with /bin/sh -c in a minimal C-locale environment, standard input and output on
// /dev/null and SIGPIPE at its default. Returns the exit status, or 128 + signal.
int run_sh(const std::string& script);

// text with every byte outside printable ASCII, and the backslash, written as \xHH, so that a
// word in a failure message can be read and rebuilt byte for byte.
std::string escaped_bytes(std::string_view text);

std::string read_file(const std::string& path);
void write_file(const std::string& path, std::string_view content);

// The input cut at each NUL; the pieces after the last NUL count too.
std::vector<std::string> split_at_nul(const std::uint8_t* data, std::size_t size);

// At most `most` non-empty words of the input, cut at NUL and at every byte of separators:
// candidate names for the lookups.
std::vector<std::string> words_of(const std::uint8_t* data, std::size_t size,
                                  std::string_view separators, std::size_t most);

}  // namespace lumora::fuzz
