// Multicast DNS messages written byte by byte for the tests of the discovery readers, in the
// wire format of RFC 1035, section 4: what a responder would send, and what no responder
// should.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace lumora::testing {

using Wire = std::string;

inline constexpr std::uint16_t kTypeA = 1;
inline constexpr std::uint16_t kTypePtr = 12;
inline constexpr std::uint16_t kTypeHinfo = 13;
inline constexpr std::uint16_t kTypeTxt = 16;
inline constexpr std::uint16_t kTypeAaaa = 28;
inline constexpr std::uint16_t kTypeSrv = 33;
inline constexpr std::uint16_t kClassIn = 1;
inline constexpr std::uint16_t kCacheFlush = 0x8000;
inline constexpr std::uint16_t kResponseFlags = 0x8400;  // QR and AA

inline Wire u16(unsigned value) {
  return {static_cast<char>((value >> 8) & 0xff), static_cast<char>(value & 0xff)};
}

inline Wire u32(unsigned long value) { return u16((value >> 16) & 0xffff) + u16(value & 0xffff); }

inline Wire wire_name(std::initializer_list<std::string_view> labels) {
  Wire out;
  for (const std::string_view label : labels) {
    out += static_cast<char>(label.size());
    out += label;
  }
  return out + '\0';
}

inline Wire rr(const Wire& owner, std::uint16_t type, const Wire& data,
               std::uint16_t rclass = kClassIn, unsigned long ttl = 120) {
  return owner + u16(type) + u16(rclass) + u32(ttl) + u16(static_cast<unsigned>(data.size())) + data;
}

inline Wire txt_data(std::initializer_list<std::string_view> strings) {
  Wire out;
  for (const std::string_view text : strings) {
    out += static_cast<char>(text.size());
    out += text;
  }
  return out;
}

inline Wire srv_data(unsigned port, const Wire& target) { return u16(0) + u16(0) + u16(port) + target; }

inline Wire a_data(unsigned char a, unsigned char b, unsigned char c, unsigned char d) {
  return {static_cast<char>(a), static_cast<char>(b), static_cast<char>(c), static_cast<char>(d)};
}

// A message whose answer section holds answers and additional section holds additional.
inline Wire response(const std::vector<Wire>& answers, const std::vector<Wire>& additional = {},
                     unsigned flags = kResponseFlags) {
  Wire out = u16(0) + u16(flags) + u16(0) + u16(static_cast<unsigned>(answers.size())) + u16(0) +
             u16(static_cast<unsigned>(additional.size()));
  for (const Wire& record : answers) out += record;
  for (const Wire& record : additional) out += record;
  return out;
}

inline std::vector<std::uint8_t> bytes(const Wire& wire) { return {wire.begin(), wire.end()}; }

}  // namespace lumora::testing
