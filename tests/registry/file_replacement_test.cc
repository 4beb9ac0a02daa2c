#include "registry/file_replacement.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "common/byte_io.h"
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

namespace {

namespace fs = std::filesystem;
using lumora::testing::TempDir;

std::vector<std::string> names_in(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(PendingFileName, IsThePrefixAndSixLettersOrDigits) {
  const std::pair<const char*, bool> cases[] = {
      {".lumoraconf-new.AbC123", true},  {".lumoraconf-new.zzzzzz", true},
      {".lumoraconf-new.AbC12", false},  {".lumoraconf-new.AbC1234", false},
      {".lumoraconf-new.AbC-12", false}, {"lumoraconf-new.AbC123", false},
      {".lumoraconf-new.", false},       {"x.lumoraconf-new.AbC123", false},
      {"office.lumoraconf", false},      {"lumsanenetdevice.cfg", false},
  };
  for (const auto& [name, pending] : cases) EXPECT_EQ(is_pending_file_name(name), pending) << name;
}

TEST(StalePendingFiles, OnlyRegularFilesOfThePatternGo) {
  TempDir dir;
  dir.write(".lumoraconf-new.AbC123", "stale copy\n");
  dir.write(".lumoraconf-new.x9Y8z7", "");
  dir.write(".lumoraconf-new.short", "kept\n");
  dir.write("lumsanenetdevice.cfg", "kept\n");
  dir.write("office.lumoraconf", "kept\n");
  fs::create_directory(dir.path() + "/.lumoraconf-new.Dir123");
  fs::create_symlink("lumsanenetdevice.cfg", dir.path() + "/.lumoraconf-new.Lnk123");
  DirectoryLock lock;
  ASSERT_TRUE(lock.acquire(dir.path().c_str()));
  remove_stale_pending_files(lock.fd());
  EXPECT_EQ(names_in(dir.path()),
            (std::vector<std::string>{".lumoraconf-new.Dir123", ".lumoraconf-new.Lnk123",
                                      ".lumoraconf-new.short", "lumsanenetdevice.cfg",
                                      "office.lumoraconf"}));
}

TEST(PendingFile, IsMadeOnlyUnderTheLockAndGoesUnlessCommitted) {
  TempDir dir;
  const std::string target = dir.write("devices.cfg", "old\n");
  PendingFile without_lock;
  EXPECT_FALSE(without_lock.create(target.c_str(), DirectoryLock{}));
  DirectoryLock lock;
  ASSERT_TRUE(lock.acquire(dir.path().c_str()));
  std::string made;
  {
    PendingFile pending;
    ASSERT_TRUE(pending.create(target.c_str(), lock));
    made = pending.path();
    EXPECT_TRUE(is_pending_file_name(fs::path(made).filename().string())) << made;
    EXPECT_EQ(fs::path(made).parent_path(), fs::path(dir.path()));
  }
  EXPECT_FALSE(fs::exists(made));
  EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"devices.cfg"});
}

TEST(PendingFile, CommitReplacesTheTargetKeepingItsMode) {
  TempDir dir;
  const std::string target = dir.write("devices.cfg", "old\n");
  ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
  DirectoryLock lock;
  ASSERT_TRUE(lock.acquire(dir.path().c_str()));
  PendingFile pending;
  ASSERT_TRUE(pending.create(target.c_str(), lock));
  ASSERT_TRUE(write_all(pending.fd(), "new\n"));
  ASSERT_TRUE(pending.commit());
  struct stat info {};
  ASSERT_EQ(::stat(target.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"devices.cfg"});
}

TEST(PendingFile, ALinkedTargetIsReplacedInItsOwnDirectoryWhichIsClearedToo) {
  TempDir dir;
  const std::string real = dir.write("elsewhere/devices.cfg", "old\n");
  dir.write("elsewhere/.lumoraconf-new.Old123", "left by a killed run\n");
  fs::create_directory(dir.path() + "/config");
  const std::string link = dir.path() + "/config/devices.cfg";
  fs::create_symlink("../elsewhere/devices.cfg", link);
  DirectoryLock lock;
  ASSERT_TRUE(lock.acquire((dir.path() + "/config").c_str()));
  PendingFile pending;
  ASSERT_TRUE(pending.create(link.c_str(), lock));
  ASSERT_TRUE(write_all(pending.fd(), "new\n"));
  ASSERT_TRUE(pending.commit());
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(names_in(dir.path() + "/elsewhere"), std::vector<std::string>{"devices.cfg"});
}

TEST(LockForWriting, ClearsWhatKilledRunsLeftAndNothingElse) {
  TempDir dir;
  dir.write(".lumoraconf-new.AbC123", "copy of a killed run\n");
  dir.write(".lumoraconf-new.AbC12", "not of the pattern\n");
  dir.write("devices.cfg", "old\n");
  DirectoryLock lock;
  ASSERT_TRUE(lock_for_writing(lock, dir.path().c_str()));
  EXPECT_EQ(names_in(dir.path()),
            (std::vector<std::string>{".lumoraconf-new.AbC12", "devices.cfg"}));
  DirectoryLock missing;
  EXPECT_FALSE(lock_for_writing(missing, (dir.path() + "/missing").c_str()));
}

TEST(PendingFile, ANewFileIsNeverWritableByOthersAndACopyTakesItsModelsMode) {
  TempDir dir;
  const mode_t old_mask = ::umask(0);
  DirectoryLock lock;
  ASSERT_TRUE(lock.acquire(dir.path().c_str()));
  {
    PendingFile pending;
    ASSERT_TRUE(pending.create((dir.path() + "/new.cfg").c_str(), lock));
    ASSERT_TRUE(pending.commit());
  }
  const std::string model = dir.write("model.cfg", "private\n");
  ASSERT_EQ(::chmod(model.c_str(), 0640), 0);
  struct stat model_info {};
  ASSERT_EQ(::stat(model.c_str(), &model_info), 0);
  {
    PendingFile pending;
    ASSERT_TRUE(pending.create((dir.path() + "/copy.cfg").c_str(), lock));
    ASSERT_TRUE(pending.commit_like(model_info));
  }
  ::umask(old_mask);
  struct stat info {};
  ASSERT_EQ(::stat((dir.path() + "/new.cfg").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0644u);
  ASSERT_EQ(::stat((dir.path() + "/copy.cfg").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
}

}  // namespace

}  // namespace lumora
