#include "discovery/multicast_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <array>
#include <cerrno>
#include <cstring>

namespace lumora {

UniqueFd open_multicast_socket(int family, int ttl, std::uint16_t port, bool shared, std::string& reason) {
  UniqueFd socket(::socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  const int on = 1;
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
  if (shared && (setsockopt(socket.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
                 setsockopt(socket.get(), SOL_SOCKET, SO_REUSEPORT, &on, sizeof on) != 0)) {
    reason = "cannot share port " + std::to_string(port) + ": " + std::strerror(errno);
    return {};
  }
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
    reason = (port != 0 ? "cannot bind port " + std::to_string(port) + ": " : std::string("cannot bind a UDP socket: ")) +
             std::strerror(errno);
    return {};
  }
  return socket;
}

bool send_to_group(int socket, int family, const char* group, std::uint16_t port, unsigned index,
                   std::span<const std::uint8_t> message) {
  ssize_t written = -1;
  if (family == AF_INET6) {
    sockaddr_in6 to{};
    to.sin6_family = AF_INET6;
    to.sin6_port = htons(port);
    to.sin6_scope_id = index;  // a link-local group is a group of one link
    if (inet_pton(AF_INET6, group, &to.sin6_addr) != 1 ||
        setsockopt(socket, IPPROTO_IPV6, IPV6_MULTICAST_IF, &index, sizeof index) != 0) {
      return false;
    }
    written = ::sendto(socket, message.data(), message.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  } else {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    ip_mreqn choice{};
    choice.imr_ifindex = static_cast<int>(index);
    if (inet_pton(AF_INET, group, &to.sin_addr) != 1 ||
        setsockopt(socket, IPPROTO_IP, IP_MULTICAST_IF, &choice, sizeof choice) != 0) {
      return false;
    }
    written = ::sendto(socket, message.data(), message.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  }
  return written == static_cast<ssize_t>(message.size());
}

ReceivedDatagram receive_datagram(int socket, std::span<std::uint8_t> buffer) {
  ReceivedDatagram datagram;
  iovec data{buffer.data(), buffer.size()};
  // Room for the one control message asked for, the packet information of either family.
  alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(in6_pktinfo))> control{};
  msghdr header{};
  header.msg_name = &datagram.sender;
  header.msg_namelen = sizeof datagram.sender;
  header.msg_iov = &data;
  header.msg_iovlen = 1;
  header.msg_control = control.data();
  header.msg_controllen = control.size();
  // MSG_TRUNC makes recvmsg tell the datagram's whole size, so an oversized one is seen.
  const ssize_t got = ::recvmsg(socket, &header, MSG_TRUNC | MSG_DONTWAIT);
  if (got <= 0) return {};
  datagram.size = static_cast<std::size_t>(got);
  if (datagram.sender.ss_family == AF_INET6) {
    sockaddr_in6 from{};
    std::memcpy(&from, &datagram.sender, sizeof from);
    datagram.port = ntohs(from.sin6_port);
  } else if (datagram.sender.ss_family == AF_INET) {
    sockaddr_in from{};
    std::memcpy(&from, &datagram.sender, sizeof from);
    datagram.port = ntohs(from.sin_port);
  }
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
  return datagram;
}

}  // namespace lumora
