#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: lumoraconf maintainers
# MIT License (see the project's licence)

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: backend_log
short_description: Switch the lumora SANE backend's log line on or off
version_added: "0.1.0"
description:
  - Reads the log settings that the backend would apply with C(lumoraconf-query log) and
    switches them with C(lumoraconf -LI) (writes the line C(log=/tmp/lum_sane.log , 1 , w)) or
    C(lumoraconf -LO) (removes every log line) only when they differ from I(state).
  - C(on) is satisfied by any log line that sets something, whatever its path, level and mode.
options:
  state:
    description: Whether the backend logs.
    type: str
    choices: ["on", "off"]
    required: true
  lumoraconf_path:
    description: Path of C(lumoraconf); found on C(PATH) when not given.
    type: path
  query_path:
    description: Path of C(lumoraconf-query); found on C(PATH) when not given.
    type: path
notes:
  - Supports check mode and diff mode (the log line before and after).
requirements:
  - lumoraconf and lumoraconf-query on the managed host
author:
  - lumoraconf maintainers
"""

EXAMPLES = r"""
- name: The backend logs while we look into a problem
  lumoraconf.scanners.backend_log:
    state: "on"
"""

RETURN = r"""
log:
  description: The log settings after the run (before it in check mode), or null when the
    backend does not log.
  returned: always
  type: dict
  sample: {"path": "/tmp/lum_sane.log", "level": 1, "mode": "w"}
"""

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.lumoraconf.scanners.plugins.module_utils.lumoraconf import (
    CONFIG_FILE, Lumoraconf, log_line)

DEFAULT_SETTINGS = {"path": "/tmp/lum_sane.log", "level": 1, "mode": "w"}


def main():
    module = AnsibleModule(
        argument_spec=dict(
            state=dict(type="str", required=True, choices=["on", "off"]),
            lumoraconf_path=dict(type="path"),
            query_path=dict(type="path"),
        ),
        supports_check_mode=True,
    )
    tools = Lumoraconf(module, module.params["lumoraconf_path"], module.params["query_path"])
    want_on = module.params["state"] == "on"
    before = tools.log_settings()
    changed = (before is not None) != want_on
    result = dict(changed=changed, log=before)
    diff = dict(before_header=CONFIG_FILE, after_header=CONFIG_FILE, before=log_line(before),
                after=log_line(DEFAULT_SETTINGS if want_on and changed else
                               (before if want_on else None)))
    if changed and not module.check_mode:
        tools.run("-LI" if want_on else "-LO")
        after = tools.log_settings()
        if (after is not None) != want_on:
            module.fail_json(msg="lumoraconf %s did not switch the log line"
                             % ("-LI" if want_on else "-LO"), log=after)
        result["log"] = after
        diff["after"] = log_line(after)
    if module._diff:
        result["diff"] = diff
    module.exit_json(**result)


if __name__ == "__main__":
    main()
