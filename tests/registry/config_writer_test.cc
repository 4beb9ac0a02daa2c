// The rewrite on its own, in a scratch directory: the pipeline's result replaces the target
// only when the pipeline succeeded, and no pending file outlives it.
#include "registry/config_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace lumora {
namespace {

namespace fs = std::filesystem;
using lumora::testing::TempDir;

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> names_in(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

struct Rewrite {
  RewriteResult result;
  std::string printed;
};

// Rewrites dir/devices.cfg from dir/scratch with the pipeline format (two %s: scratch, output).
Rewrite rewrite(const TempDir& dir, const char* format) {
  const std::string target = dir.path() + "/devices.cfg";
  const std::string scratch = dir.path() + "/scratch";
  DirectoryLock lock;
  EXPECT_TRUE(lock_for_writing(lock, dir.path().c_str()));
  ::testing::internal::CaptureStdout();
  const RewriteResult result =
      rewrite_file(lock, target.c_str(), scratch.c_str(),
                   [&](const char* output, char* command, std::size_t size) {
                     return format[0] != '\0' && format_scratch_pipeline(command, size, format,
                                                                          scratch.c_str(), output);
                   });
  return {result, ::testing::internal::GetCapturedStdout()};
}

TEST(RewriteFile, ThePipelinesResultReplacesTheTarget) {
  TempDir dir;
  dir.write("devices.cfg", "old\n");
  dir.write("scratch", "a\na\nb\n");
  const Rewrite done = rewrite(dir, "uniq %s > %s");
  EXPECT_EQ(done.result, RewriteResult::kDone);
  EXPECT_EQ(done.printed, "");
  EXPECT_EQ(slurp(dir.path() + "/devices.cfg"), "a\nb\n");
  EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"devices.cfg", "scratch"}));
}

TEST(RewriteFile, FailuresLeaveTheTargetAndNoPendingFile) {
  const std::pair<const char*, const char*> failing[] = {
      {"exit 3; cat %s > %s", "the shell reports failure"},
      {": %s; : > %s", "a non-empty scratch file turned into nothing"},
      {"cat %s > %s; kill -9 $$", "the shell was killed"},
  };
  for (const auto& [format, why] : failing) {
    TempDir dir;
    dir.write("devices.cfg", "old\n");
    dir.write("scratch", "new\n");
    const Rewrite failed = rewrite(dir, format);
    EXPECT_EQ(failed.result, RewriteResult::kFailed) << why;
    EXPECT_EQ(failed.printed, "Cannot write " + dir.path() + "/devices.cfg\n") << why;
    EXPECT_EQ(slurp(dir.path() + "/devices.cfg"), "old\n") << why;
    EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"devices.cfg", "scratch"})) << why;
  }
}

TEST(RewriteFile, ACommandThatCannotBeFormedChangesAndPrintsNothing) {
  TempDir dir;
  dir.write("devices.cfg", "old\n");
  dir.write("scratch", "new\n");
  const Rewrite refused = rewrite(dir, "");
  EXPECT_EQ(refused.result, RewriteResult::kCommandTooLong);
  EXPECT_EQ(refused.printed, "");
  EXPECT_EQ(slurp(dir.path() + "/devices.cfg"), "old\n");
  EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"devices.cfg", "scratch"}));
}

TEST(RewriteFile, AnEmptyScratchFileMayGiveAnEmptyFile) {
  TempDir dir;
  dir.write("devices.cfg", "old\n");
  dir.write("scratch", "");
  EXPECT_EQ(rewrite(dir, "uniq %s > %s").result, RewriteResult::kDone);
  EXPECT_EQ(slurp(dir.path() + "/devices.cfg"), "");
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

}  // namespace
}  // namespace lumora
