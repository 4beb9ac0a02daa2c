#include "discovery/mdns_link.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>

namespace lumora {
namespace {

constexpr char kGroup[] = "224.0.0.251";
constexpr std::uint16_t kMdnsPort = 5353;
// RFC 6762, section 11: multicast DNS is sent with an IP time to live of 255.
constexpr int kMulticastTtl = 255;

struct IfaddrsFree {
  void operator()(ifaddrs* list) const { freeifaddrs(list); }
};

bool usable(const ifaddrs& entry) {
  constexpr unsigned kWanted = IFF_UP | IFF_MULTICAST;
  return entry.ifa_addr != nullptr && entry.ifa_addr->sa_family == AF_INET &&
         (entry.ifa_flags & kWanted) == kWanted && (entry.ifa_flags & IFF_LOOPBACK) == 0;
}

// The options both kinds of socket need: the time to live of multicast DNS, and the interface
// each datagram came in on, so that answers from two links are not taken for one device's.
bool set_options(int socket) {
  const int ttl = kMulticastTtl;
  const int on = 1;
  return setsockopt(socket, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) == 0 &&
         setsockopt(socket, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) == 0;
}

}  // namespace

bool MulticastLink::open(const std::string& name, std::string& error) {
  ifaddrs* raw = nullptr;
  if (getifaddrs(&raw) != 0) {
    error = std::string("cannot list the network interfaces: ") + std::strerror(errno);
    return false;
  }
  const std::unique_ptr<ifaddrs, IfaddrsFree> list(raw);
  interfaces_.clear();
  for (const ifaddrs* entry = list.get(); entry != nullptr; entry = entry->ifa_next) {
    if (!usable(*entry) || (!name.empty() && name != entry->ifa_name)) continue;
    const bool listed = std::any_of(interfaces_.begin(), interfaces_.end(),
                                    [&](const LinkInterface& known) { return known.name == entry->ifa_name; });
    const unsigned index = if_nametoindex(entry->ifa_name);
    if (!listed && index != 0) interfaces_.push_back({entry->ifa_name, index});
  }
  if (interfaces_.empty()) {
    error = name.empty() ? "no network interface is up with IPv4 multicast"
                         : "interface " + name + " is not up with IPv4 multicast";
    return false;
  }
  std::string reason;
  if (bind_to_group(reason)) return true;
  fallback_reason_ = reason;
  socket_.reset(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!socket_ || !set_options(socket_.get())) {
    error = std::string("cannot open a UDP socket: ") + std::strerror(errno);
    return false;
  }
  // An ephemeral port of the system's choosing, so that the answers come back by unicast.
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  if (::bind(socket_.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    error = std::string("cannot bind a UDP socket: ") + std::strerror(errno);
    return false;
  }
  return true;
}

bool MulticastLink::bind_to_group(std::string& reason) {
  socket_.reset(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  const int on = 1;
  if (!socket_ || !set_options(socket_.get()) ||
      setsockopt(socket_.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
      setsockopt(socket_.get(), SOL_SOCKET, SO_REUSEPORT, &on, sizeof on) != 0) {
    reason = std::string("cannot share port 5353: ") + std::strerror(errno);
    return false;
  }
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(kMdnsPort);
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  if (::bind(socket_.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    reason = std::string("cannot bind port 5353: ") + std::strerror(errno);
    return false;
  }
  bool joined = false;
  for (const LinkInterface& interface : interfaces_) {
    ip_mreqn membership{};
    if (inet_pton(AF_INET, kGroup, &membership.imr_multiaddr) != 1) break;
    membership.imr_ifindex = static_cast<int>(interface.index);
    joined = setsockopt(socket_.get(), IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) == 0 || joined;
  }
  if (!joined) reason = std::string("cannot join the multicast DNS group: ") + std::strerror(errno);
  return joined;
}

bool MulticastLink::send(const std::vector<std::uint8_t>& message) {
  bool sent = false;
  for (const LinkInterface& interface : interfaces_) sent = send_on(interface.index, message) || sent;
  return sent;
}

bool MulticastLink::send_on(unsigned index, const std::vector<std::uint8_t>& message) {
  sockaddr_in group{};
  group.sin_family = AF_INET;
  group.sin_port = htons(kMdnsPort);
  if (inet_pton(AF_INET, kGroup, &group.sin_addr) != 1 || message.empty()) return false;
  ip_mreqn choice{};
  choice.imr_ifindex = static_cast<int>(index);
  if (setsockopt(socket_.get(), IPPROTO_IP, IP_MULTICAST_IF, &choice, sizeof choice) != 0) return false;
  const ssize_t written = ::sendto(socket_.get(), message.data(), message.size(), 0,
                                   reinterpret_cast<const sockaddr*>(&group), sizeof group);
  return written == static_cast<ssize_t>(message.size());
}

LinkDatagram MulticastLink::receive(std::span<std::uint8_t> buffer, std::chrono::milliseconds wait) {
  pollfd ready{socket_.get(), POLLIN, 0};
  const int timeout = static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(wait.count(), 0, 60'000));
  if (::poll(&ready, 1, timeout) <= 0 || (ready.revents & POLLIN) == 0) return {};
  sockaddr_in sender{};
  iovec data{buffer.data(), buffer.size()};
  // Room for the one control message asked for, IP_PKTINFO.
  alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(in_pktinfo))> control{};
  msghdr header{};
  header.msg_name = &sender;
  header.msg_namelen = sizeof sender;
  header.msg_iov = &data;
  header.msg_iovlen = 1;
  header.msg_control = control.data();
  header.msg_controllen = control.size();
  // MSG_TRUNC makes recvmsg tell the datagram's whole size, so an oversized one is seen.
  const ssize_t got = ::recvmsg(socket_.get(), &header, MSG_TRUNC | MSG_DONTWAIT);
  if (got <= 0 || static_cast<std::size_t>(got) >= buffer.size()) return {};
  if (sender.sin_family != AF_INET || ntohs(sender.sin_port) != kMdnsPort) return {};
  LinkDatagram datagram{static_cast<std::size_t>(got), 0};
  for (cmsghdr* part = CMSG_FIRSTHDR(&header); part != nullptr; part = CMSG_NXTHDR(&header, part)) {
    if (part->cmsg_level != IPPROTO_IP || part->cmsg_type != IP_PKTINFO) continue;
    in_pktinfo info{};
    std::memcpy(&info, CMSG_DATA(part), sizeof info);
    datagram.link = static_cast<unsigned>(info.ipi_ifindex);
  }
  // The socket hears the group on any interface another socket of this host joined it on.
  const bool chosen = std::any_of(interfaces_.begin(), interfaces_.end(),
                                  [&](const LinkInterface& known) { return known.index == datagram.link; });
  return chosen ? datagram : LinkDatagram{};
}

}  // namespace lumora
