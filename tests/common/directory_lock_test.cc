#include "common/directory_lock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/temp_dir.h"

namespace lumora {
namespace {

using lumora::testing::TempDir;

// Whether another process can take the lock on dir at once.
bool free_for_another_process(const std::string& dir) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    _exit(fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : 1);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(DirectoryLock, IsExclusiveWhileHeldAndFreedWithItsOwner) {
  TempDir dir;
  {
    DirectoryLock lock;
    EXPECT_FALSE(lock.held());
    ASSERT_TRUE(lock.acquire(dir.path().c_str()));
    EXPECT_TRUE(lock.held());
    EXPECT_FALSE(free_for_another_process(dir.path()));
  }
  EXPECT_TRUE(free_for_another_process(dir.path()));
}

TEST(DirectoryLock, FailsOnWhatIsNoDirectory) {
  TempDir dir;
  DirectoryLock lock;
  EXPECT_FALSE(lock.acquire((dir.path() + "/missing").c_str()));
  EXPECT_FALSE(lock.acquire(dir.write("file", "x").c_str()));
  EXPECT_FALSE(lock.held());
}

}  // namespace
}  // namespace lumora
