// Reading what `strace -f -y -xx -s SIZE` writes: one record per system call, the two halves of
// a call that another process's calls interrupted ("<unfinished ...>", "<... NAME resumed>")
// joined again, and the strings and descriptor annotations decoded. With -xx strace writes
// every byte of a string as \xNN, so no quote, comma or bracket inside one can confuse the
// splitting of the arguments; with -y it follows each descriptor with the path of its file,
// "3<\x2f\x65...>", as the kernel names it at that moment.
#pragma once

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace lumora::testing {

struct TraceError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct TracedCall {
  int pid = 0;
  std::string name;
  std::vector<std::string> args;  // as strace printed them, split at the top-level commas
  bool has_result = false;        // false for "= ?" (exit_group, a call cut short by a signal)
  long long result = 0;           // -1 with the errno name after it for a failure
  std::string result_path;        // a descriptor result's annotation, decoded
  std::size_t first_line = 0;     // 1-based line of the trace where the call starts
  std::size_t last_line = 0;      // and where strace printed its result
};

// The calls of a whole trace in the order their effects took place: a call counts when it
// returned (strace printed its result), except the calls that make a process (clone, clone3,
// fork, vfork), which count when they start: the new process's own calls can appear before
// its parent's call returns. Lines of signals and process exits are passed over. Throws
// TraceError on a line it cannot read.
std::vector<TracedCall> parse_trace(std::string_view text);

// The bytes of a string argument ("\x2f\x74..."). Throws TraceError when it is not a string,
// or when strace cut it at its -s limit ("..." after the closing quote): a checker must never
// take a cut string for the bytes written.
std::string decode_string(std::string_view arg);

// Every string of an argument, in order (the iov_base of writev's vector, for instance).
std::vector<std::string> decode_strings(std::string_view arg);

inline constexpr int kAtFdcwd = -100;

struct DescriptorArg {
  int fd = -1;       // kAtFdcwd for AT_FDCWD
  std::string path;  // the -y annotation, decoded; empty when strace printed none
};

// A descriptor argument: "3<\x2f...>", "AT_FDCWD<\x2f>" or a bare number.
std::optional<DescriptorArg> decode_descriptor(std::string_view arg);

// The -xx form of bytes, quoted, for tests that edit traces.
std::string encode_string(std::string_view bytes);

}  // namespace lumora::testing
