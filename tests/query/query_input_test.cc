#include "query/query_input.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "support/temp_dir.h"

namespace lumora {
namespace {

using lumora::testing::TempDir;

TEST(QueryInputTest, TellsMissingFromUnreadable) {
  const TempDir dir;
  const std::string file = dir.write("file", "x\n");
  const std::string subdir = dir.path() + "/subdir";
  ASSERT_EQ(::mkdir(subdir.c_str(), 0755), 0);
  struct Case {
    std::string path;
    InputKind kind;
    InputState state;
    std::string error;
  };
  const Case cases[] = {
      {file, InputKind::kFile, InputState::kReadable, ""},
      {subdir, InputKind::kDirectory, InputState::kReadable, ""},
      {dir.path() + "/absent", InputKind::kFile, InputState::kMissing, ""},
      {dir.path() + "/absent/below", InputKind::kDirectory, InputState::kMissing, ""},
      {subdir, InputKind::kFile, InputState::kUnreadable, subdir + ": Is a directory"},
      {file, InputKind::kDirectory, InputState::kUnreadable, file + ": Not a directory"},
      {file + "/below", InputKind::kFile, InputState::kUnreadable, file + "/below: Not a directory"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_EQ(probe_input(c.path.c_str(), c.kind, error), c.state) << c.path;
    EXPECT_EQ(error, c.error) << c.path;
  }
}

TEST(QueryInputTest, CatalogueWithAnUnreadableFileIsRefused) {
  const TempDir dir;
  const std::string models = dir.path() + "/models";
  const std::string fallback = dir.path() + "/Lumsane.ini";
  std::string error;
  EXPECT_TRUE(catalogue_readable(models.c_str(), fallback.c_str(), error));
  dir.write("models/a.ini", "[Support Model]\n");
  dir.write("models/.hidden.ini/x", "");
  EXPECT_TRUE(catalogue_readable(models.c_str(), fallback.c_str(), error));
  EXPECT_EQ(error, "");
  // A name the filter passes, on a link into a file (a path through it cannot be opened).
  const std::string target = dir.write("models/b.ini", "");
  ASSERT_EQ(::unlink(target.c_str()), 0);
  dir.write("blocker", "");
  ASSERT_EQ(::symlink((dir.path() + "/blocker/x").c_str(), target.c_str()), 0);
  EXPECT_FALSE(catalogue_readable(models.c_str(), fallback.c_str(), error));
  EXPECT_EQ(error, target + ": Not a directory");
}

}  // namespace
}  // namespace lumora
