#!/bin/sh
# Peak resident memory of `lumoraconf -D3` (the detailed diagnosis, which loads and dumps the
# whole catalogue) with a catalogue of 100,000 model lines, every other one scrambled, in ten
# model files and the default file. No device is registered, so no ping runs; the diagnosis
# tools on PATH are fakes.
#
#   bench/memory.sh [BUILD_DIR]       (default: build; needs -DLUMORA_BUILD_BENCHMARKS=ON)
#
# RUNS (default 5) runs under /usr/bin/time -v; prints the median "Maximum resident set size".
set -eu
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=bench/sandbox.sh
. "$here/sandbox.sh"

if [ "${1:-}" = --inside ]; then
  runs=$2 out=$3
  "$FIXTURE" catalogue "$LUMORA_CONFIG_DIR" 100000
  # The dump must really list every model, or the figure would be for less work.
  dumped=$("$TOOL" -D3 2>/dev/null | grep -c '^MODEL:' || true)
  if [ "$dumped" -ne 100000 ]; then
    echo "the diagnosis dumped $dumped models, not 100000" >&2
    exit 1
  fi
  : > "$out/rss"
  run=0
  while [ "$run" -lt "$runs" ]; do
    /usr/bin/time -v -o "$out/time.txt" "$TOOL" -D3 > /dev/null 2>&1
    sed -n 's/^[[:space:]]*Maximum resident set size (kbytes): //p' "$out/time.txt" >> "$out/rss"
    run=$(( run + 1 ))
  done
  exit 0
fi

[ -x /usr/bin/time ] || { echo "needs GNU time (scripts/test-all.sh installs it)" >&2; exit 2; }
sandbox_find_build "${1:-build}"
sandbox_create
runs=${RUNS:-5}
mkdir -p "$SANDBOX/results"
export TOOL FIXTURE
sandbox_run /bin/sh "$here/memory.sh" --inside "$runs" "$SANDBOX/results"
rss=$(median < "$SANDBOX/results/rss")
printf 'lumoraconf -D3, 100,000 models, %d runs: peak RSS median %s KiB (%.1f MiB; target <= 64 MiB); all runs: %s\n' \
  "$runs" "$rss" "$(echo "$rss" | awk '{ print $1 / 1024 }')" "$(tr '\n' ' ' < "$SANDBOX/results/rss")"
