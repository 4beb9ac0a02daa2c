// Registering network scanners, as administrators and installers run it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <sstream>

#include "common/build_config.h"
#include "sandbox/sandbox.h"
#include "support/device_lines.h"
#include "netconfig/test_scrambler.h"

namespace lumora::testing {
namespace {

constexpr char kDefaultIni[] = "/etc/opt/kelvane/scanner/lumora//Lumsane.ini";
constexpr char kModelsDir[] = "/etc/opt/kelvane/scanner/lumora//models";

std::string hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", value);
  return text;
}

class AddDeviceTest : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    sandbox_->write_file(kDefaultIni,
                         "; the backend's model list\n"
                         "[Support Model]\n"
                         "0x04f9:0x1234,101,2,\"MODEL-X\",1,1,a,b,c\n"
                         "0x0abc,1,2,\"ONLY-PRODUCT\",1,1,,,\n" +
                             scramble_line("0x1111:0x2222,1,2,\"SCRAMBLED-1\",1,1,,,\n", {'A', 'B'}) +
                             "\n");
    sandbox_->write_file(std::string(kModelsDir) + "/extra.ini",
                         scramble_line("[Support Model]\n", {'q', 'z'}) +
                             scramble_line("0x3333:0x4444,1,2,\"MODEL-X\",1,1,,,\n", {'k', '7'}));
  }
  void expect_nothing_left() const { EXPECT_TRUE(sandbox_->tmp_entries().empty()); }
};

std::string ip_line(const std::string& name, const std::string& model, const std::string& id,
                    const std::string& ip) {
  return ip_device_line(name, model, id, ip);
}

TEST_F(AddDeviceTest, RegistersWithTheCatalogueIdentifier) {
  const RunResult result = run({"-a", "name=office", "model=ONLY-PRODUCT", "ip=192.168.1.20"});
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(config(), ip_line("office", "\"ONLY-PRODUCT\"", hex(kMakerVendorId) + ":0xabc",
                              "192.168.1.20"));
  expect_nothing_left();
}

TEST_F(AddDeviceTest, ScrambledLinesAndDirectoryFilesComeFirst) {
  run({"-a", "name=s1", "model=SCRAMBLED-1", "nodename=LQX_12345"});
  run({"-a", "name=x1", "model=MODEL-X", "ip=10.0.0.2"});
  run({"-a", "name=u1", "model=model-x", "ip=10.0.0.3"});
  EXPECT_EQ(config(),
            ip_line("u1", "\"model-x\"", "Unknown", "10.0.0.3") +
                ip_line("x1", "\"MODEL-X\"", "0x3333:0x4444", "10.0.0.2") +
                "DEVICE=s1 , \"SCRAMBLED-1\" , 0x1111:0x2222 , NODENAME=LQX_12345 \n");
  expect_nothing_left();
}

TEST_F(AddDeviceTest, TheNewLineStandsFirstAndRepeatsCollapse) {
  write_config("log=/tmp/lum_sane.log , 1 , w\n\n\nDEVICE=old , \"M\" , Unknown , IP-ADDRESS=10.0.0.9 \n");
  run({"-a", "name=new", "model=M", "ip=10.0.0.1"});
  EXPECT_EQ(config(), ip_line("new", "\"M\"", "Unknown", "10.0.0.1") +
                          "log=/tmp/lum_sane.log , 1 , w\n\n" +
                          ip_line("old", "\"M\"", "Unknown", "10.0.0.9"));
}

TEST_F(AddDeviceTest, WithoutANameTheQuotedModelIsTheNameAndRepeatsCollapse) {
  run({"-a", "model=MODEL-X", "ip=10.0.0.1"});
  run({"-a", "model=MODEL-X", "ip=10.0.0.1"});
  run({"-a", "name=", "ip=10.0.0.2"});
  EXPECT_EQ(config(), ip_line("\"\"", "\"\"", "Unknown", "10.0.0.2") +
                          ip_line("\"MODEL-X\"", "\"MODEL-X\"", "0x3333:0x4444", "10.0.0.1"));
}

TEST_F(AddDeviceTest, NodeNameWinsOverAValidIp) {
  run({"-a", "name=n", "model=M", "ip=10.0.0.1", "nodename=LQX_1"});
  EXPECT_EQ(config(), "DEVICE=n , \"M\" , Unknown , NODENAME=LQX_1 \n");
}

TEST_F(AddDeviceTest, BadInputGetsItsMessageInCheckOrderAndChangesNothing) {
  const std::string original = ip_line("taken", "\"M\"", "Unknown", "10.0.0.1");
  write_config("foo=bar\n" + original);  // a nameless first entry hides nothing
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"-a", "name=bad.name", "model=M"}, "Invalid name\n"},
      {{"-a", "name=caf\xc3\xa9", "ip=1.2.3.4"}, "Invalid name\n"},
      {{"-a", "name=a/b", "ip=1.2.3.4"}, "Invalid name\n"},
      {{"-a", "name=taken", "model=M"}, "\"taken\" is already registered.\n"},
      {{"-a", "name=taken", "ip=1.2.3.4"}, "\"taken\" is already registered.\n"},
      {{"-a", "name=free", "model=M"}, "Invalid IP address or NODENAME\n"},
      {{"-a", "name=free", "ip="}, "Invalid IP address or NODENAME\n"},
      {{"-a", "name=free", "ip=1.2.3"}, "Invalid IP address (1.2.3)\n"},
      {{"-a", "name=free", "ip=256.1.1.1"}, "Invalid IP address (256.1.1.1)\n"},
      {{"-a", "name=free", "ip=1.2.3.4\x0b"}, "Invalid IP address (1.2.3.4\x0b)\n"},
      {{"-a", "name=free", "nodename=LQX_1", "ip=1..2.3"}, "Invalid IP address (1..2.3)\n"},
  };
  for (const Case& c : cases) {
    const RunResult result = run(c.args);
    EXPECT_EQ(result.out, c.message) << c.args[1] << " " << c.args[2];
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(config(), "foo=bar\n" + original);
  }
  expect_nothing_left();
}

TEST_F(AddDeviceTest, AMissingConfigurationFileIsCreated) {
  EXPECT_FALSE(sandbox_->exists(kConfigPath));
  run({"-a", "name=first", "model=M", "ip=010.001.000.255"});
  EXPECT_EQ(config(), ip_line("first", "\"M\"", "Unknown", "010.001.000.255"));
}

TEST_F(AddDeviceTest, ValuesAreCutToTheirFieldsAndCannotSplitTheLine) {
  run({"-a", "name=" + std::string(70, 'n'), "model=" + std::string(70, 'm'), "nodename=" + std::string(70, 'h')});
  EXPECT_EQ(config(), nodename_device_line(std::string(63, 'n'), "\"" + std::string(61, 'm') + "\"",
                                           "Unknown", std::string(63, 'h')));
  write_config("");
  run({"-a", "model=X\nlog=/evil , 9 , a\r", "nodename=n\nDEVICE=fake"});
  EXPECT_EQ(config(), "DEVICE=\"Xlog=/evil\" , \"Xlog=/evil\" , Unknown , NODENAME=nDEVICE=fake \n");
}

TEST_F(AddDeviceTest, AMissingDirectoryIsReportedAfterTheChecks) {
  std::filesystem::remove_all(sandbox_->host_path("/etc/opt/kelvane/scanner/lumora"));
  EXPECT_EQ(run({"-a", "name=bad.name", "ip=1.2.3.4"}).out, "Invalid name\n");
  EXPECT_EQ(run({"-a", "name=ok", "ip=1.2.3.4"}).out,
            "Cannot write /etc/opt/kelvane/scanner/lumora//lumsanenetdevice.cfg\n");
  EXPECT_FALSE(sandbox_->exists("/etc/opt/kelvane/scanner/lumora"));
  expect_nothing_left();
}

TEST_F(AddDeviceTest, ConcurrentAddsAllLand) {
  std::vector<std::vector<std::string>> runs;
  for (int i = 0; i < 16; ++i) {
    runs.push_back({"-a", "name=dev" + std::to_string(i), "model=MODEL-X", "ip=10.0.0." + std::to_string(i)});
  }
  for (const RunResult& result : sandbox_->run_concurrently(runs)) {
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.status, 0);
  }
  std::istringstream lines(config());
  std::vector<std::string> got;
  for (std::string line; std::getline(lines, line);) got.push_back(line + "\n");
  std::sort(got.begin(), got.end());
  std::vector<std::string> expected;
  for (int i = 0; i < 16; ++i) {
    expected.push_back(ip_line("dev" + std::to_string(i), "\"MODEL-X\"", "0x3333:0x4444",
                               "10.0.0." + std::to_string(i)));
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(got, expected);
  expect_nothing_left();
}

// A new configuration file is never writable by group or others, whatever the umask: any
// local user could otherwise register devices, or a log file, for the backend.
TEST_F(AddDeviceTest, ANewConfigurationFileIsNotWritableByOthersWhateverTheUmask) {
  for (const int mask : {0, 002, 022, 077}) {
    std::filesystem::remove(sandbox_->host_path(kConfigPath));
    RunOptions options;
    options.umask = mask;
    const RunResult result = run({"-a", "name=n", "ip=10.0.0.2"}, options);
    EXPECT_EQ(result.out, "") << mask;
    struct stat info {};
    ASSERT_EQ(::stat(sandbox_->host_path(kConfigPath).c_str(), &info), 0) << mask;
    EXPECT_EQ(info.st_mode & 07777, 0644u & ~static_cast<unsigned>(mask)) << mask;
  }
}

}  // namespace
}  // namespace lumora::testing
