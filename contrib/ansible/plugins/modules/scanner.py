#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: lumoraconf maintainers
# MIT License (see the project's licence)

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: scanner
short_description: Register or remove one network scanner of the lumora SANE backend
version_added: "0.1.0"
description:
  - Makes sure that one friendly name is registered with the given model and IPv4 address or
    node name in the backend's device configuration file, or that it is not registered.
  - Reads the registered devices with C(lumoraconf-query devices) and changes them only with
    C(lumoraconf -a) and C(lumoraconf -r), so the tool's lock, atomic rewrite and quoting
    apply. Both are run with an argument list, never through a shell.
  - A device registered under the name with another model or address is replaced (removed,
    then added again), so it moves to the top of the file as every new device does.
  - C(lumoraconf) exits with status 0 even when it refuses something and says why on standard
    output; the module fails with those words.
options:
  name:
    description:
      - The friendly name. C(lumoraconf) accepts letters, digits, C(-) and C(_) only and
        refuses other names with C(Invalid name).
    type: str
    required: true
  model:
    description:
      - The model name, without double quotes, as C(lumoraconf-query models) lists it.
      - Required with I(state=present).
    type: str
  ip:
    description:
      - The scanner's IPv4 address. Mutually exclusive with I(nodename).
    type: str
  nodename:
    description:
      - The scanner's node name. Mutually exclusive with I(ip).
    type: str
  state:
    description:
      - C(present) registers the device (one of I(ip) and I(nodename) is required);
        C(absent) removes every device registered under the name.
    type: str
    choices: [present, absent]
    default: present
  allow_unknown_model:
    description:
      - Register a model that the backend's catalogue does not know. C(lumoraconf) then
        writes the identifiers C(Unknown) and the backend cannot use the scanner, so by
        default the module refuses such a model.
    type: bool
    default: false
  lumoraconf_path:
    description: Path of C(lumoraconf); found on C(PATH) when not given.
    type: path
  query_path:
    description: Path of C(lumoraconf-query); found on C(PATH) when not given.
    type: path
notes:
  - Supports check mode (nothing is run but the queries) and diff mode (the device lines
    before and after; in check mode the identifier of a new model shows as
    C(<from the catalogue>)).
  - Values may not hold white space, and the model, address and node name no comma; the tool
    would cut them there and the backend's reader would split them.
requirements:
  - lumoraconf and lumoraconf-query on the managed host
author:
  - lumoraconf maintainers
"""

EXAMPLES = r"""
- name: Office scanner, by address
  lumoraconf.scanners.scanner:
    name: office
    model: LX-500
    ip: 192.168.1.20

- name: Lab scanner, by node name
  lumoraconf.scanners.scanner:
    name: lab
    model: LX-700
    nodename: LQX_12345

- name: The old scanner is gone
  lumoraconf.scanners.scanner:
    name: basement
    state: absent
"""

RETURN = r"""
device:
  description: The device as C(lumoraconf-query devices) reads it after the run (before it in
    check mode); null when none is registered under the name.
  returned: always
  type: dict
  sample:
    name: office
    model: '"LX-500"'
    id: "0x2e5a:0x500"
    ip: 192.168.1.20
    nodename: ""
commands:
  description: The lumoraconf command lines run (or that would run, in check mode).
  returned: always
  type: list
  elements: list
  sample: [["lumoraconf", "-r", "office"], ["lumoraconf", "-a", "name=office", "model=LX-500", "ip=192.168.1.21"]]
"""

import re

from ansible.module_utils.basic import AnsibleModule
from ansible.module_utils.common.text.converters import to_bytes
from ansible_collections.lumoraconf.scanners.plugins.module_utils.lumoraconf import (
    CONFIG_FILE, Lumoraconf, device_line)

# What the tool's reader and writer can hold: a field of 63 bytes, the model with its two
# quotes in it, an address read into 30 bytes. Longer values would be cut silently.
LIMITS = {"name": 63, "model": 61, "ip": 29, "nodename": 63}
WHITESPACE = re.compile(r"[ \t\n\r\f\v]")


def check_values(module):
    for key, limit in LIMITS.items():
        value = module.params[key]
        if value is None:
            continue
        if value == "":
            module.fail_json(msg="%s is empty" % key)
        if WHITESPACE.search(value):
            module.fail_json(msg="%s %r holds white space, which lumoraconf would cut or drop"
                             % (key, value))
        if key != "name" and "," in value:
            module.fail_json(msg="%s %r holds a comma, where the backend's reader splits the line"
                             % (key, value))
        if len(to_bytes(value, errors="surrogate_or_strict")) > limit:
            module.fail_json(msg="%s %r is longer than %d bytes" % (key, value, limit))


def registered(tools, name):
    return [device for device in tools.devices() if device["name"] == name]


def main():
    module = AnsibleModule(
        argument_spec=dict(
            name=dict(type="str", required=True),
            model=dict(type="str"),
            ip=dict(type="str"),
            nodename=dict(type="str"),
            state=dict(type="str", default="present", choices=["present", "absent"]),
            allow_unknown_model=dict(type="bool", default=False),
            lumoraconf_path=dict(type="path"),
            query_path=dict(type="path"),
        ),
        mutually_exclusive=[("ip", "nodename")],
        required_if=[("state", "present", ("model",)),
                     ("state", "present", ("ip", "nodename"), True)],
        supports_check_mode=True,
    )
    params = module.params
    name = params["name"]
    tools = Lumoraconf(module, params["lumoraconf_path"], params["query_path"])
    before = registered(tools, name)
    result = dict(changed=False, device=before[0] if before else None, commands=[])
    diff = dict(before_header=CONFIG_FILE, after_header=CONFIG_FILE,
                before="".join(device_line(d) for d in before))

    if params["state"] == "absent":
        commands = [["-r", name]] if before else []
        predicted = ""
    else:
        check_values(module)
        want = dict(name=name, model='"%s"' % params["model"], ip=params["ip"] or "",
                    nodename=params["nodename"] or "")
        if len(before) == 1 and all(before[0][key] == want[key] for key in want):
            commands = []
            predicted = diff["before"]
        else:
            known = params["model"] in tools.models()
            if not known and not params["allow_unknown_model"]:
                module.fail_json(
                    msg="model %r is not in the backend's catalogue (lumoraconf-query models); "
                        "lumoraconf would register it with Unknown identifiers, which the "
                        "backend cannot use. Set allow_unknown_model to register it anyway."
                        % params["model"])
            address = "ip=" + want["ip"] if want["ip"] else "nodename=" + want["nodename"]
            commands = ([["-r", name]] if before else []) + [
                ["-a", "name=" + name, "model=" + params["model"], address]]
            identifier = "<from the catalogue>" if known else "Unknown"
            if before and before[0]["model"] == want["model"]:
                identifier = before[0]["id"]
            predicted = device_line(dict(want, id=identifier))

    result["commands"] = [["lumoraconf"] + words for words in commands]
    result["changed"] = bool(commands)
    diff["after"] = predicted
    if commands and not module.check_mode:
        for words in commands:
            tools.run(*words)
        after = registered(tools, name)
        if params["state"] == "absent" and after:
            result["device"] = after[0]
            module.fail_json(msg="lumoraconf -r %s left the device registered" % name, **result)
        if params["state"] == "present":
            if len(after) != 1 or any(after[0][key] != want[key] for key in want):
                module.fail_json(
                    msg="lumoraconf accepted the device, but the file reads back otherwise",
                    devices=after, **result)
            result["device"] = after[0]
            diff["after"] = device_line(after[0])
        else:
            result["device"] = None
    if module._diff:
        result["diff"] = diff
    module.exit_json(**result)


if __name__ == "__main__":
    main()
