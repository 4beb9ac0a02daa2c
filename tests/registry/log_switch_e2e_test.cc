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

TEST_F(LogSwitchTest, LogOffEmptiesExactlyTheLogLines) {
  write_config(std::string(kLogLine) + kDevice + "log=/var/x.log\n" + "# log=/var/y.log\n");
  run({"-LOG"});
  const std::string once = std::string("\n") + kDevice + "\n# log=/var/y.log\n";
  EXPECT_EQ(config(), once);
  run({"-LO"});
  EXPECT_EQ(config(), once);
  EXPECT_TRUE(sandbox_->tmp_entries().empty());
}

// A device whose model or node name holds "log=" is no log line to the reader, and keeps
// its line whole.
TEST_F(LogSwitchTest, LogOffLeavesDevicesThatHoldLogTextWhole) {
  write_config(kLogLine);
  EXPECT_EQ(run({"-a", "name=n", "model=LX-500", "nodename=log=x"}).out, "");
  EXPECT_EQ(run({"-a", "name=m", "model=catalog=1", "ip=10.0.0.9"}).out, "");
  const std::string devices = "DEVICE=m , \"catalog=1\" , Unknown , IP-ADDRESS=10.0.0.9 \n"
                              "DEVICE=n , \"LX-500\" , Unknown , NODENAME=log=x \n";
  ASSERT_EQ(config(), devices + kLogLine);
  const RunResult result = run({"-LO"});
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(config(), devices + "\n");
}

TEST_F(LogSwitchTest, LogOffWithoutAFileLeavesItEmpty) {
  run({"-LO"});
  EXPECT_EQ(config(), "");
}

}  // namespace
}  // namespace lumora::testing
