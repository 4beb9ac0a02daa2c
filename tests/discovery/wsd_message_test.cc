#include "discovery/wsd_message.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace lumora {
namespace {

constexpr char kProbeId[] = "urn:uuid:0b5e55ed-0000-4000-8000-000000000001";

// A ProbeMatches message relating to kProbeId, with the body given.
std::string probe_matches(const std::string& body, const std::string& relates_to = kProbeId,
                          const std::string& action = "http://schemas.xmlsoap.org/ws/2005/04/discovery/ProbeMatches") {
  return "<?xml version=\"1.0\"?>"
         "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\""
         " xmlns:a=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\""
         " xmlns:d=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\""
         " xmlns:sc=\"http://schemas.microsoft.com/windows/2006/08/wdp/scan\">"
         "<s:Header><a:Action>" + action + "</a:Action><a:RelatesTo>" + relates_to + "</a:RelatesTo></s:Header>"
         "<s:Body><d:ProbeMatches>" + body + "</d:ProbeMatches></s:Body></s:Envelope>";
}

std::string match(const std::string& endpoint, const std::string& types, const std::string& xaddrs = "") {
  return "<d:ProbeMatch><a:EndpointReference><a:Address>" + endpoint + "</a:Address></a:EndpointReference>"
         "<d:Types>" + types + "</d:Types><d:XAddrs>" + xaddrs + "</d:XAddrs>"
         "<d:MetadataVersion>7</d:MetadataVersion></d:ProbeMatch>";
}

TEST(WsdMessageTest, AProbeMatchGivesEndpointTypesAddressesAndVersion) {
  const auto matches = read_wsd_probe_matches(
      probe_matches(match(" urn:uuid:1 ", "\n sc:ScanDeviceType  p:Device ", "http://10.0.0.2:5357/a http://[fe80::2]/b")),
      kProbeId);
  ASSERT_EQ(matches.size(), 1U);
  EXPECT_EQ(matches[0].endpoint, "urn:uuid:1");
  EXPECT_EQ(matches[0].types, (std::vector<std::string>{"ScanDeviceType", "Device"}));
  EXPECT_TRUE(matches[0].scanner);
  EXPECT_EQ(matches[0].xaddrs, (std::vector<std::string>{"http://10.0.0.2:5357/a", "http://[fe80::2]/b"}));
  EXPECT_EQ(matches[0].metadata_version, 7U);
}

TEST(WsdMessageTest, AScannerIsTheScanNamespacesTypeWhateverItsPrefix) {
  const std::pair<std::string, bool> cases[] = {
      {match("urn:1", "sc:ScanDeviceType"), true},
      {"<d:ProbeMatch xmlns:x=\"http://schemas.microsoft.com/windows/2006/08/wdp/scan\">"
       "<a:EndpointReference><a:Address>urn:1</a:Address></a:EndpointReference>"
       "<d:Types>x:ScanDeviceType</d:Types></d:ProbeMatch>", true},
      {"<d:ProbeMatch xmlns:sc=\"urn:other\"><a:EndpointReference><a:Address>urn:1</a:Address>"
       "</a:EndpointReference><d:Types>sc:ScanDeviceType</d:Types></d:ProbeMatch>", false},
      {match("urn:1", "ScanDeviceType"), false},
      {match("urn:1", "unbound:ScanDeviceType"), false},
      {match("urn:1", "sc:PrinterServiceType"), false},
  };
  for (const auto& [body, scanner] : cases) {
    const auto matches = read_wsd_probe_matches(probe_matches(body), kProbeId);
    ASSERT_EQ(matches.size(), 1U) << body;
    EXPECT_EQ(matches[0].scanner, scanner) << body;
  }
}

TEST(WsdMessageTest, WhatIsNotAnAnswerToThisProbeGivesNothing) {
  const std::string good = match("urn:1", "sc:ScanDeviceType");
  const std::string bomb =
      "<?xml version=\"1.0\"?><!DOCTYPE s:Envelope [<!ENTITY a \"aaaaaaaaaa\">"
      "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">]>" +
      probe_matches(match("&c;", "sc:ScanDeviceType")).substr(21);
  const std::string cases[] = {
      probe_matches(good, "urn:uuid:another-probe"),
      probe_matches(good, kProbeId, "http://schemas.xmlsoap.org/ws/2005/04/discovery/Hello"),
      probe_matches(good).substr(0, 300),
      probe_matches(match("urn:1", "sc:ScanDeviceType") + "</d:ProbeMatch>"),
      bomb,
      // A document type declaration of nothing, and one naming an external file.
      "<!DOCTYPE s:Envelope>" + probe_matches(good).substr(21),
      "<!DOCTYPE s:Envelope SYSTEM \"file:///etc/passwd\">" + probe_matches(good).substr(21),
      // An entity no declaration gives, and a SOAP 1.1 envelope.
      probe_matches(match("&undeclared;", "sc:ScanDeviceType")),
      "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body/></s:Envelope>",
      "",
      std::string("\0\0\0", 3),
  };
  for (const std::string& data : cases) {
    EXPECT_TRUE(read_wsd_probe_matches(data, kProbeId).empty()) << data;
  }
  EXPECT_EQ(read_wsd_probe_matches(probe_matches(good), kProbeId).size(), 1U);
}

TEST(WsdMessageTest, WhatOneAnswerGivesIsBounded) {
  std::string many;
  for (int i = 0; i < 20; ++i) many += match("urn:" + std::to_string(i), "sc:ScanDeviceType");
  EXPECT_EQ(read_wsd_probe_matches(probe_matches(many), kProbeId).size(), kWsdMatchesPerMessage);
  // No endpoint: passed over.
  EXPECT_TRUE(read_wsd_probe_matches(probe_matches(match(" ", "sc:ScanDeviceType")), kProbeId).empty());
  // A long endpoint is cut, between characters; a list keeps at most kWsdListLimit words and
  // passes over a word too long.
  const std::string long_endpoint = std::string(kWsdTextLimit - 1, 'e') + "\xc3\xa9";
  std::string xaddrs = std::string(kWsdTextLimit + 1, 'x');
  for (int i = 0; i < 12; ++i) xaddrs += " http://10.0.0." + std::to_string(i) + "/";
  const auto matches = read_wsd_probe_matches(probe_matches(match(long_endpoint, "sc:ScanDeviceType", xaddrs)), kProbeId);
  ASSERT_EQ(matches.size(), 1U);
  EXPECT_EQ(matches[0].endpoint, std::string(kWsdTextLimit - 1, 'e'));
  ASSERT_EQ(matches[0].xaddrs.size(), kWsdListLimit);
  EXPECT_EQ(matches[0].xaddrs.front(), "http://10.0.0.0/");
}

std::string metadata_answer(const std::string& sections) {
  return "<?xml version=\"1.0\"?>"
         "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\""
         " xmlns:m=\"http://schemas.xmlsoap.org/ws/2004/09/mex\""
         " xmlns:p=\"http://schemas.xmlsoap.org/ws/2006/02/devprof\"><s:Header/><s:Body><m:Metadata>" +
         sections + "</m:Metadata></s:Body></s:Envelope>";
}

TEST(WsdMessageTest, MetadataGivesMakerModelAndNameEachTheFirstOfItsKind) {
  WsdMetadata metadata;
  ASSERT_TRUE(read_wsd_metadata(
      metadata_answer("<m:MetadataSection><p:ThisDevice><p:FriendlyName xml:lang=\"en\"> Front &amp; Back "
                      "</p:FriendlyName><p:FriendlyName xml:lang=\"de\">Vorne</p:FriendlyName></p:ThisDevice>"
                      "</m:MetadataSection><m:MetadataSection><p:ThisModel><p:Manufacturer>Kelvane</p:Manufacturer>"
                      "<p:ModelName>LumaScan MX-200</p:ModelName><p:ModelNumber>MX-200</p:ModelNumber>"
                      "</p:ThisModel></m:MetadataSection><x:ModelName xmlns:x=\"urn:x\">Not this</x:ModelName>"),
      metadata));
  EXPECT_EQ(metadata.friendly_name, "Front & Back");
  EXPECT_EQ(metadata.manufacturer, "Kelvane");
  EXPECT_EQ(metadata.model_name, "LumaScan MX-200");
  EXPECT_EQ(metadata.model_number, "MX-200");
}

TEST(WsdMessageTest, MetadataThatCannotBeReadGivesNothing) {
  const std::string cases[] = {
      metadata_answer(""),
      metadata_answer("<p:ModelName xmlns:p=\"urn:not-devprof\">MX-200</p:ModelName>"),
      "<!DOCTYPE s:Envelope [<!ENTITY m \"MX-200\">]>" + metadata_answer("<p:ModelName>&m;</p:ModelName>").substr(21),
      metadata_answer("<p:ModelName>MX-200</p:ModelName>").substr(0, 200),
      "<p:ModelName xmlns:p=\"http://schemas.xmlsoap.org/ws/2006/02/devprof\">MX-200</p:ModelName>",
  };
  for (const std::string& data : cases) {
    WsdMetadata metadata;
    metadata.model_name = "left over";
    EXPECT_FALSE(read_wsd_metadata(data, metadata)) << data;
    EXPECT_TRUE(metadata.model_name.empty()) << data;
  }
}

// "urn:uuid:" and a UUID of version 4 and variant 10, in lower-case hex digits.
bool is_random_uuid_urn(const std::string& id) {
  constexpr std::string_view kPrefix = "urn:uuid:";
  constexpr std::string_view kHex = "0123456789abcdef";
  if (id.rfind(kPrefix, 0) != 0 || id.size() != kPrefix.size() + 36) return false;
  const std::string_view uuid = std::string_view(id).substr(kPrefix.size());
  for (std::size_t i = 0; i < uuid.size(); ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? uuid[i] != '-' : kHex.find(uuid[i]) == std::string_view::npos) return false;
  }
  return uuid[14] == '4' && std::string_view("89ab").find(uuid[19]) != std::string_view::npos;
}

TEST(WsdMessageTest, MessagesAreMadeForThisIdentifierAndEndpoint) {
  const std::string id = new_wsd_message_id();
  EXPECT_TRUE(is_random_uuid_urn(id)) << id;
  EXPECT_NE(id, new_wsd_message_id());
  const std::string probe = make_wsd_probe(id);
  EXPECT_NE(probe.find("<wsa:MessageID>" + id + "</wsa:MessageID>"), std::string::npos);
  EXPECT_NE(probe.find("<wsd:Types>wscn:ScanDeviceType</wsd:Types>"), std::string::npos);
  EXPECT_NE(probe.find("xmlns:wscn=\"http://schemas.microsoft.com/windows/2006/08/wdp/scan\""), std::string::npos);
  const std::string get = make_wsd_get(id, "urn:<a href='x'>&amp;\"");
  EXPECT_NE(get.find("<wsa:To>urn:&lt;a href=&apos;x&apos;&gt;&amp;amp;&quot;</wsa:To>"), std::string::npos) << get;
  EXPECT_NE(get.find("<wsa:Action>http://schemas.xmlsoap.org/ws/2004/09/transfer/Get</wsa:Action>"),
            std::string::npos);
}

}  // namespace
}  // namespace lumora
