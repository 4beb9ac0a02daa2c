# -*- coding: utf-8 -*-
# Copyright: lumoraconf maintainers
# MIT License (see LICENSE)
"""The options every module of the collection shares: where the two programs are."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type


class ModuleDocFragment(object):

    DOCUMENTATION = r"""
options:
  lumoraconf_path:
    description: Path of C(lumoraconf); found on C(PATH) when not given.
    type: path
  query_path:
    description: Path of C(lumoraconf-query); found on C(PATH) when not given.
    type: path
requirements:
  - lumoraconf and lumoraconf-query (the C(lumoraconf) package) on the managed host
"""

    # The attributes of a module that only reads the managed host (extended as
    # lumoraconf.scanners.lumoraconf.read_only, beside action_common_attributes).
    READ_ONLY = r"""
attributes:
  check_mode:
    support: full
    details: Only reads, so it runs in check mode as in a real run.
  diff_mode:
    support: none
  platform:
    platforms: linux
"""
