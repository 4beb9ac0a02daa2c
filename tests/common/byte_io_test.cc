#include "common/byte_io.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "common/unique_file.h"
#include "support/file_text.h"
#include "support/temp_dir.h"

namespace lumora {

namespace {

using lumora::testing::read_whole_file;
using lumora::testing::TempDir;

std::string read_back(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY));
  std::string text;
  char buffer[4096];
  ssize_t got = 0;
  while ((got = ::read(fd.get(), buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(got));
  return text;
}

TEST(WriteAll, WritesEveryByteThroughShortWrites) {
  // A pipe takes at most its capacity per write while the reader drains it, so a megabyte
  // arrives in many short writes.
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  UniqueFd read_end(fds[0]);
  UniqueFd write_end(fds[1]);
  std::string data(1 << 20, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 % 251);
  std::string received;
  std::thread reader([&] {
    char buffer[1000];
    ssize_t got = 0;
    while ((got = ::read(read_end.get(), buffer, sizeof buffer)) > 0) received.append(buffer, static_cast<std::size_t>(got));
  });
  EXPECT_TRUE(write_all(write_end.get(), data));
  write_end.reset();
  reader.join();
  EXPECT_EQ(received, data);
}

TEST(WriteAll, ReportsAFullDiskAndABadDescriptor) {
  UniqueFd full(::open("/dev/full", O_WRONLY));
  ASSERT_TRUE(full);
  EXPECT_FALSE(write_all(full.get(), "x"));
  EXPECT_FALSE(write_all(-1, "x"));
  EXPECT_TRUE(write_all(full.get(), ""));  // nothing to write is no error
}

TEST(CopyAll, CopiesEveryByteAndReportsErrors) {
  TempDir dir;
  std::string binary(100000, '\0');
  for (std::size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<char>(i % 256);
  const std::string source = dir.write("source", binary);
  UniqueFd in(::open(source.c_str(), O_RDONLY));
  UniqueFd out(::open((dir.path() + "/copy").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600));
  ASSERT_TRUE(in && out);
  EXPECT_TRUE(copy_all(in.get(), out.get()));
  EXPECT_EQ(read_back(dir.path() + "/copy"), binary);

  UniqueFd again(::open(source.c_str(), O_RDONLY));
  UniqueFd full(::open("/dev/full", O_WRONLY));
  EXPECT_FALSE(copy_all(again.get(), full.get()));
  UniqueFd directory(::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY));
  UniqueFd sink(::open("/dev/null", O_WRONLY));
  EXPECT_FALSE(copy_all(directory.get(), sink.get()));  // read fails: EISDIR
}

}  // namespace

namespace {

using lumora::testing::TempDir;

TEST(CopyFile, ReplacesOrAppendsByteForByte) {
  TempDir dir;
  const std::string binary("a\0b\xff\n", 5);
  const std::string source = dir.write("source", binary);
  const std::string destination = dir.write("destination", "old\n");
  EXPECT_EQ(copy_file(source.c_str(), destination.c_str(), CopyMode::kAppend), kCopyDone);
  EXPECT_EQ(read_whole_file(destination), "old\n" + binary);
  EXPECT_EQ(copy_file(source.c_str(), destination.c_str(), CopyMode::kReplace), kCopyDone);
  EXPECT_EQ(read_whole_file(destination), binary);
}

TEST(CopyFile, AMissingSourceLeavesTheDestinationAlone) {
  TempDir dir;
  const std::string destination = dir.write("destination", "old\n");
  EXPECT_EQ(copy_file((dir.path() + "/absent").c_str(), destination.c_str(), CopyMode::kReplace), kCopyNotOpened);
  EXPECT_EQ(read_whole_file(destination), "old\n");
  const std::string never = dir.path() + "/never";
  EXPECT_EQ(copy_file((dir.path() + "/absent").c_str(), never.c_str(), CopyMode::kReplace), kCopyNotOpened);
  EXPECT_FALSE(std::filesystem::exists(never));
}

TEST(CopyFile, WriteAndReadErrorsAreReported) {
  TempDir dir;
  const std::string source = dir.write("source", std::string(100000, 'x'));
  EXPECT_EQ(copy_file(source.c_str(), "/dev/full", CopyMode::kReplace), kCopyIoError);
  std::filesystem::create_directory(dir.path() + "/a-directory");
  EXPECT_EQ(copy_file((dir.path() + "/a-directory").c_str(), (dir.path() + "/out").c_str(), CopyMode::kReplace),
            kCopyIoError);
  const int full = ::open("/dev/full", O_WRONLY);
  ASSERT_GE(full, 0);
  EXPECT_EQ(copy_file_to_fd(source.c_str(), full), kCopyIoError);
  ::close(full);
}

TEST(CopyFile, NeverWritesThroughASymbolicLink) {
  TempDir dir;
  const std::string source = dir.write("source", "new\n");
  const std::string victim = dir.write("victim", "precious\n");
  std::filesystem::create_symlink(victim, dir.path() + "/link");
  EXPECT_EQ(copy_file(source.c_str(), (dir.path() + "/link").c_str(), CopyMode::kReplace), kCopyNotOpened);
  EXPECT_EQ(read_whole_file(victim), "precious\n");
}

TEST(OpenRegularFile, OnlyAMissingFileIsMissingAndOnlyARegularFileOpens) {
  TempDir dir;
  const std::string regular = dir.write("regular", "content\n");
  std::filesystem::create_symlink(regular, dir.path() + "/link");
  std::filesystem::create_directory(dir.path() + "/directory");
  ASSERT_EQ(::mkfifo((dir.path() + "/fifo").c_str(), 0644), 0);
  std::filesystem::create_symlink(dir.path() + "/nowhere", dir.path() + "/dangling");
  const struct {
    const char* name;
    RegularOpen expected;
  } cases[] = {
      {"regular", RegularOpen::kOpened},  {"link", RegularOpen::kOpened},
      {"absent", RegularOpen::kMissing},  {"dangling", RegularOpen::kMissing},
      {"directory", RegularOpen::kRefused}, {"fifo", RegularOpen::kRefused},  // never waits
      {"regular/below", RegularOpen::kRefused},                              // ENOTDIR
  };
  for (const auto& c : cases) {
    UniqueFd fd;
    EXPECT_EQ(open_regular_file((dir.path() + "/" + c.name).c_str(), fd), c.expected) << c.name;
    EXPECT_EQ(static_cast<bool>(fd), c.expected == RegularOpen::kOpened) << c.name;
  }
  UniqueFd fd;
  ASSERT_EQ(open_regular_file("/dev/null", fd), RegularOpen::kRefused);
  ASSERT_EQ(open_regular_file(regular.c_str(), fd), RegularOpen::kOpened);
  char buffer[16];
  EXPECT_EQ(::read(fd.get(), buffer, sizeof buffer), 8);
}

TEST(OpenRegularFile, AFileThatCannotBeReadIsRefusedNotMissing) {
  if (::geteuid() == 0) {
    // Root reads every file; the e2e failure table runs this as a user who is not root. The
    // directory is made here, so that its owner removes it: the child ends with _exit.
    TempDir dir;
    const std::string locked = dir.write("locked", "secret\n");
    ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      if (::setuid(4242) != 0) _exit(3);
      UniqueFd fd;
      _exit(open_regular_file(locked.c_str(), fd) == RegularOpen::kRefused && errno == EACCES ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    return;
  }
  TempDir dir;
  const std::string locked = dir.write("locked", "secret\n");
  ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
  UniqueFd fd;
  EXPECT_EQ(open_regular_file(locked.c_str(), fd), RegularOpen::kRefused);
}

}  // namespace

}  // namespace lumora
