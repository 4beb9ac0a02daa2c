# -*- coding: utf-8 -*-
# Copyright: lumoraconf maintainers
# MIT License (see the project's licence)
"""Shared by the lumoraconf modules: reading the backend's state through lumoraconf-query and
changing it only through lumoraconf, each run with an argument list, never through a shell."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json

# The device configuration file, as lumoraconf spells it in its messages.
CONFIG_FILE = "/etc/opt/kelvane/scanner/lumora//lumsanenetdevice.cfg"


class Lumoraconf(object):
    """The two programs, found on PATH (or at the paths given)."""

    def __init__(self, module, tool_path=None, query_path=None):
        self.module = module
        self.tool = tool_path or module.get_bin_path("lumoraconf", required=True)
        self.query_tool = query_path or module.get_bin_path("lumoraconf-query", required=True)

    def query(self, command):
        """The answer of `lumoraconf-query COMMAND` as text; fails the module when it cannot
        read its input (it then exits non-zero and says why on standard error)."""
        rc, out, err = self.module.run_command([self.query_tool, command], check_rc=False)
        if rc != 0:
            self.module.fail_json(
                msg="lumoraconf-query %s failed: %s" % (command, (err or out).strip()),
                rc=rc, stdout=out, stderr=err)
        return out

    def devices(self):
        """The registered devices, one dict per entry in file order. Strings hold a byte that
        is not UTF-8 as a lone surrogate (Python's surrogateescape convention)."""
        return [json.loads(line) for line in self.query("devices").splitlines() if line]

    def models(self):
        return [line for line in self.query("models").splitlines() if line]

    def log_settings(self):
        """{"path", "level", "mode"}, or None when the backend does not log."""
        return json.loads(self.query("log"))

    def run(self, *words):
        """Runs lumoraconf with these words. It exits 0 on every path and says what it
        refused on standard output, where a successful change prints nothing; so any output
        fails the module with the tool's own words."""
        argv = [self.tool] + list(words)
        rc, out, err = self.module.run_command(argv, check_rc=False)
        if rc != 0 or out.strip() or err.strip():
            self.module.fail_json(
                msg="lumoraconf %s: %s" % (words[0] if words else "",
                                           (out or err).strip() or "exit status %d" % rc),
                rc=rc, stdout=out, stderr=err, cmd=argv)
        return out


def device_line(device):
    """The line lumoraconf writes for a device (its fields as lumoraconf-query gives them)."""
    if device.get("nodename"):
        return "DEVICE=%s , %s , %s , NODENAME=%s \n" % (
            device["name"], device["model"], device["id"], device["nodename"])
    return "DEVICE=%s , %s , %s , IP-ADDRESS=%s \n" % (
        device["name"], device["model"], device["id"], device["ip"])


def log_line(settings):
    """The log line as the backend reads it, or "" when it does not log."""
    if not settings:
        return ""
    return "log=%s , %d , %s\n" % (settings["path"], settings["level"], settings["mode"] or "")
