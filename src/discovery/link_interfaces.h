// The interfaces a discovery run may talk over: up, not a loopback, able to multicast, with an
// IPv4 or IPv6 address; or the one the user named, when it is such an interface.
#pragma once

#include <string>
#include <vector>

namespace lumora {

struct LinkInterface {
  std::string name;
  unsigned index = 0;
  bool ipv4 = false;  // has an address of the family
  bool ipv6 = false;
};

// The usable interfaces (only the one of that name when name is not empty), in the order the
// system lists them. Returns false with error set when there is none.
bool usable_link_interfaces(const std::string& name, std::vector<LinkInterface>& interfaces,
                            std::string& error);

}  // namespace lumora
