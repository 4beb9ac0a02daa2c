// The multicast DNS messages of a one-shot query, made and read by the ldns library: the query
// that asks for records by name and type, and the records of an answer that service discovery
// uses (PTR, SRV, TXT, A). Names are kept as their labels, byte strings that may hold any byte
// (an instance name often holds blanks, dots and UTF-8).
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

enum class MdnsType : std::uint8_t { kA, kPtr, kTxt, kSrv };

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
};

// The query message: identifier 0, no flags, the questions in class IN. Empty when ldns
// cannot make it (no memory, or a name too long for DNS).
std::vector<std::uint8_t> make_mdns_query(const std::vector<MdnsQuestion>& questions);

// The class-IN PTR, SRV, TXT and A records of the answer and additional sections of a
// response, in message order. A query, a message ldns cannot read, and every record of another
// class or type, or with a time to live of 0 (a responder withdrawing it), give nothing; a
// record whose data does not have its type's shape is passed over.
std::vector<MdnsRecord> read_mdns_response(const std::uint8_t* data, std::size_t size);

}  // namespace lumora
