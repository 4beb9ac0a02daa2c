#include "discovery/mdns_link.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
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
  socket_.reset(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  const int ttl = kMulticastTtl;
  if (!socket_ ||
      setsockopt(socket_.get(), IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) != 0) {
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

bool MulticastLink::send(const std::vector<std::uint8_t>& message) {
  sockaddr_in group{};
  group.sin_family = AF_INET;
  group.sin_port = htons(kMdnsPort);
  if (inet_pton(AF_INET, kGroup, &group.sin_addr) != 1 || message.empty()) return false;
  bool sent = false;
  for (const LinkInterface& interface : interfaces_) {
    ip_mreqn choice{};
    choice.imr_ifindex = static_cast<int>(interface.index);
    if (setsockopt(socket_.get(), IPPROTO_IP, IP_MULTICAST_IF, &choice, sizeof choice) != 0) continue;
    const ssize_t written = ::sendto(socket_.get(), message.data(), message.size(), 0,
                                     reinterpret_cast<const sockaddr*>(&group), sizeof group);
    sent = sent || written == static_cast<ssize_t>(message.size());
  }
  return sent;
}

std::size_t MulticastLink::receive(std::uint8_t* buffer, std::size_t capacity,
                                   std::chrono::milliseconds wait) {
  pollfd ready{socket_.get(), POLLIN, 0};
  const int timeout = static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(wait.count(), 0, 60'000));
  if (::poll(&ready, 1, timeout) <= 0 || (ready.revents & POLLIN) == 0) return 0;
  sockaddr_in sender{};
  socklen_t sender_size = sizeof sender;
  // MSG_TRUNC makes recvfrom tell the datagram's whole size, so an oversized one is seen.
  const ssize_t got = ::recvfrom(socket_.get(), buffer, capacity, MSG_TRUNC | MSG_DONTWAIT,
                                 reinterpret_cast<sockaddr*>(&sender), &sender_size);
  if (got <= 0 || static_cast<std::size_t>(got) >= capacity) return 0;
  if (sender.sin_family != AF_INET || ntohs(sender.sin_port) != kMdnsPort) return 0;
  return static_cast<std::size_t>(got);
}

}  // namespace lumora
