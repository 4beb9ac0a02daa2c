// The link of a WS-Discovery run: a UDP socket for each of IPv4 and IPv6 on an ephemeral port,
// from which the Probe goes to the WS-Discovery group (239.255.255.250 and ff02::c, port 3702)
// on each chosen interface with an address of that family. Devices answer a Probe by unicast
// to the port it came from, so the sockets join no group and hear only those answers.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/unique_file.h"
#include "discovery/link_interfaces.h"

namespace lumora {

// Where a datagram came from: the sender's address (IPv4 or IPv6) and the interface it came in
// on, which a link-local IPv6 address needs to be reached again.
struct WsdSource {
  bool ipv6 = false;
  std::array<std::uint8_t, 4> address{};
  std::array<std::uint8_t, 16> address6{};
  unsigned link = 0;

  // The address as URLs write a host: "10.0.0.2" or "[fe80::2]".
  std::string url_host() const;
  // The address alone, as people write it ("fe80::2").
  std::string text() const;
  bool operator==(const WsdSource& other) const {
    return ipv6 == other.ipv6 && (ipv6 ? address6 == other.address6 : address == other.address);
  }
};

// A datagram taken in: its size, 0 when none was waiting or it was dropped.
struct WsdDatagram {
  std::size_t size = 0;
  WsdSource source;
  bool dropped = false;  // one came, but too long or on an interface not chosen
};

class WsdLink {
 public:
  // Opens the sockets for the named interface, or for every usable one when name is empty.
  // False with error set when there is no such interface or no socket can be had.
  bool open(const std::string& name, std::string& error);

  // Sends message to the WS-Discovery group on every interface, over each family it has; false
  // when it left on none.
  bool send(std::string_view message);

  // The descriptors to wait on (one or two; the other is -1).
  std::array<int, 2> descriptors() const { return {socket4_.get(), socket6_.get()}; }

  // Takes one datagram that is waiting, without waiting; a datagram that fills the buffer is
  // too long to be a message of ours and is dropped.
  WsdDatagram receive(std::span<std::uint8_t> buffer);

 private:
  UniqueFd socket4_;
  UniqueFd socket6_;
  std::vector<LinkInterface> interfaces_;
};

}  // namespace lumora
