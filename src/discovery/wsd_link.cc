#include "discovery/wsd_link.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace lumora {
namespace {

constexpr char kGroup4[] = "239.255.255.250";
constexpr char kGroup6[] = "ff02::c";
constexpr std::uint16_t kDiscoveryPort = 3702;
// SOAP over UDP: a multicast message goes no further than the link (a time to live of 1).
constexpr int kMulticastTtl = 1;

UniqueFd open_socket(int family, std::string& error) {
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
    error = std::string("cannot open a UDP socket for WS-Discovery: ") + std::strerror(errno);
    return {};
  }
  // An ephemeral port of the family, on every address: the answers come back to it by unicast.
  sockaddr_storage local{};
  local.ss_family = static_cast<sa_family_t>(family);
  if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&local),
             six ? sizeof(sockaddr_in6) : sizeof(sockaddr_in)) != 0) {
    error = std::string("cannot bind a UDP socket for WS-Discovery: ") + std::strerror(errno);
    return {};
  }
  return socket;
}

bool send_to_group(int socket, int family, unsigned index, std::string_view message) {
  ssize_t written = -1;
  if (family == AF_INET6) {
    sockaddr_in6 group{};
    group.sin6_family = AF_INET6;
    group.sin6_port = htons(kDiscoveryPort);
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
    group.sin_port = htons(kDiscoveryPort);
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
    UniqueFd socket = open_socket(family, error);
    if (!socket) return false;
    (six ? socket6_ : socket4_) = std::move(socket);
  }
  return true;
}

bool WsdLink::send(std::string_view message) {
  bool sent = false;
  for (const LinkInterface& interface : interfaces_) {
    if (interface.ipv4 && socket4_) sent = send_to_group(socket4_.get(), AF_INET, interface.index, message) || sent;
    if (interface.ipv6 && socket6_) sent = send_to_group(socket6_.get(), AF_INET6, interface.index, message) || sent;
  }
  return sent;
}

WsdDatagram WsdLink::receive(std::span<char> buffer) {
  for (const int socket : descriptors()) {
    if (socket < 0) continue;
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
    const ssize_t got = ::recvmsg(socket, &header, MSG_TRUNC | MSG_DONTWAIT);
    if (got <= 0) continue;
    if (static_cast<std::size_t>(got) >= buffer.size()) return {0, {}, true};
    WsdDatagram datagram{static_cast<std::size_t>(got), {}, false};
    if (sender.ss_family == AF_INET6) {
      sockaddr_in6 from{};
      std::memcpy(&from, &sender, sizeof from);
      datagram.source.ipv6 = true;
      std::memcpy(datagram.source.address6.data(), &from.sin6_addr, datagram.source.address6.size());
    } else if (sender.ss_family == AF_INET) {
      sockaddr_in from{};
      std::memcpy(&from, &sender, sizeof from);
      std::memcpy(datagram.source.address.data(), &from.sin_addr, datagram.source.address.size());
    }
    for (cmsghdr* part = CMSG_FIRSTHDR(&header); part != nullptr; part = CMSG_NXTHDR(&header, part)) {
      if (part->cmsg_level == IPPROTO_IP && part->cmsg_type == IP_PKTINFO) {
        in_pktinfo info{};
        std::memcpy(&info, CMSG_DATA(part), sizeof info);
        datagram.source.link = static_cast<unsigned>(info.ipi_ifindex);
      } else if (part->cmsg_level == IPPROTO_IPV6 && part->cmsg_type == IPV6_PKTINFO) {
        in6_pktinfo info{};
        std::memcpy(&info, CMSG_DATA(part), sizeof info);
        datagram.source.link = info.ipi6_ifindex;
      }
    }
    const bool chosen = std::any_of(interfaces_.begin(), interfaces_.end(),
                                    [&](const LinkInterface& known) { return known.index == datagram.source.link; });
    if (!chosen) return {0, {}, true};
    return datagram;
  }
  return {};
}

}  // namespace lumora
