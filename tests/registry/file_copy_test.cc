#include "registry/file_copy.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/temp_dir.h"

namespace lumora {
namespace {

using lumora::testing::TempDir;

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(CopyFile, ReplacesOrAppendsByteForByte) {
  TempDir dir;
  const std::string binary("a\0b\xff\n", 5);
  const std::string source = dir.write("source", binary);
  const std::string destination = dir.write("destination", "old\n");
  EXPECT_EQ(copy_file(source.c_str(), destination.c_str(), "a"), kCopyDone);
  EXPECT_EQ(slurp(destination), "old\n" + binary);
  EXPECT_EQ(copy_file(source.c_str(), destination.c_str(), "w"), kCopyDone);
  EXPECT_EQ(slurp(destination), binary);
}

TEST(CopyFile, AMissingSourceLeavesTheDestinationAlone) {
  TempDir dir;
  const std::string destination = dir.write("destination", "old\n");
  EXPECT_EQ(copy_file((dir.path() + "/absent").c_str(), destination.c_str(), "w"), kCopyNotOpened);
  EXPECT_EQ(slurp(destination), "old\n");
  const std::string never = dir.path() + "/never";
  EXPECT_EQ(copy_file((dir.path() + "/absent").c_str(), never.c_str(), "w"), kCopyNotOpened);
  EXPECT_FALSE(std::filesystem::exists(never));
}

TEST(CopyFile, WriteAndReadErrorsAreReported) {
  TempDir dir;
  const std::string source = dir.write("source", std::string(100000, 'x'));
  EXPECT_EQ(copy_file(source.c_str(), "/dev/full", "w"), kCopyIoError);
  std::filesystem::create_directory(dir.path() + "/a-directory");
  EXPECT_EQ(copy_file((dir.path() + "/a-directory").c_str(), (dir.path() + "/out").c_str(), "w"),
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
  EXPECT_EQ(copy_file(source.c_str(), (dir.path() + "/link").c_str(), "w"), kCopyNotOpened);
  EXPECT_EQ(slurp(victim), "precious\n");
}

}  // namespace
}  // namespace lumora
