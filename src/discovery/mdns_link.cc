#include "discovery/mdns_link.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

namespace lumora {
namespace {

constexpr char kGroup4[] = "224.0.0.251";
constexpr char kGroup6[] = "ff02::fb";
constexpr std::uint16_t kMdnsPort = 5353;
// RFC 6762, section 11: multicast DNS is sent with an IP time to live (hop limit) of 255.
constexpr int kMulticastTtl = 255;

// A socket of the family with the options every one needs: the time to live of multicast DNS,
// and the interface each datagram came in on, so that answers from two links are not taken for
// one device's. With shared_port, bound to port 5353 beside other sockets of this host;
// otherwise to an ephemeral port. Invalid, with reason set, when that fails.
UniqueFd open_socket(int family, bool shared_port, std::string& reason) {
  UniqueFd socket(::socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  const int on = 1;
  const int ttl = kMulticastTtl;
  const bool six = family == AF_INET6;
  if (!socket ||
      (six ? setsockopt(socket.get(), IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on) != 0 ||
                 setsockopt(socket.get(), IPPROTO_IPV6, IPV6_MULTICAST_HOPS, &ttl, sizeof ttl) != 0 ||
                 setsockopt(socket.get(), IPPROTO_IPV6, IPV6_RECVPKTINFO, &on, sizeof on) != 0
           : setsockopt(socket.get(), IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) != 0 ||
                 setsockopt(socket.get(), IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0)) {
    reason = std::string("cannot open a UDP socket: ") + std::strerror(errno);
    return {};
  }
  if (shared_port && (setsockopt(socket.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
                      setsockopt(socket.get(), SOL_SOCKET, SO_REUSEPORT, &on, sizeof on) != 0)) {
    reason = std::string("cannot share port 5353: ") + std::strerror(errno);
    return {};
  }
  const std::uint16_t port = shared_port ? kMdnsPort : 0;
  int bound = -1;
  if (six) {
    sockaddr_in6 local{};
    local.sin6_family = AF_INET6;
    local.sin6_port = htons(port);
    local.sin6_addr = in6addr_any;
    bound = ::bind(socket.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local);
  } else {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    bound = ::bind(socket.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local);
  }
  if (bound != 0) {
    reason = std::string(shared_port ? "cannot bind port 5353: " : "cannot bind a UDP socket: ") +
             std::strerror(errno);
    return {};
  }
  return socket;
}

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

bool send_to_group(int socket, int family, unsigned index, const std::vector<std::uint8_t>& message) {
  ssize_t written = -1;
  if (family == AF_INET6) {
    sockaddr_in6 group{};
    group.sin6_family = AF_INET6;
    group.sin6_port = htons(kMdnsPort);
    group.sin6_scope_id = index;  // a link-local group is a group of one link
    if (inet_pton(AF_INET6, kGroup6, &group.sin6_addr) != 1 ||
        setsockopt(socket, IPPROTO_IPV6, IPV6_MULTICAST_IF, &index, sizeof index) != 0) {
      return false;
    }
    written = ::sendto(socket, message.data(), message.size(), 0, reinterpret_cast<const sockaddr*>(&group),
                       sizeof group);
  } else {
    sockaddr_in group{};
    group.sin_family = AF_INET;
    group.sin_port = htons(kMdnsPort);
    ip_mreqn choice{};
    choice.imr_ifindex = static_cast<int>(index);
    if (inet_pton(AF_INET, kGroup4, &group.sin_addr) != 1 ||
        setsockopt(socket, IPPROTO_IP, IP_MULTICAST_IF, &choice, sizeof choice) != 0) {
      return false;
    }
    written = ::sendto(socket, message.data(), message.size(), 0, reinterpret_cast<const sockaddr*>(&group),
                       sizeof group);
  }
  return written == static_cast<ssize_t>(message.size());
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
    UniqueFd socket = open_socket(family, shared_port, reason);
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
  if (interface->ipv4 && socket4_) sent = send_to_group(socket4_.get(), AF_INET, index, message);
  if (interface->ipv6 && socket6_) sent = send_to_group(socket6_.get(), AF_INET6, index, message) || sent;
  return sent;
}

LinkDatagram MulticastLink::receive(std::span<std::uint8_t> buffer, std::chrono::milliseconds wait) {
  std::array<pollfd, 2> ready{{{socket4_.get(), POLLIN, 0}, {socket6_.get(), POLLIN, 0}}};
  const int timeout = static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(wait.count(), 0, 60'000));
  // poll passes over an entry whose descriptor is negative: a family with no socket.
  if (::poll(ready.data(), ready.size(), timeout) <= 0) return {};
  const bool six = (ready[0].revents & POLLIN) == 0;
  if (six && (ready[1].revents & POLLIN) == 0) return {};
  sockaddr_storage sender{};
  iovec data{buffer.data(), buffer.size()};
  // Room for the one control message asked for, the packet information of either family.
  alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(in6_pktinfo))> control{};
  msghdr header{};
  header.msg_name = &sender;
  header.msg_namelen = sizeof sender;
  header.msg_iov = &data;
  header.msg_iovlen = 1;
  header.msg_control = control.data();
  header.msg_controllen = control.size();
  // MSG_TRUNC makes recvmsg tell the datagram's whole size, so an oversized one is seen.
  const ssize_t got = ::recvmsg(six ? socket6_.get() : socket4_.get(), &header, MSG_TRUNC | MSG_DONTWAIT);
  if (got <= 0 || static_cast<std::size_t>(got) >= buffer.size()) return {};
  std::uint16_t port = 0;
  if (sender.ss_family == AF_INET6) {
    sockaddr_in6 from{};
    std::memcpy(&from, &sender, sizeof from);
    port = ntohs(from.sin6_port);
  } else if (sender.ss_family == AF_INET) {
    sockaddr_in from{};
    std::memcpy(&from, &sender, sizeof from);
    port = ntohs(from.sin_port);
  }
  if (port != kMdnsPort) return {};
  LinkDatagram datagram{static_cast<std::size_t>(got), 0};
  for (cmsghdr* part = CMSG_FIRSTHDR(&header); part != nullptr; part = CMSG_NXTHDR(&header, part)) {
    if (part->cmsg_level == IPPROTO_IP && part->cmsg_type == IP_PKTINFO) {
      in_pktinfo info{};
      std::memcpy(&info, CMSG_DATA(part), sizeof info);
      datagram.link = static_cast<unsigned>(info.ipi_ifindex);
    } else if (part->cmsg_level == IPPROTO_IPV6 && part->cmsg_type == IPV6_PKTINFO) {
      in6_pktinfo info{};
      std::memcpy(&info, CMSG_DATA(part), sizeof info);
      datagram.link = info.ipi6_ifindex;
    }
  }
  // A socket hears the group on any interface another socket of this host joined it on.
  const bool chosen = std::any_of(interfaces_.begin(), interfaces_.end(),
                                  [&](const LinkInterface& known) { return known.index == datagram.link; });
  return chosen ? datagram : LinkDatagram{};
}

}  // namespace lumora
