#include "discovery/wsd_link.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>

#include "discovery/multicast_socket.h"

namespace lumora {
namespace {

constexpr char kGroup4[] = "239.255.255.250";
constexpr char kGroup6[] = "ff02::c";
constexpr std::uint16_t kDiscoveryPort = 3702;
// SOAP over UDP: a multicast message goes no further than the link (a time to live of 1).
constexpr int kMulticastTtl = 1;

}  // namespace

std::string WsdSource::text() const {
  // INET6_ADDRSTRLEN holds the longest text form of either family with its terminator.
  std::array<char, INET6_ADDRSTRLEN> out{};
  if (inet_ntop(ipv6 ? AF_INET6 : AF_INET, ipv6 ? static_cast<const void*>(address6.data()) : address.data(),
                out.data(), out.size()) == nullptr) {
    return {};
  }
  return out.data();
}

std::string WsdSource::url_host() const { return ipv6 ? "[" + text() + "]" : text(); }

bool WsdLink::open(const std::string& name, std::string& error) {
  if (!usable_link_interfaces(name, interfaces_, error)) return false;
  for (const int family : {AF_INET, AF_INET6}) {
    const bool six = family == AF_INET6;
    const bool wanted = std::any_of(interfaces_.begin(), interfaces_.end(),
                                    [&](const LinkInterface& interface) { return six ? interface.ipv6 : interface.ipv4; });
    if (!wanted) continue;
    // An ephemeral port: the answers come back to it by unicast.
    std::string reason;
    UniqueFd socket = open_multicast_socket(family, kMulticastTtl, 0, false, reason);
    if (!socket) {
      error = "WS-Discovery: " + reason;
      return false;
    }
    (six ? socket6_ : socket4_) = std::move(socket);
  }
  return true;
}

bool WsdLink::send(std::string_view message) {
  const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(message.data()), message.size());
  bool sent = false;
  for (const LinkInterface& interface : interfaces_) {
    if (interface.ipv4 && socket4_) {
      sent = send_to_group(socket4_.get(), AF_INET, kGroup4, kDiscoveryPort, interface.index, bytes) || sent;
    }
    if (interface.ipv6 && socket6_) {
      sent = send_to_group(socket6_.get(), AF_INET6, kGroup6, kDiscoveryPort, interface.index, bytes) || sent;
    }
  }
  return sent;
}

WsdDatagram WsdLink::receive(std::span<std::uint8_t> buffer) {
  for (const int socket : descriptors()) {
    if (socket < 0) continue;
    const ReceivedDatagram received = receive_datagram(socket, buffer);
    if (received.size == 0) continue;
    // Devices answer from any port: unlike multicast DNS, WS-Discovery fixes none for answers.
    const bool chosen = std::any_of(interfaces_.begin(), interfaces_.end(),
                                    [&](const LinkInterface& known) { return known.index == received.link; });
    if (received.size >= buffer.size() || !chosen) return {0, {}, true};
    WsdDatagram datagram{received.size, {}, false};
    datagram.source.link = received.link;
    if (received.sender.ss_family == AF_INET6) {
      sockaddr_in6 from{};
      std::memcpy(&from, &received.sender, sizeof from);
      datagram.source.ipv6 = true;
      std::memcpy(datagram.source.address6.data(), &from.sin6_addr, datagram.source.address6.size());
    } else {
      sockaddr_in from{};
      std::memcpy(&from, &received.sender, sizeof from);
      std::memcpy(datagram.source.address.data(), &from.sin_addr, datagram.source.address.size());
    }
    return datagram;
  }
  return {};
}

}  // namespace lumora
