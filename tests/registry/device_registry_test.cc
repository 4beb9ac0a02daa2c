#include "registry/device_registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace lumora {

namespace {

using lumora::testing::TempDir;

class DeviceRegistryTest : public ::testing::Test {
 protected:
  void TearDown() override { free_net_devices(); }

  std::int32_t load(std::string_view content) {
    return load_net_devices_from(dir_.write("lumsanenetdevice.cfg", content).c_str());
  }
  std::string field(std::int32_t index, unsigned selector) {
    char buffer[64];
    std::memset(buffer, 'x', sizeof buffer);
    const char* found = get_net_device_field(index, selector, buffer, sizeof buffer);
    EXPECT_TRUE(found == nullptr || found == buffer);
    return found ? std::string(found) : "<none:" + std::string(buffer) + ">";
  }

  TempDir dir_;
};

constexpr char kThreeDevices[] =
    "# written by hand\n"
    "[network]\n"
    "\n"
    "log=/tmp/lum_sane.log , 1 , w\n"
    "DEVICE=office , \"M-1\" , 0x2e5a:0x1 , IP-ADDRESS=192.168.1.20 \n"
    "DEVICE=lab , \"M-2\" , Unknown , NODENAME=LQX_12345 \n"
    "DEVICE=scan1,\"MODEL-NAME\",Unknown,IP-ADDRESS=10.0.0.7\n";

TEST_F(DeviceRegistryTest, ReadsDevicesInFileOrder) {
  EXPECT_EQ(load(kThreeDevices), 3);
  EXPECT_EQ(count_net_devices(), 3);
  EXPECT_EQ(field(0, kDeviceName), "office");
  EXPECT_EQ(field(0, kDeviceId), "0x2e5a:0x1");
  EXPECT_EQ(field(0, kDeviceIp), "192.168.1.20");
  EXPECT_EQ(field(0, kDeviceNodename), "<none:>");
  EXPECT_EQ(field(1, kDeviceNodename), "LQX_12345");
  EXPECT_EQ(field(1, kDeviceIp), "<none:>");
  EXPECT_EQ(field(2, kDeviceName), "scan1");
  EXPECT_EQ(field(2, kDeviceModel), "\"MODEL-NAME\"");
  EXPECT_EQ(field(2, kDeviceIp), "10.0.0.7");
}

TEST_F(DeviceRegistryTest, OutOfRangeLookupsEmptyTheBuffer) {
  load(kThreeDevices);
  EXPECT_EQ(field(-1, kDeviceName), "<none:>");
  EXPECT_EQ(field(3, kDeviceName), "<none:>");
  EXPECT_EQ(field(0, 5), "<none:>");
}

TEST_F(DeviceRegistryTest, ShortBuffersAreAlwaysTerminated) {
  load(kThreeDevices);
  char small[4];
  ASSERT_NE(get_net_device_field(0, kDeviceName, small, sizeof small), nullptr);
  EXPECT_STREQ(small, "off");
  ASSERT_NE(find_net_device_field("office", kDeviceIp, small, sizeof small), nullptr);
  EXPECT_STREQ(small, "192");
}

TEST_F(DeviceRegistryTest, LinesWithoutAnAddressCountButYieldNothing) {
  EXPECT_EQ(load("foo=bar\nDEVICE=x , \"m\" , Unknown\n"), 2);
  EXPECT_EQ(count_net_devices(), 2);
  for (unsigned selector = 0; selector <= 4; ++selector) {
    EXPECT_EQ(field(0, selector), "<none:>");
    EXPECT_EQ(field(1, selector), "<none:>");
  }
}

TEST_F(DeviceRegistryTest, FindComparesWholeNamesAndSearchesPastNamelessEntries) {
  load("foo=bar\nDEVICE=scanner , \"m\" , Unknown , IP-ADDRESS=1.2.3.4 \n");
  char buffer[200] = "untouched";
  EXPECT_EQ(find_net_device_field("scan", kDeviceName, buffer, sizeof buffer), nullptr);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(find_net_device_field("Scanner", kDeviceName, buffer, sizeof buffer), nullptr);
  ASSERT_EQ(find_net_device_field("scanner", kDeviceName, buffer, sizeof buffer), buffer);
  EXPECT_STREQ(buffer, "scanner");
  ASSERT_EQ(find_net_device_field("scanner", kDeviceIp, buffer, sizeof buffer), buffer);
  EXPECT_STREQ(buffer, "1.2.3.4");
}

TEST_F(DeviceRegistryTest, LongLinesAreReadInPieces) {
  // 301 characters: a piece of 276 and a piece of 25, each a line of its own. The second
  // piece holds "=" and so counts as a (nameless) device.
  std::string line = "DEVICE=long , \"m\" , Unknown , IP-ADDRESS=1.2.3.4 ";
  line += std::string(276 - line.size(), 'x');
  line += std::string(23, 'y') + "=\n";
  ASSERT_EQ(line.size(), 301u);
  EXPECT_EQ(load(line), 2);
  EXPECT_EQ(field(0, kDeviceName), "long");
  EXPECT_EQ(field(0, kDeviceIp), "1.2.3.4");
  EXPECT_EQ(field(1, kDeviceName), "<none:>");
}

// The reader takes 276 characters at a time: the 277th byte of a line begins a line of its
// own, so what lies only behind it is read as such a line.
TEST_F(DeviceRegistryTest, TheTwoHundredSeventySeventhByteBeginsTheNextPiece) {
  const std::string comment = "#" + std::string(275, 'x');
  // An "=" only at the 277th byte: the comment piece is passed over, the "=" piece is a device.
  EXPECT_EQ(load(comment + "=\n"), 1);
  EXPECT_EQ(field(0, kDeviceName), "<none:>");
  free_net_devices();
  // A device line beginning at the 277th byte is read whole, name and address.
  EXPECT_EQ(load(comment + "DEVICE=late , \"m\" , Unknown , IP-ADDRESS=1.2.3.4 \n"), 1);
  EXPECT_EQ(field(0, kDeviceName), "late");
  EXPECT_EQ(field(0, kDeviceIp), "1.2.3.4");
}

TEST_F(DeviceRegistryTest, CrLfFilesGiveTheAddressWithoutTheCarriageReturn) {
  EXPECT_EQ(load("[network]\r\n\r\nDEVICE=office , \"M-1\" , 0x2e5a:0x1 , IP-ADDRESS=192.168.1.20\r\n"
                 "DEVICE=lab,\"M-2\",Unknown,NODENAME=LQX_12345\r\n"),
            2);
  EXPECT_EQ(field(0, kDeviceName), "office");
  EXPECT_EQ(field(0, kDeviceIp), "192.168.1.20");
  EXPECT_EQ(field(1, kDeviceNodename), "LQX_12345");
}

// A caller that reports on the file is told of every piece: the line it belongs to, its bytes
// as read (a NUL byte and what follows it included), the text the reader classified and the
// entry it made.
TEST_F(DeviceRegistryTest, EveryPieceIsHandedOutWithItsLineAndBytes) {
  const std::string long_line = "#" + std::string(275, 'x') + "DEVICE=late,\"m\",Unknown,IP-ADDRESS=1.2.3.4\n";
  const std::string content = "log=/tmp/x.log\n" + long_line + std::string("DEVICE=a\0b , x\n", 15) + "last=1";
  const std::string path = dir_.write("pieces.cfg", content);
  struct Seen {
    std::size_t line;
    std::size_t piece;
    std::string bytes;
    std::string text;
    DeviceLineKind kind;
    std::string name;
  };
  std::vector<Seen> seen;
  std::int32_t appended = 0;
  ASSERT_EQ(read_device_file(path.c_str(), appended, [&seen](const DevicePiece& piece) {
              seen.push_back({piece.line, piece.piece, std::string(piece.bytes), piece.text,
                              piece.kind, piece.entry ? piece.entry->name : "<no entry>"});
            }),
            DeviceFileRead::kRead);
  EXPECT_EQ(appended, 3);
  ASSERT_EQ(seen.size(), 5u);
  EXPECT_EQ(seen[0].line, 1u);
  EXPECT_EQ(seen[0].kind, DeviceLineKind::kLog);
  EXPECT_EQ(seen[0].name, "<no entry>");
  EXPECT_EQ(seen[1].line, 2u);
  EXPECT_EQ(seen[1].piece, 0u);
  EXPECT_EQ(seen[1].bytes, long_line.substr(0, 276));
  EXPECT_EQ(seen[1].kind, DeviceLineKind::kSkipped);
  EXPECT_EQ(seen[2].line, 2u);
  EXPECT_EQ(seen[2].piece, 1u);
  EXPECT_EQ(seen[2].bytes, long_line.substr(276));
  EXPECT_EQ(seen[2].text, "DEVICE=late , \"m\" , Unknown , IP-ADDRESS=1.2.3.4\n");
  EXPECT_EQ(seen[2].name, "late");
  EXPECT_EQ(seen[3].line, 3u);
  EXPECT_EQ(seen[3].bytes, std::string("DEVICE=a\0b , x\n", 15));
  EXPECT_EQ(seen[3].text, "DEVICE=a");
  EXPECT_EQ(seen[3].kind, DeviceLineKind::kDevice);
  EXPECT_EQ(seen[3].name, "");
  EXPECT_EQ(seen[4].line, 4u);
  EXPECT_EQ(seen[4].bytes, "last=1");
}

TEST_F(DeviceRegistryTest, MissingFileLoadsNothing) {
  EXPECT_EQ(load_net_devices_from((dir_.path() + "/absent.cfg").c_str()), -1);
  EXPECT_EQ(first_net_device(), nullptr);
}

}  // namespace

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

TEST(ScanDeviceWords, KeepsEveryWordWhole) {
  const std::string long_name(100, 'n');
  const std::string line = "DEVICE=" + long_name + " , \"m\" , Unknown , NODENAME=LQX_1 \n";
  DeviceLineWords words{};
  scan_device_words(line.c_str(), words);
  EXPECT_EQ(std::string(words.name), long_name);
  EXPECT_STREQ(words.model, "\"m\"");
  EXPECT_STREQ(words.id, "Unknown");
  EXPECT_STREQ(words.ip, "");
  EXPECT_STREQ(words.nodename, "LQX_1");
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
