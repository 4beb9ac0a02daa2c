// The diagnosis report, the device listing and the ping, as an administrator reads them, with
// standard output going into a pipe.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "sandbox/sandbox.h"
#include "support/command_output.h"

namespace lumora::testing {
namespace {

constexpr char kSeparator[] = "-----------------------------\n";
constexpr char kDefaultIni[] = "/etc/opt/kelvane/scanner/lumora//Lumsane.ini";

// What a command prints on standard output on this host (the report runs the real cat and ls).
std::string host_output(const std::string& command) {
  return command_output(command + " 2>/dev/null");
}

std::string report_head() {
  return std::string(kSeparator) + "cat /etc/fstab\n" + host_output("cat /etc/fstab") + kSeparator +
         "sane-find-scanner\n" + "<sane-find-scanner>\n" + kSeparator + "ls -R -all /proc/bus/usb\n" +
         host_output("ls -R -all /proc/bus/usb") + kSeparator + "cat /proc/bus/usb/devices\n" +
         host_output("cat /proc/bus/usb/devices") + kSeparator + "scanimage -L\n" + "<scanimage>\n" +
         kSeparator;
}

class DiagnosisTest : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    sandbox_->install_fake("sane-find-scanner", 0, "<sane-find-scanner>\n");
    sandbox_->install_fake("scanimage", 0, "<scanimage>\n");
    sandbox_->install_fake("ping", 0, "<pong>\n");
  }
};

TEST_F(DiagnosisTest, WithoutDevicesTheReportEndsAtPing) {
  sandbox_->write_file(kDefaultIni, "[Support Model]\n0x1:0x2,1,2,\"M\",1,1,,,\n");
  const RunResult result = run({"-d"});
  EXPECT_EQ(result.out, report_head() + kSeparator + "ping\n");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(sandbox_->calls("ping").size(), 0u);
  EXPECT_EQ(sandbox_->calls("sane-find-scanner"), std::vector<std::string>{"sane-find-scanner"});
  EXPECT_EQ(sandbox_->calls("scanimage"), std::vector<std::string>{"scanimage [-L]"});
}

TEST_F(DiagnosisTest, LevelThreeDumpsTheCatalogueAndListsTheDevices) {
  sandbox_->write_file(kDefaultIni,
                       "[Support Model]\n"
                       "0x04f9:0x1234,101,2,\"MODEL-X\",1,1,a,b,c\n"
                       "0x0001:0x0002,,5,ModelA1,,,x\n");
  const std::string n18(18, 'b');
  const std::string n19(19, 'c');
  const std::string n25(25, 'd');
  write_config("DEVICE=" + n18 + " , \"M\" , Unknown , IP-ADDRESS=10.0.0.1 \n" +
               "DEVICE=" + n19 + " , \"" + std::string(16, 'm') + "\" , Unknown , NODENAME=LQX_1 \n" +
               "DEVICE=" + n25 + " , \"" + std::string(20, 'm') + "\" , Unknown , IP-ADDRESS=10.0.0.3 \n" +
               "foo=bar\n");
  const RunResult result = run({"-D3verbose"});
  const std::string listing =
      "\nDevices on network\n"
      "  0 " + n18 + "  \"M\"" + std::string(17, ' ') + "I:10.0.0.1\n" +
      "  1 " + n19 + " \"" + std::string(16, 'm') + "\"  N:LQX_1\n" +
      "  2 " + n25 + " \"" + std::string(20, 'm') + "\" I:10.0.0.3\n" +
      "  3 " + std::string(40, ' ') + "\n";
  const std::string pings = "test \n"
                            "test " + n25 + "\nping 10.0.0.3 -w 10\n\n<pong>\n"
                            "test " + n19 + "\nping LQX_1 -w 10\n\n<pong>\n"
                            "test " + n18 + "\nping 10.0.0.1 -w 10\n\n<pong>\n";
  EXPECT_EQ(result.out, report_head() +
                            "MODEL:\"MODEL-X\",ID:0x4f9:0x1234,TYPE:1,2,RE:0x1,WE:0x1 CM:a,b,c\n"
                            "MODEL:ModelA1,ID:0x1:0x2,TYPE:0,5,RE:0xffffffff,WE:0xffffffff CM:x,,\n" +
                            kSeparator + listing + "ping\n" + pings);
  EXPECT_EQ(sandbox_->calls("ping"),
            (std::vector<std::string>{"ping [10.0.0.3] [-w] [10]", "ping [LQX_1] [-w] [10]",
                                      "ping [10.0.0.1] [-w] [10]"}));
}

TEST_F(DiagnosisTest, PingGoesFromTheLastDeviceToTheFirst) {
  write_config("DEVICE=A , \"M\" , Unknown , IP-ADDRESS=10.0.0.1 \n"
               "DEVICE=B , \"M\" , Unknown , NODENAME=host-b \n"
               "DEVICE=C , \"M\" , Unknown , IP-ADDRESS=10.0.0.3 \n");
  const RunResult result = run({"-p"});
  EXPECT_EQ(result.out,
            "test C\nping 10.0.0.3 -w 10\n\n<pong>\n"
            "test B\nping host-b -w 10\n\n<pong>\n"
            "test A\nping 10.0.0.1 -w 10\n\n<pong>\n");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
}

TEST_F(DiagnosisTest, AHostileNodeNameIsPingedAsANameAndRunsNothing) {
  const std::string hostile = "$(touch${IFS}/tmp/owned);touch${IFS}/tmp/owned2;'`reboot`'";
  write_config("DEVICE=evil , \"M\" , Unknown , NODENAME=" + hostile + " \n");
  const RunResult result = run({"-p"});
  EXPECT_EQ(result.out, "test evil\nping '$(touch${IFS}/tmp/owned);touch${IFS}/tmp/owned2;'\\''`reboot`'\\''' -w 10\n\n<pong>\n");
  EXPECT_EQ(sandbox_->calls("ping"), std::vector<std::string>{"ping [" + hostile + "] [-w] [10]"});
  EXPECT_TRUE(sandbox_->tmp_entries().empty());
}

// ping would read an address that begins with "-" as an option ("-f" floods): such a value is
// no host, and its device gets the test line alone, as one without an address.
TEST_F(DiagnosisTest, AnAddressThatBeginsWithADashIsNotPinged) {
  EXPECT_EQ(run({"-a", "name=flood", "model=M", "nodename=-f"}).out, "");
  write_config(config() + "DEVICE=opt , \"M\" , Unknown , IP-ADDRESS=-c1 \n" +
               "DEVICE=ok , \"M\" , Unknown , IP-ADDRESS=10.0.0.1 \n");
  RunResult result = run({"-p"});
  EXPECT_EQ(result.out, "test ok\nping 10.0.0.1 -w 10\n\n<pong>\ntest opt\ntest flood\n");
  EXPECT_EQ(sandbox_->calls("ping"), std::vector<std::string>{"ping [10.0.0.1] [-w] [10]"});
  result = run({"-d"});
  EXPECT_EQ(result.out, report_head() + kSeparator + "ping\n" +
                            "test ok\nping 10.0.0.1 -w 10\n\n<pong>\ntest opt\ntest flood\n");
  EXPECT_EQ(sandbox_->calls("ping").size(), 2u);
}

TEST_F(DiagnosisTest, WithTheRealToolsTheReportKeepsItsShape) {
  for (const char* tool : {"ping", "sane-find-scanner", "scanimage"}) {
    sandbox_->remove_fake(tool);
    ASSERT_FALSE(host_output(std::string("command -v ") + tool).empty())
        << tool << " is not installed (packages sane-utils and iputils-ping)";
  }
  write_config("DEVICE=loopback , \"M\" , Unknown , IP-ADDRESS=127.0.0.1 \n");
  RunOptions options;
  options.timeout = std::chrono::seconds(90);
  const RunResult result = run({"-D3"}, options);
  EXPECT_EQ(result.status, 0);
  const std::string& out = result.out;
  std::vector<std::size_t> separators;
  for (std::size_t at = out.find(kSeparator); at != std::string::npos; at = out.find(kSeparator, at + 1)) {
    separators.push_back(at);
  }
  ASSERT_EQ(separators.size(), 7u) << out;
  const char* echoes[] = {"cat /etc/fstab\n", "sane-find-scanner\n", "ls -R -all /proc/bus/usb\n",
                          "cat /proc/bus/usb/devices\n", "scanimage -L\n"};
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(out.compare(separators[i] + sizeof kSeparator - 1, std::strlen(echoes[i]), echoes[i]), 0)
        << "block " << i << " in:\n" << out;
  }
  const std::string tail = out.substr(separators[6] + sizeof kSeparator - 1);
  const std::string expected_start =
      "\nDevices on network\n  0 loopback" + std::string(12, ' ') + "\"M\"" + std::string(17, ' ') +
      "I:127.0.0.1\nping\ntest loopback\nping 127.0.0.1 -w 10\n\n";
  ASSERT_EQ(tail.substr(0, expected_start.size()), expected_start) << tail;
  EXPECT_NE(tail.find("127.0.0.1", expected_start.size()), std::string::npos) << "ping's own output: " << tail;
}

}  // namespace
}  // namespace lumora::testing
