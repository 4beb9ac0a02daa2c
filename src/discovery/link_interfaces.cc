#include "discovery/link_interfaces.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace lumora {
namespace {

struct IfaddrsFree {
  void operator()(ifaddrs* list) const { freeifaddrs(list); }
};

bool usable(const ifaddrs& entry) {
  constexpr unsigned kWanted = IFF_UP | IFF_MULTICAST;
  return entry.ifa_addr != nullptr &&
         (entry.ifa_addr->sa_family == AF_INET || entry.ifa_addr->sa_family == AF_INET6) &&
         (entry.ifa_flags & kWanted) == kWanted && (entry.ifa_flags & IFF_LOOPBACK) == 0;
}

}  // namespace

bool usable_link_interfaces(const std::string& name, std::vector<LinkInterface>& interfaces,
                            std::string& error) {
  ifaddrs* raw = nullptr;
  if (getifaddrs(&raw) != 0) {
    error = std::string("cannot list the network interfaces: ") + std::strerror(errno);
    return false;
  }
  const std::unique_ptr<ifaddrs, IfaddrsFree> list(raw);
  interfaces.clear();
  for (const ifaddrs* entry = list.get(); entry != nullptr; entry = entry->ifa_next) {
    if (!usable(*entry) || (!name.empty() && name != entry->ifa_name)) continue;
    auto known = std::find_if(interfaces.begin(), interfaces.end(),
                              [&](const LinkInterface& interface) { return interface.name == entry->ifa_name; });
    if (known == interfaces.end()) {
      const unsigned index = if_nametoindex(entry->ifa_name);
      if (index == 0) continue;
      known = interfaces.insert(interfaces.end(), LinkInterface{entry->ifa_name, index});
    }
    (entry->ifa_addr->sa_family == AF_INET6 ? known->ipv6 : known->ipv4) = true;
  }
  if (interfaces.empty()) {
    error = name.empty() ? "no network interface is up with multicast and an IP address"
                         : "interface " + name + " is not up with multicast and an IP address";
    return false;
  }
  return true;
}

}  // namespace lumora
