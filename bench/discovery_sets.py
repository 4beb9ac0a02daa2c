#!/usr/bin/env python3
"""The timing and the found sets of bench/discovery.sh: one run of a discovery tool, and the table.

  discovery_sets.py run TOOL RECORDS COMMAND...
      runs COMMAND (already inside the querier's namespace), times it from its start to its
      exit and to each line, reads the scanners it printed as TOOL prints them (discover:
      JSON lines; avahi-browse: the resolved lines of -p; airscan-discover: its [devices]
      section) and appends one JSON record to RECORDS. Fails when COMMAND fails.
  discovery_sets.py header
      prints the head of the table.
  discovery_sets.py report RECORDS CASE TIMEOUT_MS
      prints the table rows of CASE from RECORDS (a tool's found/run is a range when its runs
      differ), then the scanners each tool found over its runs, and every scanner a peer found
      that discover did not find in every run; exits 1 when there is one.

A scanner is its instance name and IPv4 address: two tools found the same scanner when both
agree. The peers name an instance as DNS-SD has it; airscan-discover prints the instance
name as the name of its device and its address in the URL.
"""

import json
import re
import statistics
import subprocess
import sys
import time

OURS = "discover"


def from_discover(lines):
    found = set()
    for line in lines:
        if line.strip():
            record = json.loads(line)
            found.add((record["instance"], record["ip"]))
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
            found.add((unescape_label(fields[3]), fields[7]))
    return found


def from_airscan(lines):
    # "  NAME = http://ADDRESS:PORT/PATH/, eSCL", in the [devices] section
    found = set()
    for line in lines:
        match = re.match(r"\s+(.*?)\s*=\s*https?://([0-9.]+)[:/]", line)
        if match:
            found.add((match.group(1), match.group(2)))
    return found


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
    found = sorted(READERS[tool](lines))
    with open(records, "a", encoding="utf-8") as out:
        out.write(json.dumps({"tool": tool, "wall": wall, "lines": times, "found": found}) + "\n")


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


ROW = "{:<20} {:<17} {:>9} {:<20} {:>9}  {:<26} {}"
HEADER = ROW.format("case", "tool", "found/run", "wall ms (min-max)", "ours/peer",
                    "first / last line ms", "exit - timeout, ms")


def report(records, case, timeout_ms):
    runs = {}
    with open(records, encoding="utf-8") as source:
        for line in source:
            record = json.loads(line)
            record["found"] = set(map(tuple, record["found"]))
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
        print(ROW.format(case, tool, found, ms(walls), ratio, lines, late))
    every_run_ours = set.intersection(*(r["found"] for r in runs[OURS]))
    missed = []
    for tool, of_tool in runs.items():
        found = set.union(*(r["found"] for r in of_tool))
        print(f"{'':<20}   {tool} found {len(found)}: {ranges(n for n, _ in found)} "
              f"at {ranges(a for _, a in found)}")
        if tool != OURS:
            missed += [(tool, scanner) for scanner in sorted(found - every_run_ours)]
    for tool, (name, address) in missed:
        print(f"{'':<20}   MISSED: {tool} found \"{name}\" at {address}, discover did not "
              "(in one run at least)")
    return 1 if missed else 0


def main():
    if len(sys.argv) >= 5 and sys.argv[1] == "run" and sys.argv[2] in READERS:
        run(sys.argv[2], sys.argv[3], sys.argv[4:])
        return 0
    if sys.argv[1:] == ["header"]:
        print(HEADER)
        return 0
    if len(sys.argv) == 5 and sys.argv[1] == "report":
        return report(sys.argv[2], sys.argv[3], int(sys.argv[4]))
    sys.exit(__doc__)


if __name__ == "__main__":
    sys.exit(main())
