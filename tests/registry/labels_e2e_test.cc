// Saving and loading labelled copies of the configuration file.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace lumora::testing
