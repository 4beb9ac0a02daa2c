#include "discovery/scanner_census.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lumora {
namespace {

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
  record.type = MdnsType::kPtr;
  record.owner = type_name(type);
  record.target = instance_name(instance, type);
  return record;
}

MdnsRecord srv(const std::string& instance, const std::string& type, std::uint16_t port,
               const std::string& host) {
  MdnsRecord record;
  record.type = MdnsType::kSrv;
  record.owner = instance_name(instance, type);
  record.port = port;
  record.target = mdns_name({host, "local"});
  return record;
}

MdnsRecord txt(const std::string& instance, const std::string& type, std::vector<std::string> strings) {
  MdnsRecord record;
  record.type = MdnsType::kTxt;
  record.owner = instance_name(instance, type);
  record.strings = std::move(strings);
  return record;
}

MdnsRecord a(const std::string& host, std::uint8_t last) {
  MdnsRecord record;
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

std::vector<FoundScanner> census_of(const std::vector<MdnsRecord>& records, bool last = false) {
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

TEST(ScannerCensusTest, APrinterIsAScannerOnlyWithScanT) {
  const std::pair<std::vector<std::string>, bool> cases[] = {
      {{"ty=x", "Scan=T"}, true},   {{"ty=x", "scan=t"}, true},  {{"SCAN=T"}, true},
      {{"ty=x"}, false},            {{"Scan=F"}, false},         {{"Scan"}, false},
      {{"Scan="}, false},           {{"Scan=TRUE"}, false},      {{"Scan=F", "Scan=T"}, false},
      {{"Scan=T", "Scan=F"}, true}, {{"XScan=T"}, false},
  };
  for (const auto& [strings, scanner] : cases) {
    EXPECT_EQ(census_of(service("MFP", "_ipp._tcp", 631, strings)).size(), scanner ? 1U : 0U)
        << strings.front();
  }
}

TEST(ScannerCensusTest, EveryScannerTypeCountsAndOthersDoNot) {
  EXPECT_EQ(census_of(service("S", "_uscans._tcp", 443, {})).size(), 1U);
  EXPECT_EQ(census_of(service("S", "_http._tcp", 80, {})).size(), 0U);
  EXPECT_EQ(census_of(service("S", "_uscan._udp", 80, {})).size(), 0U);
}

TEST(ScannerCensusTest, OneScannerPerInstanceNameAndAddressWithEveryType) {
  std::vector<MdnsRecord> records = service("Office", "_ipp._tcp", 631, {"Scan=T", "ty=MX-200"});
  for (const MdnsRecord& record : service("OFFICE", "_uscan._tcp", 80, {"ty=MX-200"})) records.push_back(record);
  records.push_back(a("lumascan", 3));
  const auto found = census_of(records);
  ASSERT_EQ(found.size(), 2U);
  for (const FoundScanner& scanner : found) {
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
  ASSERT_EQ(questions.size(), 1U) << "a printer that does not scan needs no address";
  EXPECT_EQ(questions[0].type, MdnsType::kA);
  EXPECT_EQ(questions[0].name.text(), "lumascan.local");

  census.take(a("LUMASCAN", 2));
  EXPECT_TRUE(census.missing_questions().empty());
  EXPECT_EQ(census.take_ready(false).size(), 1U);
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

}  // namespace
}  // namespace lumora
