#include "discovery/mdns_message.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "discovery/scanner_census.h"
#include "discovery/wire_builder.h"

namespace lumora {
namespace {

using namespace lumora::testing;  // NOLINT: the wire builders read as a table

std::vector<MdnsRecord> read(const Wire& wire) {
  return read_mdns_response(reinterpret_cast<const std::uint8_t*>(wire.data()), wire.size());
}

TEST(MdnsMessageTest, TheBrowseQueryAsksForTheSevenTypesWithCompressedNames) {
  const Wire ptr_in = u16(kTypePtr) + u16(kClassIn);
  const Wire expected = u16(0) + u16(0) + u16(7) + u16(0) + u16(0) + u16(0) +
                        wire_name({"_uscan", "_tcp", "local"}) + ptr_in + "\x07_uscans\xc0\x13" + ptr_in +
                        "\x08_scanner\xc0\x13" + ptr_in + "\x04_ipp\xc0\x13" + ptr_in +
                        "\x05_ipps\xc0\x13" + ptr_in + "\x0f_pdl-datastream\xc0\x13" + ptr_in +
                        "\x08_printer\xc0\x13" + ptr_in;
  EXPECT_EQ(make_mdns_query(device_browse_questions()), bytes(expected));
}

TEST(MdnsMessageTest, AQueryForAnInstanceKeepsItsBytes) {
  const MdnsName instance = mdns_name({"B\xc3\xbcro 2.OG", "_uscan", "_tcp", "local"});
  const Wire expected = u16(0) + u16(0) + u16(1) + u16(0) + u16(0) + u16(0) +
                        wire_name({"B\xc3\xbcro 2.OG", "_uscan", "_tcp", "local"}) + u16(kTypeSrv) +
                        u16(kClassIn);
  EXPECT_EQ(make_mdns_query({{instance, MdnsType::kSrv}}), bytes(expected));
}

TEST(MdnsMessageTest, NamesThatDnsCannotCarryMakeNoQuery) {
  const std::string long_label(64, 'x');
  const std::string label63(63, 'y');
  EXPECT_TRUE(make_mdns_query({{mdns_name({long_label, "local"}), MdnsType::kA}}).empty());
  EXPECT_TRUE(make_mdns_query({{mdns_name({"", "local"}), MdnsType::kA}}).empty());
  EXPECT_TRUE(make_mdns_query({{mdns_name({label63, label63, label63, label63}), MdnsType::kA}})
                  .empty());
  EXPECT_FALSE(make_mdns_query({{mdns_name({label63, "local"}), MdnsType::kA}}).empty());
}

TEST(MdnsMessageTest, ReadsTheFourTypesFromAnswersAndAdditionalRecords) {
  const Wire instance = wire_name({"Office 1.OG", "_uscan", "_tcp", "local"});
  // The additional records name the instance by a compression pointer to the PTR's data: the
  // 12-byte header, the PTR's owner, then its type, class, time to live and length (10 bytes).
  const Wire service = wire_name({"_uscan", "_tcp", "local"});
  const Wire pointer = Wire("\xc0") + static_cast<char>(12 + service.size() + 10);
  const Wire wire = response(
      {rr(service, kTypePtr, instance)},
      {rr(pointer, kTypeSrv, srv_data(8080, wire_name({"lumascan-7", "local"})), kClassIn | kCacheFlush),
       rr(pointer, kTypeTxt, txt_data({"ty=Kelvane MX-200", "Scan=T"}), kClassIn | kCacheFlush),
       rr(wire_name({"lumascan-7", "local"}), kTypeA, a_data(10, 77, 1, 2), kClassIn | kCacheFlush)});
  const std::vector<MdnsRecord> records = read(wire);
  ASSERT_EQ(records.size(), 4U);
  EXPECT_EQ(records[0].type, MdnsType::kPtr);
  EXPECT_EQ(records[0].owner.text(), "_uscan._tcp.local");
  EXPECT_EQ(records[0].target.labels,
            (std::vector<std::string>{"Office 1.OG", "_uscan", "_tcp", "local"}));
  EXPECT_EQ(records[1].type, MdnsType::kSrv);
  EXPECT_EQ(records[1].owner.key(), records[0].target.key());
  EXPECT_EQ(records[1].port, 8080);
  EXPECT_EQ(records[1].target.text(), "lumascan-7.local");
  EXPECT_EQ(records[2].type, MdnsType::kTxt);
  EXPECT_EQ(records[2].strings, (std::vector<std::string>{"ty=Kelvane MX-200", "Scan=T"}));
  EXPECT_EQ(records[3].type, MdnsType::kA);
  EXPECT_EQ(records[3].address, (std::array<std::uint8_t, 4>{10, 77, 1, 2}));
}

TEST(MdnsMessageTest, PassesOverWhatIsNoUsableAnswer) {
  const Wire host = wire_name({"host", "local"});
  const Wire good = rr(host, kTypeA, a_data(10, 0, 0, 1));
  const Wire whole = response({good});
  struct Case {
    const char* what;
    Wire wire;
    std::size_t records;
  };
  const Case cases[] = {
      {"a good answer", whole, 1},
      {"a query, not a response", response({good}, {}, 0), 0},
      {"another class", response({rr(host, kTypeA, a_data(10, 0, 0, 1), 3)}), 0},
      {"another type", response({rr(host, kTypeHinfo, txt_data({"x", "y"}))}), 0},
      {"an AAAA of four bytes", response({rr(host, kTypeAaaa, a_data(10, 0, 0, 1))}), 0},
      {"cut short", whole.substr(0, whole.size() - 1), 0},
      {"header alone, cut", whole.substr(0, 11), 0},
      {"empty", "", 0},
      {"an A of three bytes", response({rr(host, kTypeA, Wire("\x0a\x00\x00", 3))}), 0},
      {"an SRV of two bytes", response({rr(host, kTypeSrv, u16(80))}), 0},
      {"a TXT string longer than its record", response({rr(host, kTypeTxt, "\x09ty=x")}), 0},
      {"a name pointing at itself", u16(0) + u16(kResponseFlags) + u16(0) + u16(1) + u16(0) + u16(0) +
                                        "\xc0\x0c" + u16(kTypeA) + u16(kClassIn) + u32(120) + u16(4) +
                                        a_data(10, 0, 0, 1), 0},
      {"a pointer past the end", u16(0) + u16(kResponseFlags) + u16(0) + u16(1) + u16(0) + u16(0) +
                                      "\xc0\xff" + u16(kTypeA) + u16(kClassIn) + u32(120) + u16(4) +
                                      a_data(10, 0, 0, 1), 0},
  };
  for (const Case& c : cases) EXPECT_EQ(read(c.wire).size(), c.records) << c.what;
}

TEST(MdnsMessageTest, ReadsTimesToLiveAndGoodbyes) {
  const Wire host = wire_name({"host", "local"});
  const auto records = read(response({rr(host, kTypeA, a_data(10, 0, 0, 2), kClassIn | kCacheFlush, 0),
                                      rr(host, kTypeA, a_data(10, 0, 0, 1), kClassIn, 4500)}));
  ASSERT_EQ(records.size(), 2U);
  EXPECT_EQ(records[0].ttl, 0U) << "a goodbye is read, to withdraw its record";
  EXPECT_EQ(records[0].address[3], 2);
  EXPECT_EQ(records[1].ttl, 4500U);
}

TEST(MdnsMessageTest, ReadsIpv6Addresses) {
  const Wire address = "\xfe\x80" + std::string(13, '\0') + "\x06";
  const auto records = read(response({rr(wire_name({"six", "local"}), kTypeAaaa, address)}));
  ASSERT_EQ(records.size(), 1U);
  EXPECT_EQ(records[0].type, MdnsType::kAaaa);
  EXPECT_EQ(std::string(records[0].address6.begin(), records[0].address6.end()), address);
}

// The header fields of a query message: flags, question count and answer count.
struct QueryHeader {
  unsigned flags;
  unsigned questions;
  unsigned answers;
};

QueryHeader header_of(const std::vector<std::uint8_t>& message) {
  const auto field = [&](std::size_t at) { return static_cast<unsigned>(message.at(at) << 8 | message.at(at + 1)); };
  return {field(2), field(4), field(6)};
}

TEST(MdnsMessageTest, KnownAnswersGoWithTheQuestionsAndTheRestInContinuations) {
  constexpr unsigned kTc = 0x0200;
  const auto questions = device_browse_questions();
  EXPECT_EQ(make_mdns_queries(questions, {}), std::vector<std::vector<std::uint8_t>>{make_mdns_query(questions)});

  // 200 known answers of about 45 bytes each: more than one message holds.
  std::vector<MdnsRecord> known;
  for (int i = 0; i < 200; ++i) {
    MdnsRecord answer;
    answer.type = MdnsType::kPtr;
    answer.owner = mdns_name({"_uscan", "_tcp", "local"});
    answer.target = mdns_name({"Scanner number " + std::to_string(i), "_uscan", "_tcp", "local"});
    answer.ttl = 4000;
    known.push_back(answer);
  }
  const auto messages = make_mdns_queries(questions, known);
  ASSERT_GT(messages.size(), 1U);
  unsigned answers = 0;
  for (std::size_t i = 0; i < messages.size(); ++i) {
    const QueryHeader header = header_of(messages[i]);
    EXPECT_LE(messages[i].size(), kMdnsQueryLimit);
    EXPECT_EQ(header.flags, i + 1 < messages.size() ? kTc : 0U) << "TC on all but the last";
    EXPECT_EQ(header.questions, i == 0 ? questions.size() : 0U) << "the questions go first, once";
    EXPECT_GT(header.answers, 0U);
    answers += header.answers;
  }
  EXPECT_EQ(answers, known.size());
  // A known answer on the wire: the instance's name, compressed against the type's, with
  // its time to live.
  const std::string first(messages[0].begin(), messages[0].end());
  const Wire expected_first = "\x10Scanner number 0\xc0\x0c";
  EXPECT_NE(first.find(u16(kTypePtr) + u16(kClassIn) + u32(4000)), std::string::npos);
  EXPECT_NE(first.find(expected_first), std::string::npos);
}

TEST(MdnsMessageTest, NameKeysCompareAsDnsDoes) {
  EXPECT_EQ(mdns_name({"Office", "LOCAL"}).key(), mdns_name({"office", "local"}).key());
  EXPECT_NE(mdns_name({"a.b", "local"}).key(), mdns_name({"a", "b", "local"}).key());
  EXPECT_NE(mdns_name({"\xc3\x9c"}).key(), mdns_name({"\xc3\xbc"}).key());  // only ASCII folds
  EXPECT_EQ(mdns_name({"a.b", "local"}).text(), "a.b.local");
}

}  // namespace
}  // namespace lumora
