#!/usr/bin/env python3
"""A hostile multicast DNS responder for the discovery tests.

Usage: hostile_responder.py INTERFACE_ADDRESS READY_FILE

Run by discovery_netns_test.sh inside a network namespace the test made, never on the
machine's own network: it refuses to run unless its network namespace differs from the one
named in LUMORA_HOST_NETNS. It answers each of the first two browse queries it hears with junk (a
cut message, a header alone, a message over the 9000-byte limit, compression pointers that
loop, records whose data do not fit their type, records of another class, answers inside a
query, records of an instance nobody announced, and a flood of cut messages), with a whole
scanner "Impostor" sent from a port other than 5353, with the scanner "Leaving" withdrawn by a
goodbye before its address is asked for, with "Asked", whose address comes only when asked
for, and with "Spread" as an eSCL scanner; then with one good answer for the scanner "Survivor" and
with "Spread" as a printer too, as a busy responder spreads its answers to one query. From the first query on, a datagram
from port 5353 reaches the querier every 10 ms, and "Overheard" is announced to the group as if
another querier had asked. The querier must print "Survivor", "Asked", "Overheard" and "Spread" (with both its service
types), and nothing else.
"""
import os
import socket
import struct
import sys
import threading
import time

GROUP = "224.0.0.251"
PORT = 5353
CLASS_IN = 1
T_A, T_PTR, T_TXT, T_SRV = 1, 12, 16, 33
ANSWERED_QUERIES = 2  # the browse queries of one 2-second run, at its start and after 1 s


def name(*labels):
    out = b""
    for label in labels:
        data = label.encode() if isinstance(label, str) else label
        out += bytes([len(data)]) + data
    return out + b"\0"


def record(owner, rtype, rdata, rclass=CLASS_IN, ttl=120):
    return owner + struct.pack("!HHIH", rtype, rclass, ttl, len(rdata)) + rdata


def message(records, flags=0x8400, ident=0):
    return struct.pack("!HHHHHH", ident, flags, 0, len(records), 0, 0) + b"".join(records)


def scanner(instance, host, address, ty, rclass=CLASS_IN, pad=0, ttl=120, kind="_uscan"):
    service = name(kind, "_tcp", "local")
    full = name(instance, kind, "_tcp", "local")
    txt = bytes([len("ty=" + ty)]) + ("ty=" + ty).encode()
    while pad > 0:
        piece = min(pad, 255)
        txt += bytes([piece]) + b"x" * piece
        pad -= piece + 1
    return [
        record(service, T_PTR, full, rclass, ttl),
        record(full, T_SRV, struct.pack("!HHH", 0, 0, 631 if kind == "_ipp" else 80) + name(host, "local"),
               rclass, ttl),
        record(full, T_TXT, txt, rclass, ttl),
        record(name(host, "local"), T_A, socket.inet_aton(address), rclass, ttl),
    ]


def junk(address):
    header = struct.pack("!HHHHHH", 0, 0x8400, 0, 1, 0, 0)
    good = message(scanner("Cut", "cut", address, "Kelvane MX-200"))
    out = [
        good[: len(good) - 7],                      # cut inside the last record
        header[:11],                                # not even a header
        message(scanner("Oversized", "big", address, "Kelvane MX-200", pad=9500)),
        # an owner name that points at itself, and two that point at each other
        header + b"\xc0\x0c" + struct.pack("!HHIH", T_PTR, CLASS_IN, 120, 2) + b"\xc0\x0c",
        struct.pack("!HHHHHH", 0, 0x8400, 0, 2, 0, 0) + b"\xc0\x1a" +
        struct.pack("!HHIH", T_A, CLASS_IN, 120, 4) + b"\x0a\x00\x00\x01" + b"\xc0\x0c" +
        struct.pack("!HHIH", T_A, CLASS_IN, 120, 4) + b"\x0a\x00\x00\x01",
        # records whose data do not have their type's shape
        message([record(name("Wrong", "_uscan", "_tcp", "local"), T_SRV, b"\x00\x50")]),
        message([record(name("wrong", "local"), T_A, b"\x0a\x00\x00")]),
        message([record(name("_uscan", "_tcp", "local"), T_PTR, b"\x0a\x00\x00\x01")]),
        message([record(name("Wrong", "_uscan", "_tcp", "local"), T_TXT, b"\x09ty=x")]),
        # a whole scanner in the CHAOS class, one inside a query, one without its PTR
        message(scanner("Chaos", "chaos", address, "Kelvane MX-200", rclass=3)),
        message(scanner("Asker", "asker", address, "Kelvane MX-200"), flags=0),
        message(scanner("Orphan", "orphan", address, "Kelvane MX-200")[1:]),
        # a PTR to a name that is not an instance of the type it answers for
        message([record(name("_uscan", "_tcp", "local"), T_PTR, name("Elsewhere", "_ipp", "_tcp", "local"))]),
    ]
    return out + [good[:20]] * 100


def first_question(data):
    """The labels and type of a query's first question, or ([], None)."""
    try:
        at, labels = 12, []
        while data[at]:
            labels.append(data[at + 1:at + 1 + data[at]].decode())
            at += 1 + data[at]
        return labels, struct.unpack("!H", data[at + 1:at + 3])[0]
    except (IndexError, UnicodeDecodeError, struct.error):
        return [], None


def group_socket(address):
    """A socket on port 5353 that hears the group on the interface of the IPv4 address, and
    sends to the group there."""
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    sock.bind(("0.0.0.0", PORT))
    sock.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                    socket.inet_aton(GROUP) + socket.inet_aton(address))
    sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(address))
    return sock


def queries(sock):
    """The labels and type of the first question of each query heard on sock, forever."""
    while True:
        data = sock.recv(9000)
        if len(data) >= 12 and not data[2] & 0x80:
            yield first_question(data)


def stream(sock, group, address, stop):
    """A datagram from port 5353 every 10 ms: the record of a host no instance names."""
    noise = message([record(name("noise", "local"), T_A, socket.inet_aton(address))])
    while not stop.wait(0.01):
        sock.sendto(noise, group)


def main():
    address, ready = sys.argv[1], sys.argv[2]
    here = os.readlink("/proc/self/ns/net")
    if not os.environ.get("LUMORA_HOST_NETNS") or here == os.environ["LUMORA_HOST_NETNS"]:
        sys.exit("hostile_responder: not in a network namespace of the test; refusing to run")
    sock = group_socket(address)
    impostor = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    impostor.bind((address, PORT + 1))
    impostor.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(address))
    # Answers go to the group, as a responder answers a query from port 5353: a unicast one to
    # port 5353 would reach only one of the sockets that share it on the querier's host.
    group = (GROUP, PORT)
    open(ready, "w").close()
    stop = threading.Event()
    streaming = None
    answered = 0
    try:
        for labels, qtype in queries(sock):
            if qtype == T_A and labels[:1] in (["asked"], ["leaving"]):
                sock.sendto(message([record(name(labels[0], "local"), T_A, socket.inet_aton(address))]),
                            group)
            if qtype != T_PTR or labels[:1] != ["_uscan"] or answered == ANSWERED_QUERIES:
                continue
            answered += 1
            if streaming is None:
                streaming = threading.Thread(target=stream, args=(sock, group, address, stop),
                                             daemon=True)
                streaming.start()
                sock.sendto(message(scanner("Overheard", "overheard", address, "Kelvane MX-200")), group)
            sock.sendto(message(scanner("Spread", "spread", address, "Kelvane MX-200")), group)
            for datagram in junk(address):
                try:
                    sock.sendto(datagram, group)
                except OSError:
                    pass  # over the link's largest datagram: the kernel refused it
            impostor.sendto(message(scanner("Impostor", "impostor", address, "Kelvane MX-200")), group)
            sock.sendto(message(scanner("Asked", "asked", address, "Kelvane MX-200")[:3]), group)
            leaving = scanner("Leaving", "leaving", address, "Kelvane MX-200")
            sock.sendto(message(leaving[:3]), group)
            sock.sendto(message([record(name("_uscan", "_tcp", "local"), T_PTR,
                                        name("Leaving", "_uscan", "_tcp", "local"), ttl=0)]), group)
            time.sleep(0.2)  # the querier reads the junk first; a full socket buffer would drop this
            sock.sendto(message(scanner("Survivor", "survivor", address, "Kelvane MX-300")), group)
            sock.sendto(message(scanner("Spread", "spread", address, "Kelvane MX-200", kind="_ipp")), group)
    finally:
        stop.set()
        if streaming is not None:
            streaming.join()


if __name__ == "__main__":
    main()
