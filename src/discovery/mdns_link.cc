#include "discovery/mdns_link.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "discovery/multicast_socket.h"

namespace lumora {
namespace {

constexpr char kGroup4[] = "224.0.0.251";
constexpr char kGroup6[] = "ff02::fb";
constexpr std::uint16_t kMdnsPort = 5353;
// RFC 6762, section 11: multicast DNS is sent with an IP time to live (hop limit) of 255.
constexpr int kMulticastTtl = 255;

bool join(int socket, int family, unsigned index) {
  if (family == AF_INET6) {
    ipv6_mreq membership{};
    membership.ipv6mr_interface = index;
    return inet_pton(AF_INET6, kGroup6, &membership.ipv6mr_multiaddr) == 1 &&
           setsockopt(socket, IPPROTO_IPV6, IPV6_JOIN_GROUP, &membership, sizeof membership) == 0;
  }
  ip_mreqn membership{};
  membership.imr_ifindex = static_cast<int>(index);
  return inet_pton(AF_INET, kGroup4, &membership.imr_multiaddr) == 1 &&
         setsockopt(socket, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) == 0;
}

}  // namespace

bool MulticastLink::open(const std::string& name, std::string& error) {
  if (!usable_link_interfaces(name, interfaces_, error)) return false;
  if (open_sockets(true, fallback_reason_)) return true;
  std::string reason;
  if (!open_sockets(false, reason)) {
    error = reason;
    return false;
  }
  return true;
}

bool MulticastLink::open_sockets(bool shared_port, std::string& reason) {
  socket4_.reset();
  socket6_.reset();
  for (const int family : {AF_INET, AF_INET6}) {
    const bool six = family == AF_INET6;
    const bool wanted = std::any_of(interfaces_.begin(), interfaces_.end(),
                                    [&](const LinkInterface& interface) { return six ? interface.ipv6 : interface.ipv4; });
    if (!wanted) continue;
    // Shared, port 5353 beside other sockets of this host; otherwise an ephemeral one.
    UniqueFd socket = open_multicast_socket(family, kMulticastTtl, shared_port ? kMdnsPort : 0, shared_port, reason);
    if (!socket) return false;
    bool joined = !shared_port;  // a one-shot query's answer comes by unicast
    for (const LinkInterface& interface : interfaces_) {
      if (shared_port && (six ? interface.ipv6 : interface.ipv4)) {
        joined = join(socket.get(), family, interface.index) || joined;
      }
    }
    if (!joined) {
      reason = std::string("cannot join the multicast DNS group: ") + std::strerror(errno);
      return false;
    }
    (six ? socket6_ : socket4_) = std::move(socket);
  }
  reason.clear();
  return true;
}

bool MulticastLink::send(const std::vector<std::uint8_t>& message) {
  bool sent = false;
  for (const LinkInterface& interface : interfaces_) sent = send_on(interface.index, message) || sent;
  return sent;
}

bool MulticastLink::send_on(unsigned index, const std::vector<std::uint8_t>& message) {
  const auto interface = std::find_if(interfaces_.begin(), interfaces_.end(),
                                      [&](const LinkInterface& known) { return known.index == index; });
  if (interface == interfaces_.end() || message.empty()) return false;
  bool sent = false;
  if (interface->ipv4 && socket4_) sent = send_to_group(socket4_.get(), AF_INET, kGroup4, kMdnsPort, index, message);
  if (interface->ipv6 && socket6_) {
    sent = send_to_group(socket6_.get(), AF_INET6, kGroup6, kMdnsPort, index, message) || sent;
  }
  return sent;
}

LinkDatagram MulticastLink::receive(std::span<std::uint8_t> buffer, std::chrono::milliseconds wait) {
  std::array<pollfd, 2> ready{{{socket4_.get(), POLLIN, 0}, {socket6_.get(), POLLIN, 0}}};
  const int timeout = static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(wait.count(), 0, 60'000));
  // poll passes over an entry whose descriptor is negative: a family with no socket.
  if (::poll(ready.data(), ready.size(), timeout) <= 0) return {};
  const bool six = (ready[0].revents & POLLIN) == 0;
  if (six && (ready[1].revents & POLLIN) == 0) return {};
  const ReceivedDatagram received = receive_datagram(six ? socket6_.get() : socket4_.get(), buffer);
  if (received.size == 0 || received.size >= buffer.size() || received.port != kMdnsPort) return {};
  const LinkDatagram datagram{received.size, received.link};
  // A socket hears the group on any interface another socket of this host joined it on.
  const bool chosen = std::any_of(interfaces_.begin(), interfaces_.end(),
                                  [&](const LinkInterface& known) { return known.index == datagram.link; });
  return chosen ? datagram : LinkDatagram{};
}

}  // namespace lumora
