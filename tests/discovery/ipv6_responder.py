#!/usr/bin/env python3
"""A multicast DNS responder that answers over IPv6 alone, for the discovery tests.

Usage: python3 -B ipv6_responder.py INTERFACE ADDRESS READY_FILE (-B: the wire helpers it
imports from hostile_responder.py leave no bytecode in the source tree)

Run by discovery_netns_test.sh inside a network namespace the test made, never on the
machine's own network: it refuses to run unless its network namespace differs from the one
named in LUMORA_HOST_NETNS. It joins ff02::fb on INTERFACE and answers every question for
_uscan._tcp, and for the AAAA record of its host, to the group, with the scanner "Six Scanner"
on host six.local at the IPv6 ADDRESS; it has no IPv4 address and answers no A question.
"""
import os
import socket
import struct
import sys

from hostile_responder import name, queries, record

GROUP = "ff02::fb"
PORT = 5353
T_PTR, T_TXT, T_AAAA, T_SRV = 12, 16, 28, 33


def main():
    interface, address, ready = sys.argv[1], sys.argv[2], sys.argv[3]
    here = os.readlink("/proc/self/ns/net")
    if not os.environ.get("LUMORA_HOST_NETNS") or here == os.environ["LUMORA_HOST_NETNS"]:
        sys.exit("ipv6_responder: not in a network namespace of the test; refusing to run")
    index = socket.if_nametoindex(interface)
    sock = socket.socket(socket.AF_INET6, socket.SOCK_DGRAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    sock.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY, 1)
    sock.bind(("::", PORT))
    sock.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_JOIN_GROUP,
                    socket.inet_pton(socket.AF_INET6, GROUP) + struct.pack("@I", index))
    sock.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_MULTICAST_IF, index)
    service = name("_uscan", "_tcp", "local")
    full = name("Six Scanner", "_uscan", "_tcp", "local")
    host = name("six", "local")
    aaaa = record(host, T_AAAA, socket.inet_pton(socket.AF_INET6, address))
    whole = [record(service, T_PTR, full),
             record(full, T_SRV, struct.pack("!HHH", 0, 0, 80) + host),
             record(full, T_TXT, b"\x11ty=Kelvane MX-200"),
             aaaa]
    open(ready, "w").close()
    for labels, qtype in queries(sock):
        if qtype == T_PTR and labels[:1] == ["_uscan"]:
            answer = whole
        elif qtype == T_AAAA and labels[:1] == ["six"]:
            answer = [aaaa]
        else:
            continue
        sock.sendto(struct.pack("!HHHHHH", 0, 0x8400, 0, len(answer), 0, 0) + b"".join(answer),
                    (GROUP, PORT, 0, index))


if __name__ == "__main__":
    main()
