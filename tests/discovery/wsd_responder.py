#!/usr/bin/env python3
"""WS-Discovery scanner devices for the discovery tests, friendly and hostile.

Usage: python3 -B wsd_responder.py READY_FILE LOG_FILE ADDRESS=KIND... (-B: the multicast DNS
wire helpers it imports from hostile_responder.py leave no bytecode in the source tree)

Run by discovery_netns_test.sh inside a network namespace the test made, never on the
machine's own network: it refuses to run unless its network namespace differs from the one
named in LUMORA_HOST_NETNS; bench/discovery.sh runs it likewise. Each ADDRESS (an IPv4 address
of this namespace, or an IPv6 one followed by %INTERFACE) is one device of that KIND. Every
device answers a WS-Discovery Probe for scanner devices or for every device (wsdp:Device)
(heard on 239.255.255.250:3702, or [ff02::c]:3702 on INTERFACE) by unicast from its own
address, and serves its metadata (its model and name, and the scan service it hosts) over HTTP
at port 5357 of its address to a WS-Transfer Get. The kinds:

  known      a scanner of a model the catalogue knows ("Kelvane" "LumaScan MX-200")
  six        the same over IPv6 as "Six Scanner", the device ipv6_responder.py announces
  unknown    a scanner of a model it does not know ("Other Maker" "Z9")
  both       a scanner of a known model ("Kelvane" "MX-300") that also answers multicast DNS
             queries that ask for _uscan._tcp (alone or among other services) as the
             instance "Both Scanner" on host both.local
  endless    metadata whose HTTP body never ends
  huge       metadata announced as 8 MiB long
  bomb       metadata with a document type declaration of nested entities
  elsewhere  transport addresses naming another host, the first address of OTHER kind
  other      that other host: it only listens on port 5357 and logs whoever connects
  garbage    answers a Probe with malformed XML, an entity bomb, a datagram over 32 KiB, an
             answer to another probe and a flood of 300 ProbeMatches of distinct endpoints,
             and then one good one; metadata of an unknown model

LOG_FILE gets one line per event: "probe-for NAMESPACE#TYPE ..." for each Probe the devices
answer (the types it names, sorted), "probe ADDRESS" for each device that answers it, "get
ADDRESS PATH" for each metadata request, "contacted ADDRESS" for each connection to the other
host.
"""
import http.server
import os
import random
import re
import socket
import struct
import sys
import threading
import time
import xml.etree.ElementTree as ET

from hostile_responder import T_PTR, group_socket, message, scanner

GROUP = "239.255.255.250"
GROUP6 = "ff02::c"
PORT = 3702
HTTP_PORT = 5357
MDNS_GROUP = "224.0.0.251"
MDNS_PORT = 5353
SOAP = "http://www.w3.org/2003/05/soap-envelope"
WSA = "http://schemas.xmlsoap.org/ws/2004/08/addressing"
WSD = "http://schemas.xmlsoap.org/ws/2005/04/discovery"
SCAN = "http://schemas.microsoft.com/windows/2006/08/wdp/scan"
DEVPROF = "http://schemas.xmlsoap.org/ws/2006/02/devprof"
DEVICE_TYPES = {(DEVPROF, "Device"), (SCAN, "ScanDeviceType")}
PROBE = WSD + "/Probe"
GET = "http://schemas.xmlsoap.org/ws/2004/09/transfer/Get"

MODELS = {
    "known": ("Kelvane", "LumaScan MX-200", "Front Desk Scanner"),
    "six": ("Kelvane", "LumaScan MX-200", "Six Scanner"),
    "unknown": ("Other Maker", "Z9", "Basement Scanner"),
    "both": ("Kelvane", "MX-300", "Both Scanner"),
    "endless": ("Kelvane", "MX-200", "Endless"),
    "huge": ("Kelvane", "MX-200", "Huge"),
    "bomb": ("Kelvane", "MX-200", "Bomb"),
    "elsewhere": ("Kelvane", "MX-200", "Elsewhere"),
    "garbage": ("Other Maker", "G1", "Garbage Survivor"),
}

log_lock = threading.Lock()


def log(path, line):
    with log_lock, open(path, "a", encoding="utf-8") as out:
        out.write(line + "\n")


def family_of(address):
    return socket.AF_INET6 if ":" in address else socket.AF_INET


def endpoint_of(address):
    """An endpoint address of the device's own: its last six address bytes in a UUID."""
    number = int.from_bytes(socket.inet_pton(family_of(address), address)[-6:], "big")
    return "urn:uuid:5e1ec7ed-0000-4000-8000-%012x" % number


def url_host(address):
    return "[%s]" % address if ":" in address else address


def probe_matches(relates_to, endpoint, xaddrs, types="wscn:ScanDeviceType"):
    return ("""<?xml version="1.0" encoding="UTF-8"?>
<soap:Envelope xmlns:soap="%s" xmlns:wsa="%s" xmlns:wsd="%s" xmlns:wscn="%s"
 xmlns:wsdp="http://schemas.xmlsoap.org/ws/2006/02/devprof">
<soap:Header><wsa:To>http://schemas.xmlsoap.org/ws/2004/08/addressing/role/anonymous</wsa:To>
<wsa:Action>%s/ProbeMatches</wsa:Action><wsa:MessageID>urn:uuid:%s</wsa:MessageID>
<wsa:RelatesTo>%s</wsa:RelatesTo></soap:Header>
<soap:Body><wsd:ProbeMatches><wsd:ProbeMatch>
<wsa:EndpointReference><wsa:Address>%s</wsa:Address></wsa:EndpointReference>
<wsd:Types>wsdp:Device %s</wsd:Types><wsd:XAddrs>%s</wsd:XAddrs>
<wsd:MetadataVersion>3</wsd:MetadataVersion>
</wsd:ProbeMatch></wsd:ProbeMatches></soap:Body></soap:Envelope>
""" % (SOAP, WSA, WSD, SCAN, WSD, random.getrandbits(64), relates_to, endpoint, types, xaddrs)).encode()


def metadata(kind, relates_to, address):
    """The device's metadata: its model, its name, and the scan service it hosts (where a
    client that scans over WS-Discovery sends its requests)."""
    maker, model, friendly = MODELS[kind]
    return ("""<?xml version="1.0" encoding="UTF-8"?>
<soap:Envelope xmlns:soap="%s" xmlns:wsa="%s" xmlns:mex="http://schemas.xmlsoap.org/ws/2004/09/mex"
 xmlns:wsdp="http://schemas.xmlsoap.org/ws/2006/02/devprof" xmlns:wscn="%s">
<soap:Header><wsa:Action>%s/GetResponse</wsa:Action><wsa:RelatesTo>%s</wsa:RelatesTo></soap:Header>
<soap:Body><mex:Metadata>
<mex:MetadataSection Dialect="http://schemas.xmlsoap.org/ws/2006/02/devprof/ThisDevice">
<wsdp:ThisDevice><wsdp:FriendlyName xml:lang="en">%s</wsdp:FriendlyName>
<wsdp:FirmwareVersion>1.0</wsdp:FirmwareVersion></wsdp:ThisDevice></mex:MetadataSection>
<mex:MetadataSection Dialect="http://schemas.xmlsoap.org/ws/2006/02/devprof/ThisModel">
<wsdp:ThisModel><wsdp:Manufacturer xml:lang="en">%s</wsdp:Manufacturer>
<wsdp:ModelName xml:lang="en">%s</wsdp:ModelName><wsdp:ModelNumber>%s</wsdp:ModelNumber>
</wsdp:ThisModel></mex:MetadataSection>
<mex:MetadataSection Dialect="http://schemas.xmlsoap.org/ws/2006/02/devprof/Relationship">
<wsdp:Relationship Type="http://schemas.xmlsoap.org/ws/2006/02/devprof/host"><wsdp:Hosted>
<wsa:EndpointReference><wsa:Address>http://%s:%d/%s/scan</wsa:Address></wsa:EndpointReference>
<wsdp:Types>wscn:ScannerServiceType</wsdp:Types><wsdp:ServiceId>%s/scan</wsdp:ServiceId>
</wsdp:Hosted></wsdp:Relationship></mex:MetadataSection>
</mex:Metadata></soap:Body></soap:Envelope>
""" % (SOAP, WSA, SCAN, "http://schemas.xmlsoap.org/ws/2004/09/transfer", relates_to, friendly, maker, model,
       model.split()[-1], url_host(address), HTTP_PORT, endpoint_of(address)[9:], endpoint_of(address))).encode()


BOMB = b"""<?xml version="1.0"?>
<!DOCTYPE soap:Envelope [
<!ENTITY a "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa">
<!ENTITY b "&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;">
<!ENTITY c "&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;">
<!ENTITY d "&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;">
<!ENTITY e "&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;">
<!ENTITY f "&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;">
<!ENTITY remote SYSTEM "http://10.77.4.9:5357/entity">
]>
"""


def bomb_of(document):
    """The document behind a DOCTYPE of nested entities, its model name made of them."""
    body = document.split(b"?>", 1)[1]
    return BOMB + re.sub(rb"<wsdp:ModelName([^>]*)>[^<]*<", rb"<wsdp:ModelName\1>&f;&remote;<", body)


class Metadata(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    kind = None
    log_file = None

    def log_message(self, *args):
        pass

    def do_POST(self):
        address = self.server.server_address[0]
        length = int(self.headers.get("Content-Length", "0"))
        request = self.rfile.read(length)
        log(self.log_file, "get %s %s" % (address, self.path))
        try:
            root = ET.fromstring(request)
            action = root.find("{%s}Header/{%s}Action" % (SOAP, WSA)).text.strip()
            to = root.find("{%s}Header/{%s}To" % (SOAP, WSA)).text.strip()
            message_id = root.find("{%s}Header/{%s}MessageID" % (SOAP, WSA)).text.strip()
        except (ET.ParseError, AttributeError):
            self.send_error(400)
            return
        # The garbage's device is the first endpoint of its flood that got through.
        endpoints = (endpoint_of(address),) if self.kind != "garbage" else (endpoint_of(address), flood_endpoint(0))
        if action != GET or to not in endpoints:
            self.send_error(400)
            return
        body = metadata(self.kind, message_id, address)
        if self.kind == "bomb":
            body = bomb_of(body)
        self.send_response(200)
        self.send_header("Content-Type", "application/soap+xml")
        if self.kind == "endless":
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            # Slow, so that the time runs out long before the size limit is reached.
            chunk = b"<x>" + b"y" * 93 + b"</x>"
            try:
                while True:
                    self.wfile.write(b"%x\r\n%s\r\n" % (len(chunk), chunk))
                    self.wfile.flush()
                    time.sleep(0.05)
            except OSError:
                return
        if self.kind == "huge":
            self.send_header("Content-Length", str(8 << 20))
            self.end_headers()
            try:
                for _ in range(8 << 10):
                    self.wfile.write(b" " * 1024)
            except OSError:
                pass
            return
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


def serve_metadata(address, kind, log_file):
    handler = type("Handler", (Metadata,), {"kind": kind, "log_file": log_file})
    server_class = type("Server", (http.server.ThreadingHTTPServer,), {"address_family": family_of(address)})
    server = server_class((address, HTTP_PORT), handler)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()


def listen_as_other_host(address, log_file):
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((address, HTTP_PORT))
    listener.listen(16)

    def accept():
        while True:
            connection, _ = listener.accept()
            log(log_file, "contacted %s" % address)
            connection.close()
    threading.Thread(target=accept, daemon=True).start()


def flood_endpoint(n):
    return "urn:uuid:f1000000-0000-4000-8000-%012x" % n


def garbage(relates_to, endpoint, xaddrs):
    """The answers of the garbage kind, hostile ones first and one good one last."""
    good = probe_matches(relates_to, endpoint, xaddrs)
    out = [good[:len(good) // 2],                              # cut in the middle
           good.replace(b"</wsd:ProbeMatches>", b"</wsd:ProbeMatch>"),   # badly nested
           BOMB + good.split(b"?>", 1)[1].replace(b"<wsd:MetadataVersion>3", b"<wsd:MetadataVersion>&f;3"),
           good + b"<!--" + b"x" * 40000 + b"-->",            # over the datagram limit
           probe_matches("urn:uuid:00000000-0000-4000-8000-000000000000", endpoint, xaddrs),
           probe_matches(relates_to, endpoint, xaddrs, types="wscn:PrinterServiceType")]
    flood = [probe_matches(relates_to, flood_endpoint(n), xaddrs) for n in range(300)]
    return out + flood + [good]


def probe_sockets(devices, family, interface):
    """The socket that hears Probes on the group of the family, and one a device of that family
    that answers from its address."""
    sock = socket.socket(family, socket.SOCK_DGRAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    if family == socket.AF_INET6:
        sock.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY, 1)
        sock.bind(("::", PORT))
        sock.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_JOIN_GROUP,
                        socket.inet_pton(family, GROUP6) + struct.pack("@I", socket.if_nametoindex(interface)))
    else:
        sock.bind(("0.0.0.0", PORT))
    senders = {}
    for address, _ in devices:
        if family == socket.AF_INET and not senders:  # one interface: the group is joined there once
            sock.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                            socket.inet_aton(GROUP) + socket.inet_aton(address))
        sender = socket.socket(family, socket.SOCK_DGRAM)
        sender.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        sender.bind((address, PORT))
        senders[address] = sender
    return sock, senders


def named_types(probe, types):
    """The types a Probe names, each as (namespace, local name) by the prefix bound in the
    message; None when a prefix is bound to nothing."""
    named = []
    for qname in types.split():
        prefix, _, local = qname.rpartition(":")
        bound = re.search(rb'xmlns:%s="([^"]*)"' % re.escape(prefix.encode()), probe)
        if not bound:
            return None
        named.append((bound.group(1).decode(), local))
    return named


def asks_for_device(named):
    """Whether a device answers a Probe for these types: it has every one of them, as a scanner
    device answers a Probe for scanners and one for every device."""
    return named is not None and all(t in DEVICE_TYPES for t in named)


def answer_probes(sock, senders, devices, log_file, others):
    while True:
        data, source = sock.recvfrom(65536)
        try:
            root = ET.fromstring(data)
            action = root.find("{%s}Header/{%s}Action" % (SOAP, WSA)).text.strip()
            message_id = root.find("{%s}Header/{%s}MessageID" % (SOAP, WSA)).text.strip()
            types = root.find("{%s}Body/{%s}Probe/{%s}Types" % (SOAP, WSD, WSD)).text.strip()
        except (ET.ParseError, AttributeError):
            continue
        named = named_types(data, types)
        if action != PROBE or not asks_for_device(named):
            continue
        log(log_file, "probe-for %s" % " ".join(sorted("%s#%s" % t for t in named)))
        for address, kind in devices:
            log(log_file, "probe %s" % address)
            xaddrs = "http://%s:%d/%s" % (url_host(address), HTTP_PORT, endpoint_of(address)[9:])
            if kind == "elsewhere":
                xaddrs = "http://%s:%d/elsewhere http://printer.invalid:%d/byname" % (others[0], HTTP_PORT, HTTP_PORT)
            if kind == "garbage":
                answers, delay = garbage(message_id, endpoint_of(address), xaddrs), 0.15
            else:
                answers, delay = [probe_matches(message_id, endpoint_of(address), xaddrs)], random.uniform(0, 0.1)
            threading.Thread(target=send_later, args=(senders[address], answers, source, delay),
                             daemon=True).start()


def send_later(sender, answers, destination, delay):
    """As a device does, after a delay: a random one of at most 500 ms (here, at most 100 ms), or
    for the garbage, after the others answered, so that its flood drops none of theirs."""
    time.sleep(delay)
    for datagram in answers:
        try:
            sender.sendto(datagram, destination)
        except OSError:
            pass  # over the largest datagram the kernel sends


def name_at(data, at, hops=0):
    """The labels of the name at offset at of a message, and the offset after it; a compression
    pointer (at most 8 in a row, so that a loop ends) continues the name elsewhere."""
    labels = []
    while data[at] & 0xC0 != 0xC0:
        if not data[at]:
            return labels, at + 1
        labels.append(data[at + 1:at + 1 + data[at]].decode(errors="replace"))
        at += 1 + data[at]
    if hops == 8:
        raise IndexError("a loop of compression pointers")
    rest, _ = name_at(data, ((data[at] & 0x3F) << 8) | data[at + 1], hops + 1)
    return labels + rest, at + 2


def questions(data):
    """The labels and type of every question of a query (none of an answer): Avahi asks for
    several services in one query, their names pointing back into the first one's."""
    found, at = [], 12
    if len(data) < 12 or data[2] & 0x80:
        return found
    try:
        for _ in range(struct.unpack("!H", data[4:6])[0]):
            labels, at = name_at(data, at)
            found.append((labels, struct.unpack("!H", data[at:at + 2])[0]))
            at += 4
    except (IndexError, struct.error):
        pass
    return found


def answer_mdns(sock, address):
    """The multicast DNS side of the device of kind both: it answers every query that asks for
    _uscan._tcp, among other services or alone."""
    answer = message(scanner("Both Scanner", "both", address, "Kelvane MX-300"))
    while True:
        if any(qtype == T_PTR and labels[:1] == ["_uscan"] for labels, qtype in questions(sock.recv(9000))):
            sock.sendto(answer, (MDNS_GROUP, MDNS_PORT))


def main():
    ready, log_file = sys.argv[1], sys.argv[2]
    devices, interfaces = [], {}
    for argument in sys.argv[3:]:
        address, kind = argument.split("=", 1)
        address, _, interfaces[family_of(address)] = address.partition("%")
        devices.append((address, kind))
    here = os.readlink("/proc/self/ns/net")
    if not os.environ.get("LUMORA_HOST_NETNS") or here == os.environ["LUMORA_HOST_NETNS"]:
        sys.exit("wsd_responder: not in a network namespace of the test; refusing to run")
    others = [address for address, kind in devices if kind == "other"]
    for address, kind in devices:
        if kind == "other":
            listen_as_other_host(address, log_file)
        else:
            serve_metadata(address, kind, log_file)
        if kind == "both":
            threading.Thread(target=answer_mdns, args=(group_socket(address), address), daemon=True).start()
    answering = []
    for family, interface in interfaces.items():
        of_family = [(a, k) for a, k in devices if family_of(a) == family and k != "other"]
        sock, senders = probe_sockets(of_family, family, interface)
        answering.append(threading.Thread(target=answer_probes, args=(sock, senders, of_family, log_file, others),
                                          daemon=True))
    open(ready, "w", encoding="utf-8").close()
    for thread in answering:
        thread.start()
    for thread in answering:
        thread.join()


if __name__ == "__main__":
    main()
