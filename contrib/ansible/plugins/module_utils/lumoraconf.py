# -*- coding: utf-8 -*-
# Copyright: lumoraconf maintainers
# MIT License (see LICENSE)
"""Shared by the lumoraconf modules: reading the backend's state through lumoraconf-query and
changing it only through lumoraconf, each run with an argument list, never through a shell."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import errno
import json

# The device configuration file, as lumoraconf spells it in its messages.
CONFIG_FILE = "/etc/opt/kelvane/scanner/lumora//lumsanenetdevice.cfg"

# lumoraconf-query plan: the add would refuse the words, and says why on standard output.
PLAN_REFUSED = 3

# lumoraconf-query check: it found something, and printed it on standard output.
CHECK_FOUND = 1


def lumoraconf_argument_spec():
    """The options of the doc fragment lumoraconf.scanners.lumoraconf, which every module
    takes."""
    return dict(
        lumoraconf_path=dict(type="path"),
        query_path=dict(type="path"),
    )


def json_lines(text):
    """The objects of lumoraconf-query's one-a-line JSON answers, in order. Strings hold a byte
    that is not UTF-8 as a lone surrogate (Python's surrogateescape convention, in which
    run_command decodes the answer)."""
    return [json.loads(line) for line in text.splitlines() if line]


class Lumoraconf(object):
    """The two programs, found on PATH (or at the paths the module was given). lumoraconf is
    looked for only when a module first runs it, so one that only reads needs only
    lumoraconf-query."""

    def __init__(self, module):
        self.module = module
        self._tool = None
        self.query_tool = (module.params["query_path"]
                           or module.get_bin_path("lumoraconf-query", required=True))

    @property
    def tool(self):
        """The path of lumoraconf."""
        if self._tool is None:
            self._tool = (self.module.params["lumoraconf_path"]
                          or self.module.get_bin_path("lumoraconf", required=True))
        return self._tool

    def query(self, *words):
        """The answer of `lumoraconf-query WORDS` as text; fails the module when it cannot
        read its input (it then exits non-zero and says why on standard error)."""
        rc, out, err = self.module.run_command([self.query_tool] + list(words), check_rc=False)
        if rc != 0:
            self.module.fail_json(
                msg="lumoraconf-query %s failed: %s" % (words[0], (err or out).strip()),
                rc=rc, stdout=out, stderr=err)
        return out

    def names(self):
        """The names lumoraconf -r removes devices by, in file order."""
        return [name for name in self.query("names", "-z").split("\0") if name]

    def config_bytes(self):
        """The device configuration file's content, or None when there is none: what a run
        changed is told from the file itself."""
        try:
            with open(CONFIG_FILE, "rb") as config:
                return config.read()
        except (IOError, OSError) as error:
            if error.errno == errno.ENOENT:
                return None
            self.module.fail_json(msg="cannot read %s: %s" % (CONFIG_FILE, error))

    def devices(self):
        """The registered devices, one dict per entry in file order (see json_lines)."""
        return json_lines(self.query("devices"))

    def discover(self, timeout, interface=None, protocol="all"):
        """The scanners that `lumoraconf-query discover` finds in TIMEOUT seconds (on the
        named interface, or on every one it can use; by PROTOCOL, mdns, wsd or all), one
        dict per line it prints (see json_lines). Fails the module with the command's own
        words when it cannot look (no usable interface or socket)."""
        words = ["discover", "--timeout", "%.3f" % timeout, "--protocol", protocol]
        if interface is not None:
            words += ["--interface", interface]
        return json_lines(self.query(*words))

    def check(self):
        """The findings of `lumoraconf-query check`, one dict per line it prints (see
        json_lines); empty for a sound configuration. Fails the module only when the command
        printed no finding and still did not succeed (its usage, a write error)."""
        argv = [self.query_tool, "check"]
        rc, out, err = self.module.run_command(argv, check_rc=False)
        if rc == 0 or (rc == CHECK_FOUND and out.strip()):
            return json_lines(out)
        self.module.fail_json(msg="lumoraconf-query check failed: %s"
                              % ((err or out).strip() or "exit status %d" % rc),
                              rc=rc, stdout=out, stderr=err, cmd=argv)

    def log_settings(self):
        """{"path", "level", "mode"}, or None when the backend does not log."""
        return json.loads(self.query("log"))

    def plan(self, words, replace):
        """The DEVICE= line that `lumoraconf -a WORDS` would write now (after `lumoraconf -r`
        of the name when replace is true), or the module fails with the add's own refusal."""
        argv = [self.query_tool, "plan"] + (["--replace"] if replace else []) + list(words)
        rc, out, err = self.module.run_command(argv, check_rc=False)
        if rc == PLAN_REFUSED:
            # The refusal of the remove before the add names lumoraconf -r itself.
            refusal = out.strip()
            if "lumoraconf -r" not in refusal:
                refusal = "lumoraconf -a: " + refusal
            self.module.fail_json(msg=refusal, rc=rc, cmd=argv)
        if rc != 0 or not out.startswith("DEVICE="):
            self.module.fail_json(msg="lumoraconf-query plan failed: %s"
                                  % ((err or out).strip() or "exit status %d" % rc),
                                  rc=rc, stdout=out, stderr=err, cmd=argv)
        return out

    def attempt(self, *words):
        """Runs lumoraconf with these words; None when it succeeded, else what it said. It
        exits 0 on every path and says what it refused or could not do on standard output,
        where a successful change prints nothing."""
        rc, out, err = self.module.run_command([self.tool] + list(words), check_rc=False)
        if rc != 0 or out.strip() or err.strip():
            return (out or err).strip() or "exit status %d" % rc
        return None

    def run(self, *words):
        """Runs lumoraconf with these words; fails the module with its words when it says
        anything."""
        failure = self.attempt(*words)
        if failure is not None:
            self.module.fail_json(msg="lumoraconf %s: %s" % (words[0], failure),
                                  cmd=[self.tool] + list(words))


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
