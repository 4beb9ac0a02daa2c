#!/bin/sh
# What starting the tool costs: `lumoraconf -i` (a command that does nothing) against a C
# program that does nothing, run alternately in blocks inside the sandbox.
#
#   bench/startup.sh [BUILD_DIR]      (default: build; needs -DLUMORA_BUILD_BENCHMARKS=ON)
#
# RUNS (default 1000) runs of each; prints the medians and their difference.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=bench/sandbox.sh
. "$here/sandbox.sh"

if [ "${1:-}" = --inside ]; then
  runs=$2 out=$3
  : > "$out/tool" ; : > "$out/trivial"
  block=100
  done_runs=0
  while [ "$done_runs" -lt "$runs" ]; do
    "$TIMED" -n "$block" "$TOOL" -i >> "$out/tool"
    "$TIMED" -n "$block" "$TRIVIAL" >> "$out/trivial"
    done_runs=$(( done_runs + block ))
  done
  exit 0
fi

sandbox_find_build "${1:-build}"
sandbox_create
runs=${RUNS:-1000}
mkdir -p "$SANDBOX/results"
export TOOL TRIVIAL TIMED
sandbox_run /bin/sh "$here/startup.sh" --inside "$runs" "$SANDBOX/results"
tool=$(awk '{ print $1 / 1e3 }' "$SANDBOX/results/tool" | median)
trivial=$(awk '{ print $1 / 1e3 }' "$SANDBOX/results/trivial" | median)
printf 'start-up, %d runs each: lumoraconf -i %.0f us, trivial C program %.0f us (medians); difference %.0f us\n' \
  "$runs" "$tool" "$trivial" "$(echo "$tool $trivial" | awk '{ print $1 - $2 }')"
