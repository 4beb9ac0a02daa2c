// Switching the backend's log line on and off.
#include <gtest/gtest.h>

#include "sandbox/sandbox.h"

namespace lumora::testing {
namespace {

using LogSwitchTest = SandboxTest;

constexpr char kLogLine[] = "log=/tmp/lum_sane.log , 1 , w\n";
constexpr char kDevice[] = "DEVICE=a , \"M\" , Unknown , IP-ADDRESS=10.0.0.1 \n";

TEST_F(LogSwitchTest, LogOnPutsTheDefaultLineFirstOnce) {
  write_config(kDevice);
  for (int i = 0; i < 2; ++i) {
    const RunResult result = run({"-LI"});
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
  }
  EXPECT_EQ(config(), std::string(kLogLine) + kDevice);
  EXPECT_TRUE(sandbox_->tmp_entries().empty());
}

TEST_F(LogSwitchTest, LogOnKeepsAnOtherLogLineBelow) {
  write_config(std::string(kDevice) + "log=/var/log/x.log , 3 , a\n");
  run({"-LInfo"});
  EXPECT_EQ(config(), std::string(kLogLine) + kDevice + "log=/var/log/x.log , 3 , a\n");
}

TEST_F(LogSwitchTest, LogOnWithoutAFileWritesTheLineAlone) {
  run({"-LI"});
  EXPECT_EQ(config(), kLogLine);
}

TEST_F(LogSwitchTest, LogOffEmptiesEveryLogTextToTheLineEnd) {
  write_config(std::string(kLogLine) + kDevice + "DEVICE=b , \"M\" , log=x , IP-ADDRESS=10.0.0.2 \n" +
               "log=/var/x.log\n");
  run({"-LOG"});
  const std::string once = std::string("\n") + kDevice + "DEVICE=b , \"M\" , \n\n";
  EXPECT_EQ(config(), once);
  run({"-LO"});
  EXPECT_EQ(config(), once);
  EXPECT_TRUE(sandbox_->tmp_entries().empty());
}

TEST_F(LogSwitchTest, LogOffWithoutAFileLeavesItEmpty) {
  run({"-LO"});
  EXPECT_EQ(config(), "");
}

}  // namespace
}  // namespace lumora::testing
