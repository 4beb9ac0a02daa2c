// Saving and loading labelled copies of the configuration file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "sandbox/sandbox.h"

namespace lumora::testing {
namespace {

using ConfigCopyTest = SandboxTest;

constexpr char kDir[] = "/etc/opt/kelvane/scanner/lumora/";
const std::string kContent =
    "log=/tmp/lum_sane.log , 1 , w\n\nDEVICE=a , \"M\" , Unknown , IP-ADDRESS=10.0.0.1 \n"
    "\xff\xfe binary\ttail without line break";

TEST_F(ConfigCopyTest, SaveAndLoadRoundTripByteForByte) {
  write_config(kContent);
  RunResult result = run({"-s:office"});
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(sandbox_->read_file(std::string(kDir) + "office.lumoraconf"), kContent);
  write_config("changed\n");
  result = run({"-l:office"});
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(config(), kContent);
}

TEST_F(ConfigCopyTest, LabelsAreTakenVerbatimAfterTheColon) {
  write_config(kContent);
  run({"-s:"});
  EXPECT_EQ(sandbox_->read_file(std::string(kDir) + ".lumoraconf"), kContent);
  run({"-s: home"});
  EXPECT_EQ(sandbox_->read_file(std::string(kDir) + " home.lumoraconf"), kContent);
  write_config("x\n");
  EXPECT_EQ(run({"-l: home"}).out, "");
  EXPECT_EQ(config(), kContent);
}

TEST_F(ConfigCopyTest, FailuresSayInvalidParameterAndChangeNothing) {
  write_config(kContent);
  const std::vector<std::vector<std::string>> cases = {
      {"-l:never-saved"}, {"-s:../escape"}, {"-l:../../../etc/passwd"},
      {"-s:" + std::string(500, 'l')}, {"-s:a/b"}};
  for (const auto& args : cases) {
    const RunResult result = run(args);
    EXPECT_EQ(result.out, "Invalid parameter\n") << args[0];
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(config(), kContent);
  }
  EXPECT_FALSE(sandbox_->exists("/etc/opt/kelvane/scanner/escape.lumoraconf"));
}

TEST_F(ConfigCopyTest, SavingWithoutAConfigurationFileMakesNoCopy) {
  EXPECT_EQ(run({"-s:x"}).out, "Invalid parameter\n");
  EXPECT_FALSE(sandbox_->exists(std::string(kDir) + "x.lumoraconf"));
}

// Whatever the umask: a saved copy is readable and writable exactly as the configuration file
// is (and owned by its owner, as root), so a later -l: installs only what could have changed
// the configuration itself.
TEST_F(ConfigCopyTest, ASavedCopyTakesTheConfigurationFilesModeAndOwnerWhateverTheUmask) {
  for (const mode_t mode : {mode_t{0600}, mode_t{0640}, mode_t{0644}}) {
    write_config(kContent);
    const std::string cfg = sandbox_->host_path(kConfigPath);
    ASSERT_EQ(::chmod(cfg.c_str(), mode), 0);
    // Only root can give the file away; the owner is then the copy's too.
    const bool as_root = ::geteuid() == 0;
    if (as_root) {
      ASSERT_EQ(::chown(cfg.c_str(), 4242, 4243), 0);
    }
    RunOptions options;
    options.umask = 0;
    const RunResult result = run({"-s:private"}, options);
    EXPECT_EQ(result.out, "");
    struct stat info {};
    ASSERT_EQ(::stat(sandbox_->host_path(std::string(kDir) + "private.lumoraconf").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, mode);
    if (as_root) {
      EXPECT_EQ(info.st_uid, 4242u);
      EXPECT_EQ(info.st_gid, 4243u);
    }
  }
}

}  // namespace
}  // namespace lumora::testing
