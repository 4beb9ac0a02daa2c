// Files of one run: made private, removed with their owner unless kept, and removed by a
// SIGINT, SIGTERM or SIGHUP that then ends the process by that signal.
#include "common/temporary_file.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <iterator>
#include <string>

#include "common/byte_io.h"
#include "support/temp_dir.h"

namespace lumora {
namespace {

namespace fs = std::filesystem;
using lumora::testing::TempDir;

TEST(TemporaryFile, IsPrivateWhateverTheUmaskAndGoesWithItsOwner) {
  TempDir dir;
  std::string made;
  const mode_t old_mask = ::umask(0);
  {
    TemporaryFile file;
    ASSERT_TRUE(file.create(dir.path() + "/run.XXXXXX"));
    made = file.path();
    EXPECT_TRUE(write_all(file.fd(), "x"));
    struct stat info {};
    ASSERT_EQ(::stat(made.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
  }
  ::umask(old_mask);
  EXPECT_FALSE(fs::exists(made));
}

TEST(TemporaryFile, AKeptFileStays) {
  TempDir dir;
  std::string made;
  {
    TemporaryFile file;
    ASSERT_TRUE(file.create(dir.path() + "/run.XXXXXX"));
    made = file.path();
    EXPECT_TRUE(file.close());
    fs::rename(made, dir.path() + "/final");
    file.keep();
    EXPECT_FALSE(file.made());
  }
  EXPECT_TRUE(fs::exists(dir.path() + "/final"));
}

TEST(TemporaryFile, ATemplateThatCannotBeMadeLeavesNoPath) {
  TempDir dir;
  TemporaryFile file;
  EXPECT_FALSE(file.create(dir.path() + "/missing/run.XXXXXX"));
  EXPECT_FALSE(file.made());
  EXPECT_STREQ(file.path(), "");
  EXPECT_FALSE(file.create(std::string(5000, 'x') + "XXXXXX"));
}

// In a child, so that the signal ends only it: both files are gone and the child died of
// the signal it was sent.
TEST(TemporaryFile, ASignalRemovesEveryFileOfTheRunAndEndsItBySameSignal) {
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    TempDir dir;
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      TemporaryFile first;
      TemporaryFile second;
      if (!first.create(dir.path() + "/a.XXXXXX") || !second.create(dir.path() + "/b.XXXXXX")) {
        _exit(3);
      }
      if (::write(ready[1], "r", 1) != 1) _exit(4);
      for (;;) ::pause();
    }
    ::close(ready[1]);
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ::close(ready[0]);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);
    ASSERT_EQ(::kill(child, signal_number), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number) << signal_number;
    EXPECT_TRUE(fs::is_empty(dir.path())) << signal_number;
  }
}

}  // namespace
}  // namespace lumora
