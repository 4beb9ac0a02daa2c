#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: lumoraconf maintainers
# MIT License (see LICENSE)

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
  - Reads the registered devices with C(lumoraconf-query devices), plans the device line with
    C(lumoraconf-query plan) (the checks and catalogue look-up of C(lumoraconf -a), which
    write nothing) and changes the file only with C(lumoraconf -a) and C(lumoraconf -r), so
    the tool's lock, atomic rewrite and quoting apply. Both programs are run with an
    argument list, never through a shell.
  - A change that C(lumoraconf -a) would refuse fails the task with the tool's own words
    before anything is run, also in check mode, and the registered device stays as it was;
    C(Invalid name) for a name it does not accept, and for an address such as 192.168.1.300
    C(Invalid IP address) followed by the address in parentheses.
  - Whether a run changed anything is told from the device configuration file before and
    after it.
  - A device that C(lumoraconf -r) cannot remove (the backend reads it beyond the first 276
    bytes of a line of the file, where C(lumoraconf-query devices) lists it and
    C(lumoraconf-query names) does not) fails the task with that reason, for I(state=absent)
    as for a replace, also in check mode; such a line must be mended by hand.
  - A device registered under the name whose line differs from the planned one is replaced
    (removed, then added again), so it moves to the top of the file as every new device does.
    Should the add then fail for a reason no check could foresee (a full disk), the task
    fails with C(changed=true), and its message and I(removed) hold the removed line.
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
        writes the identifier C(Unknown) and the backend cannot use the scanner, so by
        default the module refuses such a model.
    type: bool
    default: false
extends_documentation_fragment:
  - ansible.builtin.action_common_attributes
  - lumoraconf.scanners.lumoraconf
attributes:
  check_mode:
    support: full
    details: Runs the same plan as a real run, the add's checks included, and runs nothing
      that writes.
  diff_mode:
    support: full
    details: The device lines under the name before, and the line a real run writes after.
  platform:
    platforms: linux
notes:
  - Values may not hold white space, and the model, address and node name no comma; the tool
    would cut them there and the backend's reader would split them.
author:
  - lumoraconf maintainers (@lumoraconf)
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
line:
  description: The device line a run writes (that C(lumoraconf-query plan) printed), or the
    empty string with I(state=absent).
  returned: always
  type: str
  sample: "DEVICE=office , \"LX-500\" , 0x2e5a:0x500 , IP-ADDRESS=192.168.1.21 \n"
commands:
  description: The lumoraconf command lines run (or that would run, in check mode).
  returned: always
  type: list
  elements: list
  sample: [["lumoraconf", "-r", "office"], ["lumoraconf", "-a", "name=office", "model=LX-500", "ip=192.168.1.21"]]
removed:
  description: The device lines that C(lumoraconf -r) removed when the add after it failed;
    they are in the message too, to be put back.
  returned: when the add of a replace failed
  type: list
  elements: str
  sample: ["DEVICE=office , \"LX-500\" , 0x2e5a:0x500 , IP-ADDRESS=192.168.1.20 \n"]
"""

import re

from ansible.module_utils.basic import AnsibleModule
from ansible.module_utils.common.text.converters import to_bytes
from ansible_collections.lumoraconf.scanners.plugins.module_utils.lumoraconf import (
    CONFIG_FILE, Lumoraconf, device_line, lumoraconf_argument_spec)

# What the tool's reader and writer can hold: a field of 63 bytes, the model with its two
# quotes in it, an address read into 30 bytes. Longer values would be cut silently.
LIMITS = {"name": 63, "model": 61, "ip": 29, "nodename": 63}
WHITESPACE = re.compile(r"[ \t\n\r\f\v]")


def check_values(module):
    """Refuses what lumoraconf would cut or the backend's reader would split, without a word."""
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


def add_words(params):
    address = "ip=" + params["ip"] if params["ip"] else "nodename=" + params["nodename"]
    return ["name=" + params["name"], "model=" + params["model"], address]


def fail_unremovable(module, name, **result):
    """The backend reads a device under the name that lumoraconf -r cannot remove: one that
    stands beyond the first 276 bytes of a line of the file."""
    module.fail_json(
        msg="%s cannot be removed by lumoraconf -r: the backend reads it beyond the first 276 "
            "bytes of a line of %s; that line must be mended by hand" % (name, CONFIG_FILE),
        **result)


def plan(module, tools):
    """What a run does, found without changing anything: the devices under the name now, the
    line a run leaves, and the lumoraconf commands that get there. Check mode stops here."""
    params = module.params
    name = params["name"]
    before = registered(tools, name)
    if params["state"] == "absent":
        if before and name not in tools.names():
            fail_unremovable(module, name)
        return dict(before=before, line="", commands=[["-r", name]] if before else [])
    check_values(module)
    words = add_words(params)
    line = tools.plan(words, replace=bool(before))
    # The fields are joined by " , "; a name that passed the add's checks, and a model,
    # address and node name without commas, hold none.
    if line.split(" , ")[2] == "Unknown" and not params["allow_unknown_model"]:
        module.fail_json(
            msg="model %r is not in the backend's catalogue (lumoraconf-query models); "
                "lumoraconf would register it with the identifier Unknown, which the backend "
                "cannot use. Set allow_unknown_model to register it anyway." % params["model"],
            line=line)
    if len(before) == 1 and device_line(before[0]) == line:
        return dict(before=before, line=line, commands=[])
    return dict(before=before, line=line,
                commands=([["-r", name]] if before else []) + [["-a"] + words])


def apply(module, tools, planned):
    """Runs the planned commands and reads the result back; returns the device after them and
    whether the file changed, which is told from the file before and after."""
    name = module.params["name"]
    start = tools.config_bytes()
    removed = []
    for words in planned["commands"]:
        before_command = tools.config_bytes()
        failure = tools.attempt(*words)
        changed = tools.config_bytes() != start
        if failure is None:
            if words[0] == "-r" and tools.config_bytes() != before_command:
                removed = [device_line(device) for device in planned["before"]]
            continue
        if removed:
            module.fail_json(
                changed=changed, removed=removed,
                msg="lumoraconf -a: %s; the device was removed by lumoraconf -r %s before, "
                    "its line was: %s" % (failure, name, "".join(removed).rstrip("\n")))
        module.fail_json(msg="lumoraconf %s: %s" % (words[0], failure), changed=changed)
    changed = tools.config_bytes() != start
    after = registered(tools, name)
    if module.params["state"] == "absent":
        if after:
            fail_unremovable(module, name, changed=changed, device=after[0])
        return None, changed
    if len(after) != 1 or device_line(after[0]) != planned["line"]:
        module.fail_json(changed=changed, devices=after,
                         msg="lumoraconf accepted the device, but the file reads back otherwise")
    return after[0], changed


def main():
    argument_spec = dict(
        name=dict(type="str", required=True),
        model=dict(type="str"),
        ip=dict(type="str"),
        nodename=dict(type="str"),
        state=dict(type="str", default="present", choices=["present", "absent"]),
        allow_unknown_model=dict(type="bool", default=False),
    )
    argument_spec.update(lumoraconf_argument_spec())
    module = AnsibleModule(
        argument_spec=argument_spec,
        mutually_exclusive=[("ip", "nodename")],
        required_if=[("state", "present", ("model",)),
                     ("state", "present", ("ip", "nodename"), True)],
        supports_check_mode=True,
    )
    tools = Lumoraconf(module)
    planned = plan(module, tools)
    before = planned["before"]
    result = dict(changed=bool(planned["commands"]), line=planned["line"],
                  device=before[0] if before else None,
                  commands=[["lumoraconf"] + words for words in planned["commands"]])
    if planned["commands"] and not module.check_mode:
        result["device"], result["changed"] = apply(module, tools, planned)
    if module._diff:
        result["diff"] = dict(before_header=CONFIG_FILE, after_header=CONFIG_FILE,
                              before="".join(device_line(d) for d in before),
                              after=planned["line"])
    module.exit_json(**result)


if __name__ == "__main__":
    main()
