#include "registry/device_line.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "registry/log_settings.h"

namespace lumora {
namespace {

std::string widened(const std::string& line) {
  char buffer[kDeviceLineBufferSize] = {};
  std::memcpy(buffer, line.data(), line.size());
  widen_commas(buffer);
  return buffer;
}

TEST(WidenCommas, TheFirstThreeCommasBecomeBlankCommaBlank) {
  const std::pair<const char*, const char*> cases[] = {
      {"DEVICE=a,b,c,IP-ADDRESS=1.2.3.4,5\n", "DEVICE=a , b , c , IP-ADDRESS=1.2.3.4,5\n"},
      {"DEVICE=a , b\n", "DEVICE=a  ,  b\n"},
      {"no commas\n", "no commas\n"},
      {"", ""},
      // The scan ends 2c characters short of the grown line: with one comma widened, a
      // comma among the last two characters as read stays.
      {"a,b,\n", "a , b,\n"},
      {"a,,\n", "a , ,\n"},
      {",,,,\n", " ,  , ,,\n"},
  };
  for (const auto& [line, expected] : cases) EXPECT_EQ(widened(line), expected) << line;
}

TEST(WidenCommas, AFullLengthLineStaysInsideTheBuffer) {
  std::string line(kDeviceLineReadLimit - 1, ',');
  const std::string result = widened(line);
  EXPECT_EQ(result.size(), line.size() + 6);
  EXPECT_EQ(result.substr(0, 9), " ,  ,  , ");
}

TEST(ClassifyDeviceLine, TellsLinesApartInOrder) {
  const std::pair<const char*, DeviceLineKind> cases[] = {
      {"# DEVICE=a , b , c , IP-ADDRESS=1\n", DeviceLineKind::kSkipped},
      {"[section=x]\n", DeviceLineKind::kSkipped},
      {"\n", DeviceLineKind::kSkipped},
      {"no equals sign\n", DeviceLineKind::kSkipped},
      {"log=/tmp/x , 1 , w\n", DeviceLineKind::kLog},
      {"DEVICE=a , b , c , IP-ADDRESS=1.2.3.4 \n", DeviceLineKind::kDevice},
      {"foo=bar\n", DeviceLineKind::kDevice},
      {" #x=y\n", DeviceLineKind::kDevice},
      {" # comment\n", DeviceLineKind::kSkipped},
      {" log=/x , 1 , w\n", DeviceLineKind::kDevice},
  };
  for (const auto& [line, kind] : cases) EXPECT_EQ(classify_device_line(line), kind) << line;
}

struct ScanCase {
  const char* line;
  const char* name;
  const char* model;
  const char* id;
  const char* ip;
  const char* nodename;
};

TEST(ScanDeviceLine, FillsTheFieldsOfBothForms) {
  const ScanCase cases[] = {
      {"DEVICE=office , \"M-1\" , 0x2e5a:0x1 , IP-ADDRESS=192.168.1.20 \n", "office", "\"M-1\"",
       "0x2e5a:0x1", "192.168.1.20", ""},
      {"DEVICE=lab , \"M\" , Unknown , NODENAME=LQX_12345 \n", "lab", "\"M\"", "Unknown", "",
       "LQX_12345"},
      {"DEVICE=both , m , i , IP-ADDRESS=1.1.1.1 NODENAME=n \n", "both", "m", "i", "1.1.1.1", ""},
      {"DEVICE=x , m , i , NODENAME=n IP-ADDRESS=1.1.1.1\n", "x", "m", "i", "", ""},
      {"DEVICE=a , b , c , IP-ADDRESS=1.2.3.4,5\n", "a", "b", "c", "1.2.3.4,5", ""},
      {"foo=bar\n", "", "", "", "", ""},
      {"DEVICE=only , model\n", "", "", "", "", ""},
      {" DEVICE=a , b , c , IP-ADDRESS=1.2.3.4\n", "", "", "", "", ""},
      {"DEVICE=a , b , c , IP-ADDRESS=\n", "a", "b", "c", "", ""},
      // A file saved with CR LF line ends: the carriage return ends the last field.
      {"DEVICE=crlf , \"M\" , Unknown , IP-ADDRESS=10.0.0.9\r\n", "crlf", "\"M\"", "Unknown",
       "10.0.0.9", ""},
      {"DEVICE=crlf,\"M\",Unknown,NODENAME=LQX_1\r\n", "crlf", "\"M\"", "Unknown", "", "LQX_1"},
  };
  for (const ScanCase& c : cases) {
    char buffer[kDeviceLineBufferSize] = {};
    std::strncpy(buffer, c.line, sizeof buffer - 1);
    widen_commas(buffer);
    DeviceEntry entry{};
    scan_device_line(buffer, entry);
    EXPECT_STREQ(entry.name, c.name) << c.line;
    EXPECT_STREQ(entry.model, c.model) << c.line;
    EXPECT_STREQ(entry.id, c.id) << c.line;
    EXPECT_STREQ(entry.ip, c.ip) << c.line;
    EXPECT_STREQ(entry.nodename, c.nodename) << c.line;
  }
}

TEST(ScanDeviceLine, CutsTokensOverSixtyThreeCharacters) {
  const std::string long_name(100, 'n');
  const std::string line = "DEVICE=" + long_name + " , \"m\" , Unknown , IP-ADDRESS=10.0.0.1 \n";
  DeviceEntry entry{};
  scan_device_line(line.c_str(), entry);
  EXPECT_EQ(std::string(entry.name), long_name.substr(0, 63));
  EXPECT_STREQ(entry.model, "\"m\"");
  EXPECT_STREQ(entry.ip, "10.0.0.1");
}

class LogLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_logfile[0] = '\0';
    g_loglevel = 0;
    g_logmode = '\0';
  }
};

TEST_F(LogLineTest, LaterLinesOverrideOnlyWhatTheySupply) {
  apply_log_line("log=/tmp/lum_sane.log , 1 , w\n");
  EXPECT_STREQ(g_logfile, "/tmp/lum_sane.log");
  EXPECT_EQ(g_loglevel, 1);
  EXPECT_EQ(g_logmode, 'w');
  apply_log_line("log=/var/x.log\n");
  EXPECT_STREQ(g_logfile, "/var/x.log");
  EXPECT_EQ(g_loglevel, 1);
  EXPECT_EQ(g_logmode, 'w');
}

TEST_F(LogLineTest, CommasWithoutBlanksAndOverlongPaths) {
  char line[kDeviceLineBufferSize] = "log=/tmp/x.log,2,a\n";
  widen_commas(line);
  apply_log_line(line);
  EXPECT_STREQ(g_logfile, "/tmp/x.log");
  EXPECT_EQ(g_loglevel, 2);
  EXPECT_EQ(g_logmode, 'a');

  const std::string long_path = "/" + std::string(300, 'p');
  apply_log_line(("log=" + long_path + " , 3 , x\n").c_str());
  EXPECT_EQ(std::string(g_logfile), long_path.substr(0, kLogFileSize - 1));
  EXPECT_EQ(g_loglevel, 3);
  EXPECT_EQ(g_logmode, 'x');
}

}  // namespace
}  // namespace lumora
