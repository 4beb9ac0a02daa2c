#!/usr/bin/env python3
"""The timing and the found sets of bench/discovery.sh: one run of a discovery tool, and the table.

  discovery_sets.py run TOOL RECORDS COMMAND...
      runs COMMAND (already inside the querier's namespace), times it from its start to its
      exit and to each line, reads the scanners it printed as TOOL prints them (discover:
      JSON lines; avahi-browse: the resolved lines of -p; airscan-discover: its [devices]
      section) and appends one JSON record to RECORDS. Fails when COMMAND fails.
  discovery_sets.py header
      prints the head of the table.
  discovery_sets.py report RECORDS CASE TIMEOUT_MS KEY
      prints the table rows of CASE from RECORDS (a tool's found/run is a range when its runs
      differ; a tool without records is a row saying it was not run, as it does not ask
      WS-Discovery), then the scanners each tool found over its runs and the protocols they
      answered on, and every scanner a peer found that discover did not find in every run;
      with KEY address, also every address discover printed more than one line for. Exits 1
      when there is one.

Two tools found the same scanner when they agree on its KEY: with name, its instance name and
IPv4 address (the peers name an instance as DNS-SD has it; airscan-discover prints the
instance name as the name of its device and its address in the URL); with address, its
address alone, as for WS-Discovery devices, which the tools name differently: discover by the
friendly name of the metadata, airscan-discover by its manufacturer and model name, in lines
"  MANUFACTURER MODEL_NAME = http://ADDRESS:PORT/PATH, WSD" (the address of the scan service
the metadata names; a device found by both protocols is two lines, one of each, both named
by its DNS-SD instance name).
"""

import collections
import json
import re
import statistics
import subprocess
import sys
import time

OURS = "discover"


def from_discover(lines):
    # One device a line: (name, address, protocols); the IPv4 address, or the first IPv6 one.
    found = []
    for line in lines:
        if line.strip():
            record = json.loads(line)
            found.append((record["instance"], record["ip"] or record["ipv6"][0],
                          "+".join(record["protocols"])))
    return found


def unescape_label(text):
    """avahi-browse -p writes a byte of a label as \\DDD (decimal) and . and \\ as \\. and \\\\."""
    raw = bytearray()
    i = 0
    while i < len(text):
        if text[i] == "\\" and re.match(r"\d{3}", text[i + 1:i + 4]):
            raw.append(int(text[i + 1:i + 4]))
            i += 4
        elif text[i] == "\\" and i + 1 < len(text):
            raw += text[i + 1].encode()
            i += 2
        else:
            raw += text[i].encode()
            i += 1
    return raw.decode("utf-8", errors="replace")


def from_avahi_browse(lines):
    # =;interface;protocol;name;type;domain;host;address;port;txt
    found = set()
    for line in lines:
        fields = line.rstrip("\n").split(";")
        if fields[0] == "=" and len(fields) >= 9:
            found.add((unescape_label(fields[3]), fields[7], "mdns"))
    return sorted(found)


def from_airscan(lines):
    # "  NAME = http://ADDRESS:PORT/PATH/, eSCL" (or WSD), in the [devices] section
    found = set()
    for line in lines:
        match = re.match(r"\s+(.*?)\s*=\s*https?://([0-9.]+)[:/].*,\s*(\S+)\s*$", line)
        if match:
            found.add(match.groups())
    return sorted(found)


READERS = {OURS: from_discover, "avahi-browse": from_avahi_browse,
           "airscan-discover": from_airscan}


def run(tool, records, command):
    start = time.monotonic()
    lines, times = [], []
    with subprocess.Popen(command, stdout=subprocess.PIPE, text=True) as process:
        for line in process.stdout:
            lines.append(line)
            times.append(time.monotonic() - start)
    wall = time.monotonic() - start
    if process.returncode != 0:
        sys.exit(f"discovery_sets: {tool} failed with status {process.returncode}")
    found = READERS[tool](lines)
    with open(records, "a", encoding="utf-8") as out:
        out.write(json.dumps({"tool": tool, "arguments": command[1:], "wall": wall, "lines": times,
                              "found": found}) + "\n")


def ms(values):
    return "%.0f (%.0f-%.0f)" % (statistics.median(values) * 1e3, min(values) * 1e3,
                                 max(values) * 1e3)


def ranges(words):
    """Words that differ only in a trailing number, as ranges: "Scanner 1-20, 22"."""
    groups, plain = {}, []
    for word in set(words):
        match = re.fullmatch(r"(.*?)(\d+)", word)
        if match:
            groups.setdefault(match.group(1), []).append(int(match.group(2)))
        else:
            plain.append(word)
    parts = []
    for prefix, numbers in sorted(groups.items()):
        numbers.sort()
        spans, low = [], numbers[0]
        for previous, current in zip(numbers, numbers[1:] + [None]):
            if current != previous + 1:
                spans.append(str(low) if low == previous else f"{low}-{previous}")
                low = current
        parts.append(prefix + ", ".join(spans))
    return "; ".join(parts + sorted(plain)) or "(none)"


ROW = "{:<20} {:<24} {:>9} {:<20} {:>9}  {:<26} {}"
HEADER = ROW.format("case", "tool", "found/run", "wall ms (min-max)", "ours/peer",
                    "first / last line ms", "exit - timeout, ms")

KEYS = {"name": lambda scanner: scanner[:2], "address": lambda scanner: scanner[1]}


def label(tool, of_tool):
    """discover with the arguments it ran with (its protocols), a peer by its name."""
    return " ".join([tool] + of_tool[0]["arguments"][1:]) if tool == OURS else tool


def report(records, case, timeout_ms, key_name):
    key = KEYS[key_name]
    runs = {}
    with open(records, encoding="utf-8") as source:
        for line in source:
            record = json.loads(line)
            record["scanners"] = list(map(tuple, record["found"]))
            record["found"] = set(map(key, record["scanners"]))
            runs.setdefault(record["tool"], []).append(record)
    ours_wall = statistics.median(r["wall"] for r in runs[OURS])
    for tool, of_tool in runs.items():
        counts = sorted(len(r["found"]) for r in of_tool)
        found = str(counts[0]) if counts[0] == counts[-1] else f"{counts[0]}-{counts[-1]}"
        walls = [r["wall"] for r in of_tool]
        ratio, lines, late = "-", "-", "-"
        if tool == OURS:
            timed = [r["lines"] for r in of_tool if r["lines"]]
            if timed:
                lines = "%.0f / %.0f (median)" % tuple(
                    statistics.median(t[i] for t in timed) * 1e3 for i in (0, -1))
            late = "%+.0f (%+.0f to %+.0f)" % tuple(
                f(w * 1e3 - timeout_ms for w in walls) for f in (statistics.median, min, max))
        else:
            ratio = "%.2f" % (ours_wall / statistics.median(walls))
        print(ROW.format(case, label(tool, of_tool), found, ms(walls), ratio, lines, late))
    for tool in READERS:
        if tool not in runs:
            print(f"{case:<20} {tool:<24} not run: it does not ask WS-Discovery")
    every_run_ours = set.intersection(*(r["found"] for r in runs[OURS]))
    missed, split = [], set()
    for tool, of_tool in runs.items():
        scanners = set().union(*(r["scanners"] for r in of_tool))
        found = set.union(*(r["found"] for r in of_tool))
        protocols = collections.Counter(protocol for _, _, protocol in scanners)
        print(f"{'':<20}   {label(tool, of_tool)} found {len(found)}: "
              f"{ranges(n for n, _, _ in scanners)} at {ranges(a for _, a, _ in scanners)} "
              f"({', '.join(f'{p} {n}' for p, n in sorted(protocols.items()))})")
        if tool != OURS:
            missed += [(tool, scanner) for scanner in sorted(scanners)
                       if key(scanner) not in every_run_ours]
        elif key_name == "address":
            for r in of_tool:
                split |= {a for a, n in collections.Counter(map(key, r["scanners"])).items() if n > 1}
    for tool, (name, address, protocol) in missed:
        print(f"{'':<20}   MISSED: {tool} found \"{name}\" ({protocol}) at {address}, discover did "
              "not (in one run at least)")
    for address in sorted(split):
        print(f"{'':<20}   SPLIT: discover printed more than one line for {address} (in one run "
              "at least)")
    return 1 if missed or split else 0


def main():
    if len(sys.argv) >= 5 and sys.argv[1] == "run" and sys.argv[2] in READERS:
        run(sys.argv[2], sys.argv[3], sys.argv[4:])
        return 0
    if sys.argv[1:] == ["header"]:
        print(HEADER)
        return 0
    if len(sys.argv) == 6 and sys.argv[1] == "report" and sys.argv[5] in KEYS:
        return report(sys.argv[2], sys.argv[3], int(sys.argv[4]), sys.argv[5])
    sys.exit(__doc__)


if __name__ == "__main__":
    sys.exit(main())
