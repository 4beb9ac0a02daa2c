#include "registry/device_registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

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

TEST_F(DeviceRegistryTest, MissingFileLoadsNothing) {
  EXPECT_EQ(load_net_devices_from((dir_.path() + "/absent.cfg").c_str()), -1);
  EXPECT_EQ(first_net_device(), nullptr);
}

}  // namespace
}  // namespace lumora
