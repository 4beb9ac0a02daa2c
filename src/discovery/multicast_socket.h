// The UDP sockets both discovery protocols talk over: opened with what every one needs (the
// multicast time to live of the protocol, the interface each datagram came in on), sending to
// a multicast group on one interface, and taking in one datagram with its sender and interface.
#pragma once

#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "common/unique_file.h"

namespace lumora {

// A UDP socket of the family (AF_INET or AF_INET6; an IPv6 one takes IPv6 alone) whose
// multicast datagrams carry the time to live (hop limit) given, and which tells the interface
// each datagram came in on, so that answers from two links are not taken for one device's.
// Bound to port on every address, beside other sockets of this host when shared; port 0 is an
// ephemeral one. Invalid, with reason set, when that fails.
UniqueFd open_multicast_socket(int family, int ttl, std::uint16_t port, bool shared, std::string& reason);

// Sends message to the group (an address of the socket's family) and port on the interface of
// that index; false when it did not leave whole.
bool send_to_group(int socket, int family, const char* group, std::uint16_t port, unsigned index,
                   std::span<const std::uint8_t> message);

// A datagram taken in: its whole size (0 when none was waiting), which may exceed the buffer it
// was read into, its sender and port, and the index of the interface it came in on (0 when
// unknown).
struct ReceivedDatagram {
  std::size_t size = 0;
  sockaddr_storage sender{};
  std::uint16_t port = 0;
  unsigned link = 0;
};

// Takes one datagram waiting on socket into buffer, without waiting.
ReceivedDatagram receive_datagram(int socket, std::span<std::uint8_t> buffer);

}  // namespace lumora
