#include "discovery/scanner_census.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include <string>
#include <vector>

namespace lumora {
namespace {

constexpr std::uint32_t kTtl = 120;

MdnsName type_name(const std::string& type) {
  const std::size_t dot = type.find('.');
  return mdns_name({type.substr(0, dot), type.substr(dot + 1), "local"});
}

MdnsName instance_name(const std::string& instance, const std::string& type) {
  MdnsName name = type_name(type);
  name.labels.insert(name.labels.begin(), instance);
  return name;
}

MdnsRecord ptr(const std::string& instance, const std::string& type) {
  MdnsRecord record;
  record.ttl = kTtl;
  record.type = MdnsType::kPtr;
  record.owner = type_name(type);
  record.target = instance_name(instance, type);
  return record;
}

MdnsRecord srv(const std::string& instance, const std::string& type, std::uint16_t port,
               const std::string& host) {
  MdnsRecord record;
  record.ttl = kTtl;
  record.type = MdnsType::kSrv;
  record.owner = instance_name(instance, type);
  record.port = port;
  record.target = mdns_name({host, "local"});
  return record;
}

MdnsRecord txt(const std::string& instance, const std::string& type, std::vector<std::string> strings) {
  MdnsRecord record;
  record.ttl = kTtl;
  record.type = MdnsType::kTxt;
  record.owner = instance_name(instance, type);
  record.strings = std::move(strings);
  return record;
}

MdnsRecord a(const std::string& host, std::uint8_t last) {
  MdnsRecord record;
  record.ttl = kTtl;
  record.type = MdnsType::kA;
  record.owner = mdns_name({host, "local"});
  record.address = {10, 77, 1, last};
  return record;
}

// The records of one whole service instance on host lumascan at 10.77.1.2.
std::vector<MdnsRecord> service(const std::string& instance, const std::string& type,
                                std::uint16_t port, std::vector<std::string> strings) {
  return {ptr(instance, type), srv(instance, type, port, "lumascan"), txt(instance, type, std::move(strings)),
          a("lumascan", 2)};
}

std::vector<FoundDevice> census_of(const std::vector<MdnsRecord>& records, bool last = false) {
  ScannerCensus census;
  for (const MdnsRecord& record : records) census.take(record);
  return census.take_ready(last);
}

TEST(ScannerCensusTest, AWholeEsclInstanceIsAScanner) {
  const auto found = census_of(service("Office", "_uscan._tcp", 80, {"ty=Kelvane MX-200", "usb_MDL=MX200"}));
  ASSERT_EQ(found.size(), 1U);
  EXPECT_EQ(found[0].instance, "Office");
  EXPECT_EQ(found[0].host, "lumascan.local");
  EXPECT_EQ(found[0].address, (std::array<std::uint8_t, 4>{10, 77, 1, 2}));
  EXPECT_EQ(found[0].port, 80);
  EXPECT_EQ(found[0].services, (std::vector<std::string>{"_uscan._tcp"}));
  EXPECT_EQ(found[0].ty, "Kelvane MX-200");
  EXPECT_EQ(found[0].usb_mdl, "MX200");
}

TEST(ScannerCensusTest, APrinterAnnouncesScanningOnlyWithScanT) {
  const std::pair<std::vector<std::string>, bool> cases[] = {
      {{"ty=x", "Scan=T"}, true},   {{"ty=x", "scan=t"}, true},  {{"SCAN=T"}, true},
      {{"ty=x"}, false},            {{"Scan=F"}, false},         {{"Scan"}, false},
      {{"Scan="}, false},           {{"Scan=TRUE"}, false},      {{"Scan=F", "Scan=T"}, false},
      {{"Scan=T", "Scan=F"}, true}, {{"XScan=T"}, false},
  };
  for (const auto& [strings, scanner] : cases) {
    const auto found = census_of(service("MFP", "_ipp._tcp", 631, strings));
    ASSERT_EQ(found.size(), 1U) << "a printer is a device all the same";
    EXPECT_EQ(found[0].scan, scanner) << strings.front();
  }
}

TEST(ScannerCensusTest, EveryDeviceTypeCountsAndOthersDoNot) {
  const std::pair<const char*, bool> scanning[] = {
      {"_uscan._tcp", true}, {"_uscans._tcp", true}, {"_scanner._tcp", true}, {"_ipp._tcp", false},
      {"_ipps._tcp", false}, {"_pdl-datastream._tcp", false}, {"_printer._tcp", false}};
  for (const auto& [type, scan] : scanning) {
    const auto found = census_of(service("S", type, 443, {}));
    ASSERT_EQ(found.size(), 1U) << type;
    EXPECT_EQ(found[0].scan, scan) << type;
    EXPECT_EQ(found[0].services, (std::vector<std::string>{type}));
  }
  EXPECT_EQ(census_of(service("S", "_http._tcp", 80, {})).size(), 0U);
  EXPECT_EQ(census_of(service("S", "_uscan._udp", 80, {})).size(), 0U);
}

TEST(ScannerCensusTest, OneScannerPerInstanceNameAndAddressWithEveryType) {
  std::vector<MdnsRecord> records = service("Office", "_ipp._tcp", 631, {"Scan=T", "ty=MX-200"});
  for (const MdnsRecord& record : service("OFFICE", "_uscan._tcp", 80, {"ty=MX-200"})) records.push_back(record);
  records.push_back(a("lumascan", 3));
  const auto found = census_of(records);
  ASSERT_EQ(found.size(), 2U);
  for (const FoundDevice& scanner : found) {
    EXPECT_EQ(scanner.services, (std::vector<std::string>{"_uscan._tcp", "_ipp._tcp"}));
    EXPECT_EQ(scanner.port, 80) << "the eSCL port comes first";
  }
  EXPECT_EQ(found[0].address[3], 2);
  EXPECT_EQ(found[1].address[3], 3);
}

TEST(ScannerCensusTest, AScannerWaitsForTheOtherInstancesOfItsName) {
  ScannerCensus census;
  for (const MdnsRecord& record : service("Office", "_ipp._tcp", 631, {"Scan=T"})) census.take(record);
  census.take(ptr("Office", "_uscan._tcp"));
  EXPECT_TRUE(census.take_ready(false).empty());
  census.take(srv("Office", "_uscan._tcp", 80, "lumascan"));
  census.take(txt("Office", "_uscan._tcp", {}));
  const auto found = census.take_ready(false);
  ASSERT_EQ(found.size(), 1U);
  EXPECT_EQ(found[0].services.size(), 2U);
  EXPECT_TRUE(census.take_ready(false).empty()) << "handed out once";
  EXPECT_TRUE(census.take_ready(true).empty()) << "handed out once, also at the end";
}

TEST(ScannerCensusTest, AtTheEndWhatIsCompleteIsHandedOutAnyway) {
  ScannerCensus census;
  for (const MdnsRecord& record : service("Office", "_ipp._tcp", 631, {"Scan=T"})) census.take(record);
  census.take(ptr("Office", "_uscan._tcp"));
  EXPECT_TRUE(census.take_ready(false).empty());
  const auto found = census.take_ready(true);
  ASSERT_EQ(found.size(), 1U);
  EXPECT_EQ(found[0].services, (std::vector<std::string>{"_ipp._tcp"}));
}

TEST(ScannerCensusTest, AsksForWhatIsMissing) {
  ScannerCensus census;
  census.take(ptr("Office", "_uscan._tcp"));
  census.take(ptr("Printer", "_ipp._tcp"));
  auto questions = census.missing_questions();
  ASSERT_EQ(questions.size(), 4U);
  EXPECT_EQ(questions[0].type, MdnsType::kSrv);
  EXPECT_EQ(questions[0].name.key(), instance_name("Office", "_uscan._tcp").key());
  EXPECT_EQ(questions[1].type, MdnsType::kTxt);

  census.take(srv("Office", "_uscan._tcp", 80, "lumascan"));
  census.take(txt("Office", "_uscan._tcp", {}));
  census.take(srv("Printer", "_ipp._tcp", 631, "printer"));
  census.take(txt("Printer", "_ipp._tcp", {"Scan=F"}));
  questions = census.missing_questions();
  ASSERT_EQ(questions.size(), 4U) << "a printer's model may be known: its address counts too";
  EXPECT_EQ(questions[0].type, MdnsType::kA);
  EXPECT_EQ(questions[0].name.text(), "lumascan.local");
  EXPECT_EQ(questions[1].type, MdnsType::kAaaa) << "a host of no address may have IPv6 ones alone";
  EXPECT_EQ(questions[2].name.text(), "printer.local");

  census.take(a("LUMASCAN", 2));
  census.take(a("printer", 3));
  EXPECT_TRUE(census.missing_questions().empty());
  EXPECT_EQ(census.take_ready(false).size(), 2U);
}

TEST(ScannerCensusTest, PassesOverRecordsOfNoAnnouncedInstance) {
  struct Case {
    const char* what;
    std::vector<MdnsRecord> records;
  };
  MdnsRecord elsewhere = ptr("Office", "_uscan._tcp");
  elsewhere.target = instance_name("Office", "_ipp._tcp");
  MdnsRecord deep = ptr("Office", "_uscan._tcp");
  deep.target.labels.insert(deep.target.labels.begin(), "sub");
  MdnsRecord bare = ptr("Office", "_uscan._tcp");
  bare.target = type_name("_uscan._tcp");
  const Case cases[] = {
      {"no PTR", {srv("Office", "_uscan._tcp", 80, "lumascan"), txt("Office", "_uscan._tcp", {}), a("lumascan", 2)}},
      {"PTR to an instance of another type", {elsewhere, srv("Office", "_ipp._tcp", 80, "lumascan"),
                                              txt("Office", "_ipp._tcp", {"Scan=T"}), a("lumascan", 2)}},
      {"PTR to a name below an instance", {deep, a("lumascan", 2)}},
      {"PTR to the type itself", {bare, a("lumascan", 2)}},
      {"no address", {ptr("Office", "_uscan._tcp"), srv("Office", "_uscan._tcp", 80, "lumascan"),
                      txt("Office", "_uscan._tcp", {}), a("other", 2)}},
  };
  for (const Case& c : cases) EXPECT_TRUE(census_of(c.records, true).empty()) << c.what;
}

TEST(ScannerCensusTest, TheFirstSrvAndTxtCount) {
  std::vector<MdnsRecord> records = service("Office", "_uscan._tcp", 80, {"ty=first"});
  records.push_back(srv("Office", "_uscan._tcp", 9090, "lumascan"));
  records.push_back(txt("Office", "_uscan._tcp", {"ty=second"}));
  const auto found = census_of(records);
  ASSERT_EQ(found.size(), 1U);
  EXPECT_EQ(found[0].port, 80);
  EXPECT_EQ(found[0].ty, "first");
}

TEST(ScannerCensusTest, HoldsABoundedNumberOfInstancesAndAddresses) {
  ScannerCensus census;
  for (std::size_t i = 0; i <= ScannerCensus::kInstanceLimit; ++i) {
    census.take(ptr("scanner " + std::to_string(i), "_uscan._tcp"));
  }
  EXPECT_EQ(census.missing_questions().size(), 2 * ScannerCensus::kInstanceLimit);
  for (const MdnsRecord& record : service("Office", "_uscans._tcp", 443, {})) census.take(record);
  EXPECT_EQ(census.missing_questions().size(), 2 * ScannerCensus::kInstanceLimit)
      << "an instance over the limit is passed over";

  ScannerCensus addresses;
  for (const MdnsRecord& record : service("Office", "_uscan._tcp", 80, {})) addresses.take(record);
  for (std::uint8_t last = 10; last < 30; ++last) addresses.take(a("lumascan", last));
  EXPECT_EQ(addresses.take_ready(false).size(), ScannerCensus::kAddressesPerHost);
}

TEST(ScannerCensusTest, TxtKeysCompareWithoutCase) {
  const auto found = census_of(service("MFP", "_ipp._tcp", 631, {"TY=Kelvane MX-200", "USB_mdl=MX200", "PRODUCT=(MX-200)", "ty=later"}));
  ASSERT_EQ(found.size(), 1U);
  EXPECT_EQ(found[0].ty, "Kelvane MX-200");
  EXPECT_EQ(found[0].usb_mdl, "MX200");
  EXPECT_EQ(found[0].product, "(MX-200)");
}

TEST(ScannerCensusTest, EachFieldComesFromTheFirstTypeThatGivesIt) {
  // The same device under three print types, its TXT records taken in every order: the empty
  // or missing values of one type never hide another's.
  const std::vector<std::vector<MdnsRecord>> per_type = {
      service("MFP", "_ipp._tcp", 631, {"ty=Kelvane MX-200", "Scan=F"}),
      service("MFP", "_pdl-datastream._tcp", 9100, {"ty=", "usb_MDL=MX200"}),
      service("MFP", "_printer._tcp", 515, {"product=(MX-200)"}),
  };
  std::vector<std::size_t> order = {0, 1, 2};
  do {
    std::vector<MdnsRecord> records;
    for (const std::size_t i : order) records.insert(records.end(), per_type[i].begin(), per_type[i].end());
    const auto found = census_of(records);
    ASSERT_EQ(found.size(), 1U);
    EXPECT_EQ(found[0].ty, "Kelvane MX-200") << order[0] << order[1] << order[2];
    EXPECT_EQ(found[0].usb_mdl, "MX200");
    EXPECT_EQ(found[0].product, "(MX-200)");
    EXPECT_EQ(found[0].port, 631);
    EXPECT_FALSE(found[0].scan);
    EXPECT_EQ(found[0].services,
              (std::vector<std::string>{"_ipp._tcp", "_pdl-datastream._tcp", "_printer._tcp"}));
  } while (std::next_permutation(order.begin(), order.end()));
}

TEST(ScannerCensusTest, TwinsOnTwoLinksAreTwoDevices) {
  // The same instance and host names on two links, each with its own SRV and address.
  std::vector<MdnsRecord> records;
  for (const unsigned link : {4U, 5U}) {
    for (MdnsRecord record : service("Twin", "_uscan._tcp", static_cast<std::uint16_t>(link), {})) {
      record.link = link;
      if (record.type == MdnsType::kA) record.address[3] = static_cast<std::uint8_t>(link);
      records.push_back(record);
    }
  }
  const auto found = census_of(records);
  ASSERT_EQ(found.size(), 2U);
  EXPECT_EQ(found[0].address[3], 4);
  EXPECT_EQ(found[0].port, 4);
  EXPECT_EQ(found[1].address[3], 5);
  EXPECT_EQ(found[1].port, 5);
}

MdnsRecord goodbye(MdnsRecord record) {
  record.ttl = 0;
  return record;
}

TEST(ScannerCensusTest, GoodbyesWithdrawWhatTheyName) {
  ScannerCensus census;
  census.take(ptr("Leaving", "_uscan._tcp"));
  census.take(srv("Leaving", "_uscan._tcp", 80, "lumascan"));
  census.take(txt("Leaving", "_uscan._tcp", {}));
  census.take(goodbye(ptr("Leaving", "_uscan._tcp")));
  EXPECT_TRUE(census.missing_questions().empty()) << "a withdrawn instance is not asked about";
  census.take(a("lumascan", 2));
  EXPECT_TRUE(census.take_ready(true).empty()) << "a withdrawn instance is no device";

  for (const MdnsRecord& record : service("Back", "_uscan._tcp", 80, {})) census.take(record);
  census.take(goodbye(a("lumascan", 2)));
  census.take(goodbye(txt("Back", "_uscan._tcp", {})));
  const auto questions = census.missing_questions();
  ASSERT_EQ(questions.size(), 3U);
  EXPECT_EQ(questions[0].type, MdnsType::kTxt);
  EXPECT_EQ(questions[1].type, MdnsType::kA);
  EXPECT_EQ(questions[2].type, MdnsType::kAaaa);
  EXPECT_TRUE(census.take_ready(true).empty()) << "its address and TXT are withdrawn";
  census.take(txt("Back", "_uscan._tcp", {"ty=again"}));
  census.take(a("lumascan", 3));
  const auto found = census.take_ready(false);
  ASSERT_EQ(found.size(), 1U);
  EXPECT_EQ(found[0].ty, "again");
  EXPECT_EQ(found[0].address[3], 3);
}

TEST(ScannerCensusTest, KnownAnswersAreThePtrsOfTheLinkWithHalfTheirTimeLeft) {
  using std::chrono::seconds;
  const ScannerCensus::Clock::time_point start = ScannerCensus::Clock::now();
  ScannerCensus census;
  MdnsRecord office = ptr("Office", "_uscan._tcp");
  office.link = 2;
  census.take(office, start);
  MdnsRecord other_link = ptr("Lab", "_ipp._tcp");
  other_link.link = 3;
  census.take(other_link, start);
  MdnsRecord gone = ptr("Gone", "_uscan._tcp");
  gone.link = 2;
  census.take(gone, start);
  census.take(goodbye(gone), start);

  auto known = census.known_answers(2, start + seconds(20));
  ASSERT_EQ(known.size(), 1U);
  EXPECT_EQ(known[0].type, MdnsType::kPtr);
  EXPECT_EQ(known[0].owner.text(), "_uscan._tcp.local");
  EXPECT_EQ(known[0].target.text(), "Office._uscan._tcp.local");
  EXPECT_EQ(known[0].ttl, kTtl - 20);
  EXPECT_TRUE(census.known_answers(2, start + seconds(kTtl / 2)).empty()) << "half its time gone";
  census.take(office, start + seconds(kTtl / 2));
  EXPECT_EQ(census.known_answers(2, start + seconds(kTtl / 2)).size(), 1U) << "heard again";
}

MdnsRecord aaaa(const std::string& host, std::uint8_t last) {
  MdnsRecord record;
  record.ttl = kTtl;
  record.type = MdnsType::kAaaa;
  record.owner = mdns_name({host, "local"});
  record.address6 = {0xfe, 0x80};
  record.address6.back() = last;
  return record;
}

TEST(ScannerCensusTest, Ipv6AddressesGoWithTheDeviceAndADeviceOfThemAloneComesAtTheEnd) {
  std::vector<MdnsRecord> records = service("Office", "_uscan._tcp", 80, {});
  records.push_back(aaaa("lumascan", 7));
  const auto both = census_of(records);
  ASSERT_EQ(both.size(), 1U);
  EXPECT_TRUE(both[0].has_address);
  ASSERT_EQ(both[0].ipv6.size(), 1U);
  EXPECT_EQ(both[0].ipv6[0].back(), 7);

  ScannerCensus census;
  for (const MdnsRecord& record : service("Six", "_uscan._tcp", 80, {})) {
    if (record.type != MdnsType::kA) census.take(record);
  }
  census.take(aaaa("lumascan", 6));
  census.take(aaaa("lumascan", 8));
  const auto questions = census.missing_questions();
  ASSERT_EQ(questions.size(), 1U) << "its A record may still come";
  EXPECT_EQ(questions[0].type, MdnsType::kA);
  EXPECT_TRUE(census.take_ready(false).empty()) << "while the run lasts";
  const auto alone = census.take_ready(true);
  ASSERT_EQ(alone.size(), 1U) << "one device, not one per IPv6 address";
  EXPECT_FALSE(alone[0].has_address);
  EXPECT_EQ(alone[0].ipv6.size(), 2U);
}

}  // namespace
}  // namespace lumora
