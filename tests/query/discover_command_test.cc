#include "query/discover_command.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "catalogue/model_match.h"
#include "discovery/wsd_run.h"

namespace lumora {
namespace {

TEST(DiscoverCommandTest, TimeoutsAreSecondsWithAtMostMillisecondDigits) {
  const std::pair<const char*, long long> cases[] = {
      {"2", 2000},     {"0.5", 500},   {"1.25", 1250},  {"0.001", 1},    {"600", 600000},
      {"600.000", 600000}, {"007", 7000},
      {"0", -1},       {"0.000", -1},  {"600.001", -1}, {"601", -1},     {"99999999999999999999", -1},
      {"", -1},        {".5", -1},     {"5.", -1},      {"1.2345", -1},  {"-1", -1},
      {"+1", -1},      {"1e3", -1},    {" 1", -1},      {"1 ", -1},      {"2s", -1},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(parse_discovery_timeout(text).count(), expected) << text;
  }
}

TEST(DiscoverCommandTest, FriendlyNamesAreOnesTheAddAccepts) {
  const std::pair<std::string, const char*> cases[] = {
      {"Office", "Office"},
      {"Office Scanner", "Office_Scanner"},
      {"Office  -  Scanner", "Office_-_Scanner"},
      {"lab_2-OG", "lab_2-OG"},
      {" (Hall) MFP ", "Hall_MFP"},
      {"B\xc3\xbcro Scanner \xe2\x9c\x93", "B_ro_Scanner"},
      {"$(reboot); `id`", "reboot_id"},
      {"__x__", "x"},
      {"\xe2\x9c\x93", "scanner"},
      {"", "scanner"},
      {std::string(70, 'a'), "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"},
      {std::string(62, 'a') + " b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"},
  };
  for (const auto& [instance, expected] : cases) {
    std::vector<std::string> taken;
    EXPECT_EQ(friendly_name_for(instance, taken), expected) << instance;
  }
}

TEST(DiscoverCommandTest, AFriendlyNameTakenInTheRunGetsANumber) {
  std::vector<std::string> taken;
  EXPECT_EQ(friendly_name_for("Office Scanner", taken), "Office_Scanner");
  EXPECT_EQ(friendly_name_for("Office-Scanner", taken), "Office-Scanner");
  EXPECT_EQ(friendly_name_for("Office (Scanner)", taken), "Office_Scanner_2");
  EXPECT_EQ(friendly_name_for("Office Scanner", taken), "Office_Scanner_3");
  const std::string long_name(63, 'z');
  EXPECT_EQ(friendly_name_for(long_name, taken), long_name);
  EXPECT_EQ(friendly_name_for(long_name, taken), std::string(61, 'z') + "_2");
}

FoundDevice office() {
  FoundDevice scanner;
  scanner.instance = "Office \"1\"";
  scanner.host = "lumascan-7.local";
  scanner.has_address = true;
  scanner.address = {10, 77, 1, 2};
  scanner.port = 80;
  scanner.services = {"_uscan._tcp", "_ipp._tcp"};
  scanner.ty = "Kelvane MX-200";
  scanner.scan = true;
  return scanner;
}

TEST(DiscoverCommandTest, ALineHoldsTheScannerAndTheAddCommand) {
  const std::vector<std::string> names = {"LS-10", "MX-200"};
  std::vector<std::string> taken;
  EXPECT_EQ(discovered_scanner_line({office(), {}}, names, 1, taken),
            R"({"instance":"Office \"1\"","host":"lumascan-7.local","ip":"10.77.1.2","port":80,)"
            R"("services":["_uscan._tcp","_ipp._tcp"],"ty":"Kelvane MX-200","usb_MDL":null,"product":null,)"
            R"("model":"MX-200","add":["-a","name=Office_1","model=MX-200","ip=10.77.1.2"],)"
            R"("ipv6":[],"listed_for":"scanning","protocols":["mdns"],"wsd":null})"
            "\n");
}

TEST(DiscoverCommandTest, APrinterOfAKnownModelIsListedForItsModel) {
  FoundDevice printer = office();
  printer.services = {"_ipps._tcp", "_printer._tcp"};
  printer.ty.clear();
  printer.product = "(Kelvane MX-200)";
  printer.scan = false;
  std::vector<std::string> taken;
  const std::string line = discovered_scanner_line({printer, {}}, {"MX-200"}, 0, taken);
  EXPECT_NE(line.find(R"x("product":"(Kelvane MX-200)","model":"MX-200")x"), std::string::npos) << line;
  EXPECT_NE(line.find(R"("listed_for":"model",)"), std::string::npos) << line;
}

TEST(DiscoverCommandTest, AnUnknownModelHasNoAddCommand) {
  FoundDevice scanner = office();
  scanner.ty.clear();
  scanner.usb_mdl = "Z9";
  std::vector<std::string> taken;
  EXPECT_EQ(discovered_scanner_line({scanner, {}}, {"MX-200"}, kNoModelMatch, taken),
            R"({"instance":"Office \"1\"","host":"lumascan-7.local","ip":"10.77.1.2","port":80,)"
            R"("services":["_uscan._tcp","_ipp._tcp"],"ty":null,"usb_MDL":"Z9","product":null,)"
            R"("model":null,"add":null,"ipv6":[],"listed_for":"scanning","protocols":["mdns"],"wsd":null})"
            "\n");
  EXPECT_TRUE(taken.empty());
}

TEST(DiscoverCommandTest, ADeviceFoundOverIpv6AloneHasNoAddCommand) {
  FoundDevice six = office();
  six.has_address = false;
  six.ipv6 = {{0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xfe, 0, 0, 6}, {0xfd, 0x77}};
  std::vector<std::string> taken;
  const std::string line = discovered_scanner_line({six, {}}, {"MX-200"}, 0, taken);
  EXPECT_NE(line.find(R"("ip":null,)"), std::string::npos) << line;
  EXPECT_NE(line.find(R"("model":"MX-200","add":null,"ipv6":["fe80::ff:fe00:6","fd77::"],)"),
            std::string::npos) << line;
  EXPECT_TRUE(taken.empty());
}

TEST(DiscoverCommandTest, BytesThatAreNotUtf8Survive) {
  FoundDevice scanner = office();
  scanner.instance = "caf\xe9";
  scanner.ty = "Kelvane\xff MX-200";
  std::vector<std::string> taken;
  const std::string line = discovered_scanner_line({scanner, {}}, {"MX-200"}, 0, taken);
  EXPECT_NE(line.find(R"("instance":"caf\udce9")"), std::string::npos) << line;
  EXPECT_NE(line.find(R"("ty":"Kelvane\udcff MX-200")"), std::string::npos) << line;
  EXPECT_NE(line.find(R"("name=caf")"), std::string::npos) << line;
}

WsdDevice front_desk() {
  WsdDevice device;
  device.source.address = {10, 77, 4, 2};
  device.endpoint = "urn:uuid:1";
  device.types = {"Device", "ScanDeviceType"};
  device.xaddrs = {"http://10.77.4.2:5357/1"};
  device.metadata_version = 3;
  device.metadata_url = device.xaddrs.front();
  device.port = 5357;
  device.has_metadata = true;
  device.metadata = {"Kelvane", "LumaScan MX-200", "", "Front Desk"};
  return device;
}

TEST(DiscoverCommandTest, ADeviceOfWsDiscoveryAloneIsNamedByItsMetadataAndAddress) {
  const DiscoveredDevice device{std::nullopt, front_desk()};
  const std::vector<std::string> names = {"LS-10", "MX-200"};
  const std::vector<std::string> descriptions = model_descriptions(device);
  const std::size_t model =
      match_catalogue_model(names, std::vector<std::string_view>(descriptions.begin(), descriptions.end()));
  EXPECT_EQ(model, 1U);
  EXPECT_TRUE(announces_scanning(device));
  std::vector<std::string> taken;
  EXPECT_EQ(discovered_scanner_line(device, names, model, taken),
            R"({"instance":"Front Desk","host":"10.77.4.2","ip":"10.77.4.2","port":5357,"services":[],)"
            R"("ty":null,"usb_MDL":null,"product":null,"model":"MX-200",)"
            R"("add":["-a","name=Front_Desk","model=MX-200","ip=10.77.4.2"],"ipv6":[],"listed_for":"scanning",)"
            R"("protocols":["wsd"],"wsd":{"endpoint":"urn:uuid:1","types":["Device","ScanDeviceType"],)"
            R"("xaddrs":["http://10.77.4.2:5357/1"],"metadata_version":3,"manufacturer":"Kelvane",)"
            R"("model_name":"LumaScan MX-200","model_number":null,"friendly_name":"Front Desk"}})"
            "\n");
}

TEST(DiscoverCommandTest, WithoutMetadataTheEndpointNamesTheDevice) {
  WsdDevice device = front_desk();
  device.has_metadata = false;
  device.metadata = {};
  device.source.ipv6 = true;
  device.source.address6 = {0xfd, 0x77, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};
  const DiscoveredDevice discovered{std::nullopt, device};
  EXPECT_EQ(model_descriptions(discovered).size(), 0U);
  std::vector<std::string> taken;
  const std::string line = discovered_scanner_line(discovered, {"MX-200"}, kNoModelMatch, taken);
  EXPECT_NE(line.find(R"({"instance":"urn:uuid:1","host":"fd77::2","ip":null,)"), std::string::npos) << line;
  EXPECT_NE(line.find(R"("ipv6":["fd77::2"],)"), std::string::npos) << line;
}

TEST(DiscoverCommandTest, ADeviceOnBothProtocolsKeepsItsMulticastDnsFieldsAndScansByEither) {
  FoundDevice printer = office();
  printer.ty = "Other Printer";
  printer.scan = false;
  const DiscoveredDevice device{printer, front_desk()};
  // A printer of an unknown model by multicast DNS: a scanner of a known one by WS-Discovery.
  const std::vector<std::string> descriptions = model_descriptions(device);
  EXPECT_EQ(match_catalogue_model({"MX-200"}, std::vector<std::string_view>(descriptions.begin(), descriptions.end())),
            0U);
  EXPECT_TRUE(announces_scanning(device));
  EXPECT_FALSE(announces_scanning({printer, std::nullopt}));
  std::vector<std::string> taken;
  const std::string line = discovered_scanner_line(device, {"MX-200"}, 0, taken);
  EXPECT_NE(line.find(R"({"instance":"Office \"1\"","host":"lumascan-7.local","ip":"10.77.1.2","port":80,)"),
            std::string::npos) << line;
  EXPECT_NE(line.find(R"("listed_for":"scanning","protocols":["mdns","wsd"],"wsd":{"endpoint":"urn:uuid:1",)"),
            std::string::npos) << line;
}

}  // namespace
}  // namespace lumora
