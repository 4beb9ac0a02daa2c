// The link a discovery run talks over: one UDP socket on an ephemeral port, from which the
// queries go to the multicast DNS group on each chosen interface and to which the responders
// answer by unicast (RFC 6762, sections 5.1 and 6.7: a query whose source port is not 5353 is
// answered to that port directly). Joining the group, or binding port 5353, is not needed.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/unique_file.h"

namespace lumora {

struct LinkInterface {
  std::string name;
  unsigned index = 0;
};

class MulticastLink {
 public:
  // Opens the socket for the named interface, or for every interface that is up, is not a
  // loopback, can multicast and has an IPv4 address when name is empty. Returns false with
  // error set when there is no such interface or the socket cannot be had.
  bool open(const std::string& name, std::string& error);

  const std::vector<LinkInterface>& interfaces() const { return interfaces_; }

  // Sends message to the group on every interface; false when it left on none.
  bool send(const std::vector<std::uint8_t>& message);

  // Waits at most wait for one datagram and puts it in buffer (kMdnsMessageLimit bytes).
  // Returns its size; 0 when none came in time, when it did not fit, or when it came from
  // a port other than 5353 (no responder's answer).
  std::size_t receive(std::uint8_t* buffer, std::size_t capacity, std::chrono::milliseconds wait);

 private:
  UniqueFd socket_;
  std::vector<LinkInterface> interfaces_;
};

}  // namespace lumora
