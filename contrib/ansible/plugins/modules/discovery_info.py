#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: lumoraconf maintainers
# MIT License (see LICENSE)

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: discovery_info
short_description: Find the network scanners that announce themselves by multicast DNS or WS-Discovery
version_added: "0.1.0"
description:
  - Runs C(lumoraconf-query discover) on the managed host and returns the scanners it prints,
    one dict per scanner, with the model of the backend's catalogue that each one matches.
  - C(discover) asks, as a multicast DNS querier on port 5353 (one-shot queries when that port
    cannot be had), for C(_uscan._tcp), C(_uscans._tcp), C(_scanner._tcp), C(_ipp._tcp),
    C(_ipps._tcp), C(_pdl-datastream._tcp) and C(_printer._tcp) on every interface of the
    managed host that is up with multicast and an IPv4 or IPv6 address, loopback excepted, or
    on the one named, and collects the answers until the timeout. It lists the devices that
    announce scanning and those whose model the catalogue knows.
  - It also sends a WS-Discovery Probe for scanner devices (to 239.255.255.250 and ff02::c,
    UDP port 3702) on the same interfaces, and asks each scanner that answers for its
    metadata (manufacturer, model, friendly name) once, over plain HTTP, at the address its
    answer came from and no other. A device that answers both protocols at one address is
    one scanner, with both in I(protocols).
  - Neither protocol crosses routers, so only the scanners on the managed host's own links
    are found.
  - Reads and changes nothing of the backend's files; the task never reports a change. To
    register what it finds, pass I(name), I(model) and I(ip) of each scanner whose I(model)
    is not null to M(lumoraconf.scanners.scanner).
  - The program is run with an argument list, never through a shell. When it cannot look (no
    usable interface or socket, an interface that does not exist), the task fails with its
    own words.
options:
  timeout:
    description:
      - How long to collect answers, in seconds, above 0 and at most 600; whole
        milliseconds are kept.
    type: float
    default: 2
  interface:
    description:
      - The one interface to query on, by name. Every usable interface when not given.
    type: str
  protocol:
    description:
      - Which protocols to ask by, C(mdns) (multicast DNS), C(wsd) (WS-Discovery) or C(all)
        (both).
    type: str
    choices: [mdns, wsd, all]
    default: all
extends_documentation_fragment:
  - ansible.builtin.action_common_attributes
  - lumoraconf.scanners.lumoraconf
  - lumoraconf.scanners.lumoraconf.read_only
notes:
  - The task lasts about I(timeout) seconds, whatever answers.
  - The option I(lumoraconf_path) is accepted for symmetry with the other modules and not
    used.
seealso:
  - module: lumoraconf.scanners.scanner
author:
  - lumoraconf maintainers (@lumoraconf)
"""

EXAMPLES = r"""
- name: Find the scanners on the managed host's links
  lumoraconf.scanners.discovery_info:
    timeout: 3
  register: found

- name: Register each scanner whose model the catalogue knows, by address
  lumoraconf.scanners.scanner:
    name: "{{ item.add | select('match', '^name=') | first | regex_replace('^name=', '') }}"
    model: "{{ item.model }}"
    ip: "{{ item.ip }}"
  loop: "{{ found.scanners }}"
  loop_control:
    label: "{{ item.instance }}"
  when: item.model is not none
"""

RETURN = r"""
scanners:
  description:
    - The devices found that announce scanning or whose model the backend's catalogue
      knows, one per instance name and address, in the order they became complete. Empty
      when none answered.
    - Strings hold a byte that is not UTF-8 as a lone surrogate.
  returned: always
  type: list
  elements: dict
  contains:
    instance:
      description: The instance name the scanner announces (the first label of its service
        name); for a device found by WS-Discovery alone, the friendly name of its metadata
        (else its make and model, else its endpoint address).
      type: str
      sample: Office Scanner
    host:
      description: The host name its service record points at; for a device found by
        WS-Discovery alone, the address it answered from.
      type: str
      sample: lumascan-7.local
    ip:
      description: Its IPv4 address, from the address record of that host, or null for a
        device found over IPv6 alone.
      type: str
      sample: 10.77.1.2
    port:
      description: The port of its service record; for a device found by WS-Discovery alone,
        that of the address its metadata was asked at (0 when none).
      type: int
      sample: 80
    services:
      description: The service types under which it announced itself (C(_uscan._tcp),
        C(_uscans._tcp), C(_scanner._tcp), C(_ipp._tcp), C(_ipps._tcp),
        C(_pdl-datastream._tcp), C(_printer._tcp), in this order).
      type: list
      elements: str
      sample: ["_uscan._tcp", "_ipp._tcp"]
    ty:
      description: The C(ty) string of its TXT record (the make and model as it describes
        itself), or null when it has none.
      type: str
      sample: Kelvane LumaScan MX-200
    usb_MDL:
      description: The C(usb_MDL) string of its TXT record, or null when it has none.
      type: str
      sample: null
    product:
      description: The C(product) string of its TXT record, or null when it has none.
      type: str
      sample: null
    model:
      description: The model of the backend's catalogue that I(ty), I(usb_MDL), I(product) or
        the WS-Discovery metadata names, or null when the catalogue knows none of them.
      type: str
      sample: MX-200
    add:
      description:
        - The arguments of the C(lumoraconf) command that registers it by address (C(-a),
          C(name=) with a name the add accepts, derived from the instance name, C(model=),
          C(ip=)), or null when I(model) is null.
      type: list
      elements: str
      sample: ["-a", "name=Office_Scanner", "model=MX-200", "ip=10.77.1.2"]
    ipv6:
      description: The IPv6 addresses of its host (from its AAAA records).
      type: list
      elements: str
      sample: []
    listed_for:
      description: C(scanning) when it announces scanning (an eSCL or scanner service,
        C(Scan=T), or a WS-Discovery scanner device), C(model) when it is listed only because
        the catalogue knows its model.
      type: str
      sample: scanning
    protocols:
      description: The protocols it answered, C(mdns), C(wsd) or both.
      type: list
      elements: str
      sample: ["mdns"]
    wsd:
      description:
        - What WS-Discovery said of it, or null when it did not answer WS-Discovery.
        - C(endpoint) (its endpoint address), C(types) (the local names of its types),
          C(xaddrs) (its transport addresses, as given), C(metadata_version), and from its
          metadata C(manufacturer), C(model_name), C(model_number) and C(friendly_name), each
          null when the metadata did not give it or could not be had.
      type: dict
      sample: null
  sample:
    - instance: Office Scanner
      host: lumascan-7.local
      ip: 10.77.1.2
      port: 80
      services: ["_uscan._tcp", "_ipp._tcp"]
      ty: Kelvane LumaScan MX-200
      usb_MDL: null
      product: null
      model: MX-200
      add: ["-a", "name=Office_Scanner", "model=MX-200", "ip=10.77.1.2"]
      ipv6: []
      listed_for: scanning
      protocols: ["mdns"]
      wsd: null
    - instance: Lab Scanner
      host: lab.local
      ip: 10.77.2.2
      port: 8080
      services: ["_uscan._tcp"]
      ty: Other Maker Z9
      usb_MDL: null
      product: null
      model: null
      add: null
      ipv6: []
      listed_for: scanning
      protocols: ["mdns"]
      wsd: null
"""

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.lumoraconf.scanners.plugins.module_utils.lumoraconf import (
    Lumoraconf, lumoraconf_argument_spec)

# The longest run lumoraconf-query discover accepts, in seconds.
LONGEST_TIMEOUT = 600


def main():
    argument_spec = dict(
        timeout=dict(type="float", default=2),
        interface=dict(type="str"),
        protocol=dict(type="str", default="all", choices=["mdns", "wsd", "all"]),
    )
    argument_spec.update(lumoraconf_argument_spec())
    module = AnsibleModule(argument_spec=argument_spec, supports_check_mode=True)
    timeout = module.params["timeout"]
    # discover keeps whole milliseconds; a timeout that rounds to none would be refused there
    # with its usage text, so it is refused here in the option's own terms.
    if not 0.0005 <= timeout <= LONGEST_TIMEOUT:
        module.fail_json(msg="timeout must be above 0 and at most %d seconds, not %s"
                         % (LONGEST_TIMEOUT, timeout))
    scanners = Lumoraconf(module).discover(timeout, module.params["interface"],
                                           module.params["protocol"])
    module.exit_json(changed=False, scanners=scanners)


if __name__ == "__main__":
    main()
