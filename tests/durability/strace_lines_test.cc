// strace's text read back into calls: strings and annotations decoded, interrupted calls
// joined, effects in order, cut strings refused.
#include "durability/strace_lines.h"

#include <gtest/gtest.h>

namespace lumora::testing {
namespace {

TEST(StraceLinesTest, DecodesStringsDescriptorsAndResults) {
  const std::string path = encode_string("/etc/x, y");
  const std::string text =
      "41 openat(AT_FDCWD<\\x2f>, " + path +
      ", O_WRONLY|O_CREAT|O_TRUNC, 0666) = 3<\\x2f\\x65\\x74\\x63\\x2f\\x78\\x2c\\x20\\x79>\n"
      "41 write(3<\\x2f\\x65\\x74\\x63\\x2f\\x78\\x2c\\x20\\x79>, \"\\x61\\x2c\\x0a\", 3) = 3\n"
      "41 umask(077) = 022\n"
      "41 fsync(3<\\x2f\\x65\\x74\\x63\\x2f\\x78\\x2c\\x20\\x79>) = -1 EIO (Input/output error)\n";
  const std::vector<TracedCall> calls = parse_trace(text);
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[0].name, "openat");
  ASSERT_EQ(calls[0].args.size(), 4u);
  EXPECT_EQ(decode_string(calls[0].args[1]), "/etc/x, y");
  EXPECT_EQ(calls[0].args[2], "O_WRONLY|O_CREAT|O_TRUNC");
  EXPECT_EQ(calls[0].result, 3);
  EXPECT_EQ(calls[0].result_path, "/etc/x, y");
  const auto cwd = decode_descriptor(calls[0].args[0]);
  ASSERT_TRUE(cwd.has_value());
  EXPECT_EQ(cwd->fd, kAtFdcwd);
  EXPECT_EQ(cwd->path, "/");
  EXPECT_EQ(decode_string(calls[1].args[1]), "a,\n");
  EXPECT_EQ(decode_descriptor(calls[1].args[0])->path, "/etc/x, y");
  EXPECT_EQ(calls[2].result, 022);  // octal, as strace prints a mask
  EXPECT_EQ(calls[3].result, -1);
  EXPECT_EQ(calls[3].pid, 41);
}

// The child's calls come before its parent's clone returns; the clone counts where it starts,
// every other call where it returns.
TEST(StraceLinesTest, JoinsInterruptedCallsAndOrdersThemByTheirEffect) {
  const std::string text =
      "10 clone3({flags=CLONE_VM|CLONE_VFORK, exit_signal=SIGCHLD}, 88 <unfinished ...>\n"
      "11 execve(\"\\x2f\\x62\", [\"\\x73\\x68\"], 0x7ff /* 3 vars */ <unfinished ...>\n"
      "10 <... clone3 resumed>) = 11\n"
      "10 wait4(11,  <unfinished ...>\n"
      "11 <... execve resumed>) = 0\n"
      "11 write(1<\\x2f\\x78>, \"\\x61\", 1) = 1\n"
      "11 exit_group(0) = ?\n"
      "11 +++ exited with 0 +++\n"
      "10 <... wait4 resumed>[{WIFEXITED(s) && WEXITSTATUS(s) == 0}], 0, NULL) = 11\n"
      "10 --- SIGCHLD {si_signo=SIGCHLD, si_code=CLD_EXITED, si_pid=11} ---\n";
  const std::vector<TracedCall> calls = parse_trace(text);
  std::vector<std::string> order;
  order.reserve(calls.size());
  for (const TracedCall& call : calls) order.push_back(std::to_string(call.pid) + " " + call.name);
  EXPECT_EQ(order, (std::vector<std::string>{"10 clone3", "11 execve", "11 write", "11 exit_group",
                                             "10 wait4"}));
  EXPECT_EQ(calls[0].result, 11);
  EXPECT_EQ(calls[0].args.size(), 2u);
  EXPECT_EQ(calls[1].args.size(), 3u);
  EXPECT_FALSE(calls[3].has_result);
  EXPECT_EQ(calls[4].args[1], "[{WIFEXITED(s) && WEXITSTATUS(s) == 0}]");
}

TEST(StraceLinesTest, RefusesWhatItCannotReadWhole) {
  EXPECT_THROW(decode_string("\"\\x61\\x62\"..."), TraceError);  // cut at strace's -s limit
  EXPECT_THROW(decode_strings("[{iov_base=\"\\x61\"..., iov_len=9}]"), TraceError);
  EXPECT_THROW(decode_string("0x7ffe"), TraceError);
  EXPECT_THROW(parse_trace("write(1, \"\\x61\", 1) = 1\n"), TraceError);  // no pid: not -f
  EXPECT_THROW(parse_trace("5 <... write resumed>) = 1\n"), TraceError);
  EXPECT_THROW(parse_trace("5 write(1, \"\\x61\", 1\n"), TraceError);
  EXPECT_EQ(
      decode_strings("[{iov_base=\"\\x61\", iov_len=1}, {iov_base=\"\\x62\\x63\", iov_len=2}]"),
      (std::vector<std::string>{"a", "bc"}));
  EXPECT_FALSE(decode_descriptor("O_RDONLY").has_value());
}

}  // namespace
}  // namespace lumora::testing
