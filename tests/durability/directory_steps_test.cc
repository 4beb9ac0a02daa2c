// Calls into steps: descriptors followed through dup and fork, offsets kept per open file,
// files outside the directory passed over, what cannot be modelled refused.
#include "durability/directory_steps.h"

#include <gtest/gtest.h>

namespace lumora::testing {
namespace {

std::vector<std::string> described(const std::string& text, const DirectorySnapshot& before) {
  StepOptions options;
  options.directory = "/d";
  std::vector<std::string> lines;
  for (const Step& step : directory_steps(parse_trace(text), before, options).steps)
    lines.push_back(describe(step));
  return lines;
}

TEST(DirectoryStepsTest, FollowsDescriptorsOffsetsAndNames) {
  const DirectorySnapshot before = {{"a", {"12345", 0644}}};
  const std::string text =
      "1 openat(AT_FDCWD</>, \"/tmp/s\", O_RDWR|O_CREAT|O_EXCL, 0600) = 3</tmp/s>\n"
      "1 write(3</tmp/s>, \"scratch\", 7) = 7\n"
      "1 openat(AT_FDCWD</d>, \"a\", O_WRONLY|O_APPEND) = 4</d/a>\n"
      "1 fork() = 2\n"
      "2 write(4</d/a>, \"678\", 3) = 3\n"
      "1 close(4</d/a>) = 0\n"
      "1 openat(AT_FDCWD</>, \"/d/a\", O_RDWR) = 5</d/a>\n"
      "1 read(5</d/a>, \"12\", 2) = 2\n"
      "1 write(5</d/a>, \"xy\", 2) = 1\n"
      "1 lseek(5</d/a>, 7, SEEK_SET) = 7\n"
      "1 ftruncate(5</d/a>, 4) = 0\n"
      "1 umask(077) = 022\n"
      "1 creat(\"/d/b\", 0666) = 6</d/b>\n"
      "1 renameat2(AT_FDCWD</>, \"/d/b\", AT_FDCWD</>, \"/d/c\", RENAME_NOREPLACE) = 0\n"
      "1 unlink(\"/d/a\") = 0\n"
      "1 write(6</d/c>, \"z\", 1) = 1\n"
      "1 fdatasync(6</d/c>) = 0\n"
      "1 rename(\"/tmp/s\", \"/tmp/t\") = 0\n";
  EXPECT_EQ(described(text, before), (std::vector<std::string>{
                                         "line 5: write 3 bytes at 5 to file #0",
                                         "line 9: write 1 bytes at 2 to file #0",
                                         "line 11: truncate file #0 to 4",
                                         "line 13: create b (file #1)",
                                         "line 14: rename b -> c",
                                         "line 15: unlink a",
                                         "line 16: write 1 bytes at 0 to file #1",
                                         "line 17: fdatasync file #1",
                                     }));
}

TEST(DirectoryStepsTest, RefusesWhatTheStepsCannotExpress) {
  const DirectorySnapshot before = {{"a", {"1", 0644}}};
  // A file of the directory opened without O_CREAT, which the directory did not hold.
  EXPECT_THROW(described("1 openat(AT_FDCWD</>, \"/d/b\", O_RDONLY) = 3</d/b>\n", before),
               TraceError);
  // Written through a descriptor whose opening the trace does not show.
  EXPECT_THROW(described("1 write(7</d/a>, \"x\", 1) = 1\n", before), TraceError);
  // A file moved in from elsewhere: its bytes are not in the trace.
  EXPECT_THROW(described("1 rename(\"/tmp/x\", \"/d/a\") = 0\n", before), TraceError);
  EXPECT_THROW(described("1 openat(AT_FDCWD</>, \"/d/a\", O_WRONLY) = 3</d/a>\n"
                         "1 sendfile(3</d/a>, 4</tmp/x>, NULL, 5) = 5\n",
                         before),
               TraceError);
  EXPECT_THROW(described("1 link(\"/tmp/x\", \"/d/l\") = 0\n", before), TraceError);
  // A failed call changes nothing.
  EXPECT_TRUE(
      described("1 rename(\"/tmp/x\", \"/d/a\") = -1 ENOENT (No such file or directory)\n", before)
          .empty());
}

}  // namespace
}  // namespace lumora::testing
