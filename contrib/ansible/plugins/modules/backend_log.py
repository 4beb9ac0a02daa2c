#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: lumoraconf maintainers
# MIT License (see LICENSE)

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
extends_documentation_fragment:
  - ansible.builtin.action_common_attributes
  - lumoraconf.scanners.lumoraconf
attributes:
  check_mode:
    support: full
    details: Runs the same plan as a real run and runs nothing that writes.
  diff_mode:
    support: full
    details: The log line before, and the one a real run leaves after.
  platform:
    platforms: linux
author:
  - lumoraconf maintainers (@lumoraconf)
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
    CONFIG_FILE, Lumoraconf, log_line, lumoraconf_argument_spec)

# What lumoraconf -LI writes.
DEFAULT_SETTINGS = {"path": "/tmp/lum_sane.log", "level": 1, "mode": "w"}


def plan(module, tools):
    """The settings now, the settings a run leaves, and the lumoraconf switch that gets there
    (None when nothing is to change). Check mode stops here."""
    want_on = module.params["state"] == "on"
    before = tools.log_settings()
    if (before is not None) == want_on:
        return dict(before=before, after=before, switch=None)
    if want_on:
        return dict(before=before, after=DEFAULT_SETTINGS, switch="-LI")
    return dict(before=before, after=None, switch="-LO")


def apply(module, tools, planned):
    """Runs the switch and reads the settings back."""
    tools.run(planned["switch"])
    after = tools.log_settings()
    if (after is not None) != (module.params["state"] == "on"):
        module.fail_json(msg="lumoraconf %s did not switch the log line" % planned["switch"],
                         changed=True, log=after)
    return after


def main():
    argument_spec = dict(state=dict(type="str", required=True, choices=["on", "off"]))
    argument_spec.update(lumoraconf_argument_spec())
    module = AnsibleModule(argument_spec=argument_spec, supports_check_mode=True)
    tools = Lumoraconf(module)
    planned = plan(module, tools)
    result = dict(changed=planned["switch"] is not None, log=planned["before"])
    after = planned["after"]
    if planned["switch"] and not module.check_mode:
        after = result["log"] = apply(module, tools, planned)
    if module._diff:
        result["diff"] = dict(before_header=CONFIG_FILE, after_header=CONFIG_FILE,
                              before=log_line(planned["before"]), after=log_line(after))
    module.exit_json(**result)


if __name__ == "__main__":
    main()
