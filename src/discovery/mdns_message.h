// The multicast DNS messages of discovery, made and read by the ldns library: the queries that
// ask for records by name and type (with the answers the querier knows already), and the
// records of an answer that service discovery uses (PTR, SRV, TXT, A, AAAA). Names are kept as
// their labels, byte strings that may hold any byte (an instance name often holds blanks, dots
// and UTF-8).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lumora {

// RFC 6762, section 17: a multicast DNS message is at most 9000 bytes; a longer datagram is
// not one, so the receive buffer has this size and a datagram that fills it is dropped.
inline constexpr std::size_t kMdnsMessageLimit = 9000;

// RFC 6762, section 17: a query goes in one datagram the link carries whole; 1452 bytes is the
// UDP payload of a 1500-byte Ethernet frame under an IPv6 header (under IPv4's, 1472), so a
// query of this size is never fragmented. Known answers beyond it go in continuation messages.
inline constexpr std::size_t kMdnsQueryLimit = 1452;

// A domain name as its labels, the root left out ("lumascan", "local").
struct MdnsName {
  std::vector<std::string> labels;

  // The name's labels joined by dots, as people write it; a dot inside a label stays as it is.
  std::string text() const;
  // A key that two names share exactly when DNS holds them equal (ASCII letters compared
  // without case; RFC 1035, section 2.3.3), and no other two names do.
  std::string key() const;
};

MdnsName mdns_name(std::initializer_list<std::string_view> labels);

enum class MdnsType : std::uint8_t { kA, kPtr, kTxt, kSrv, kAaaa };

struct MdnsQuestion {
  MdnsName name;
  MdnsType type;
};

// One record of an answer, with the fields of its type filled.
struct MdnsRecord {
  MdnsType type = MdnsType::kA;
  MdnsName owner;
  MdnsName target;                         // PTR: the instance; SRV: the host
  std::uint16_t port = 0;                  // SRV
  std::vector<std::string> strings;        // TXT, each character-string as it stands
  std::array<std::uint8_t, 4> address{};   // A
  std::array<std::uint8_t, 16> address6{}; // AAAA
  std::uint32_t ttl = 0;                   // seconds; 0 is a goodbye, withdrawing the record
  unsigned link = 0;                       // the interface it came in on, 0 when unknown
};

// The query message: identifier 0, no flags, the questions in class IN. Empty when ldns
// cannot make it (no memory, or a name too long for DNS).
std::vector<std::uint8_t> make_mdns_query(const std::vector<MdnsQuestion>& questions);

// The messages of one query (RFC 6762, section 7): the questions, then as many of the known
// answers (PTR records, with the seconds each has left as its time to live) as fit in
// kMdnsQueryLimit bytes; the known answers left over go in further messages of answers alone.
// Every message but the last has the TC bit set, so that responders wait for the rest before
// they answer. Empty when ldns cannot make them (as make_mdns_query).
std::vector<std::vector<std::uint8_t>> make_mdns_queries(const std::vector<MdnsQuestion>& questions,
                                                         const std::vector<MdnsRecord>& known_answers);

// The class-IN PTR, SRV, TXT, A and AAAA records of the answer and additional sections of a
// response, in message order, goodbyes (a time to live of 0) among them. A query, a message
// ldns cannot read, and every record of another class or type give nothing; a record whose
// data does not have its type's shape is passed over.
std::vector<MdnsRecord> read_mdns_response(const std::uint8_t* data, std::size_t size);

}  // namespace lumora
