#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: lumoraconf maintainers
# MIT License (see LICENSE)

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: config_info
short_description: Find where the lumora SANE backend reads its device file otherwise than meant
version_added: "0.1.0"
description:
  - Runs C(lumoraconf-query check) on the managed host and returns its findings, one dict per
    finding, in the order it prints them.
  - C(check) reads the device configuration file and the model catalogue with the readers of
    C(lumoraconf) and the backend and reports, among others, a line over 276 bytes that the
    backend reads as several, a name it cuts at 63 bytes, a model the catalogue does not know,
    an id that differs from the catalogue's, the same name registered twice, a line it passes
    over although it looks like a device, an address that is no IPv4 address, more than one
    log line, a file that group or others may write and pending files left beside it.
    C(man lumoraconf-query) explains each kind and how to mend it.
  - Reads and changes nothing; the task never reports a change. A file that cannot be read is
    a finding of the kind C(unreadable), not a failure of the task.
  - The program is run with an argument list, never through a shell.
extends_documentation_fragment:
  - ansible.builtin.action_common_attributes
  - lumoraconf.scanners.lumoraconf
  - lumoraconf.scanners.lumoraconf.read_only
notes:
  - The option I(lumoraconf_path) is accepted for symmetry with the other modules and not
    used.
seealso:
  - module: lumoraconf.scanners.scanner
author:
  - lumoraconf maintainers (@lumoraconf)
"""

EXAMPLES = r"""
- name: What the backend makes of its configuration
  lumoraconf.scanners.config_info:
  register: configuration

- name: The backend reads the configuration as it was written
  ansible.builtin.assert:
    that: configuration.findings == []
    fail_msg: "{{ configuration.findings | map(attribute='message') | list }}"
"""

RETURN = r"""
findings:
  description:
    - What C(lumoraconf-query check) found, empty for a sound configuration.
    - Strings hold a byte that is not UTF-8 as a lone surrogate.
  returned: always
  type: list
  elements: dict
  contains:
    line:
      description: The line of the device configuration file, 1 for the first; 0 for a
        finding about a whole file (C(unreadable), C(writable-file), C(pending-file)).
      type: int
      sample: 3
    kind:
      description: What was found, one of C(unreadable), C(writable-file), C(pending-file),
        C(split-line), C(passed-over), C(cut-name), C(unremovable), C(duplicate-name),
        C(unknown-model), C(id-mismatch), C(bad-address), C(extra-log-line).
      type: str
      sample: duplicate-name
    name:
      description: The name of the device as the backend reads it, or null when the finding
        concerns no named device.
      type: str
      sample: office
    text:
      description: The line, without its line feed, or null for a finding about a whole file.
      type: str
      sample: "DEVICE=office , \"LX-500\" , 0x2e5a:0x500 , IP-ADDRESS=192.168.1.21 "
    message:
      description: What the backend does with it.
      type: str
      sample: "\"office\" is registered on line 1 already: the backend finds the device of
        line 1 under this name, never this one"
  sample:
    - line: 3
      kind: duplicate-name
      name: office
      text: "DEVICE=office , \"LX-500\" , 0x2e5a:0x500 , IP-ADDRESS=192.168.1.21 "
      message: "\"office\" is registered on line 1 already: the backend finds the device of
        line 1 under this name, never this one"
"""

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.lumoraconf.scanners.plugins.module_utils.lumoraconf import (
    Lumoraconf, lumoraconf_argument_spec)


def main():
    module = AnsibleModule(argument_spec=lumoraconf_argument_spec(), supports_check_mode=True)
    module.exit_json(changed=False, findings=Lumoraconf(module).check())


if __name__ == "__main__":
    main()
