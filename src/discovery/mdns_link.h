// The link a discovery run talks over: a UDP socket for each of IPv4 and IPv6, bound to port
// 5353 and joined to the multicast DNS group (224.0.0.251, ff02::fb) on each chosen interface
// with an address of that family, as a full multicast DNS querier (RFC 6762, section 5.2): its
// questions go from port 5353, so responders answer to the group, in full, and every answer on
// the link is heard, also those another querier asked for. The port is shared (SO_REUSEADDR and
// SO_REUSEPORT) with a responder such as a daemon on the same host. When the port cannot be
// had, the sockets are on ephemeral ports, whose one-shot queries responders answer by unicast
// (section 6.7) in one legacy message: the fallback.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "common/unique_file.h"
#include "discovery/link_interfaces.h"

namespace lumora {

// A datagram taken in: its size (0 when none came in time or it was no responder's) and the
// index of the interface it came in on.
struct LinkDatagram {
  std::size_t size = 0;
  unsigned link = 0;
};

class MulticastLink {
 public:
  // Opens the sockets for the named interface, or for every interface that is up, is not a
  // loopback, can multicast and has an IPv4 or IPv6 address when name is empty. Returns false
  // with error set when there is no such interface or no socket can be had at all. When port
  // 5353 cannot be bound or a group not joined, the link is a one-shot one and
  // fallback_reason() says why.
  bool open(const std::string& name, std::string& error);

  const std::vector<LinkInterface>& interfaces() const { return interfaces_; }
  bool one_shot() const { return !fallback_reason_.empty(); }
  const std::string& fallback_reason() const { return fallback_reason_; }

  // Sends message to the groups on every interface; false when it left on none.
  bool send(const std::vector<std::uint8_t>& message);
  // Sends message to the groups on the interface of that index, over each family it has.
  bool send_on(unsigned index, const std::vector<std::uint8_t>& message);

  // Waits at most wait for one datagram and puts it in buffer. A datagram that fills the buffer
  // is too long to be a message and is dropped, as is one from a port other than 5353: not a
  // responder's answer (RFC 6762, section 6), whatever it holds.
  LinkDatagram receive(std::span<std::uint8_t> buffer, std::chrono::milliseconds wait);

 private:
  bool open_sockets(bool shared_port, std::string& reason);

  UniqueFd socket4_;
  UniqueFd socket6_;
  std::vector<LinkInterface> interfaces_;
  std::string fallback_reason_;
};

}  // namespace lumora
