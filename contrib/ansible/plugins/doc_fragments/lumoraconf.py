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
