#!/bin/sh
# Cost of removing many devices in one command: "-r" with 1, 100 and 1,000 names on a
# configuration of 1,000 devices. All names go into one sed expression, so the cost should
# follow the file, not names x lines.
#
#   bench/remove_names.sh [BUILD_DIR]   (default: build; needs -DLUMORA_BUILD_BENCHMARKS=ON)
#
# Each round restores the 1,000-device file and times the tool once per name count, the
# order of the counts turning from round to round; the script prints the median time of each
# count and the median of the per-round ratios to one name. RUNS (default 30) sets the rounds.
# The names office-0 to office-999 share most of their bytes, which the expression's tree of
# shared bytes folds; a second file of 1,000 random names of 4 to 16 letters, digits, - and _
# (1 and 1,000 of them removed) shows the cost when they share little.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=bench/sandbox.sh
. "$here/sandbox.sh"

counts="1 100 1000"

if [ "${1:-}" = --inside ]; then
  shift
  runs=$1 out=$2
  cfg=$LUMORA_CONFIG_FILE
  "$FIXTURE" devices "$cfg" 1000
  cp "$cfg" /tmp/devices.orig
  # Names spread evenly over the file, so the removed lines are not all at its start.
  for n in $counts; do
    i=0 names=""
    while [ "$i" -lt "$n" ]; do
      names="$names office-$(( i * 1000 / n ))"
      i=$(( i + 1 ))
    done
    echo "$names" > "$out/names-$n"
  done
  # The same devices under random names (a fixed seed, so every run times the same file).
  awk 'BEGIN { srand(2121); chars = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_" }
       { name = ""; n = 4 + int(rand() * 13)
         for (i = 0; i < n; i++) name = name substr(chars, 1 + int(rand() * 64), 1)
         sub(/^DEVICE=office-[0-9]+ /, "DEVICE=" name "-" NR " "); print }' /tmp/devices.orig > /tmp/devices.random
  sed -n 's/^DEVICE=\([^ ]*\) .*/\1/p' /tmp/devices.random | tr '\n' ' ' > "$out/random-1000"
  sed -n '500s/^DEVICE=\([^ ]*\) .*/\1/p' /tmp/devices.random > "$out/random-1"
  round=1 t_1=0 t_100=0 t_1000=0 r_1=0 r_1000=0
  while [ "$round" -le "$runs" ]; do
    case $(( round % 3 )) in
      0) order="1 100 1000" ;;
      1) order="100 1000 1" ;;
      *) order="1000 1 100" ;;
    esac
    for n in $order; do
      cp /tmp/devices.orig "$cfg"
      # shellcheck disable=SC2046  # the names are words without blanks, one argument each
      t=$("$TIMED" "$TOOL" -r $(cat "$out/names-$n"))
      # Every run must have done its work, or the timing means nothing.
      left=$(grep -c '^DEVICE=' "$cfg" || true)
      if [ "$left" -ne $(( 1000 - n )) ]; then
        echo "-r with $n names left $left of 1000 devices" >&2
        exit 1
      fi
      case $n in
        1) t_1=$t ;;
        100) t_100=$t ;;
        *) t_1000=$t ;;
      esac
    done
    for n in 1 1000; do
      cp /tmp/devices.random "$cfg"
      # shellcheck disable=SC2046  # as above
      t=$("$TIMED" "$TOOL" -r $(cat "$out/random-$n"))
      left=$(grep -c '^DEVICE=' "$cfg" || true)
      if [ "$left" -ne $(( 1000 - n )) ]; then
        echo "-r with $n random names left $left of 1000 devices" >&2
        exit 1
      fi
      if [ "$n" = 1 ]; then r_1=$t; else r_1000=$t; fi
    done
    echo "$t_1 $t_100 $t_1000 $r_1 $r_1000" >> "$out/times"
    round=$(( round + 1 ))
  done
  exit 0
fi

sandbox_find_build "${1:-build}"
sandbox_create
runs=${RUNS:-30}
[ "$runs" -ge 10 ] || { echo "RUNS must be at least 10" >&2; exit 2; }
mkdir -p "$SANDBOX/results"
export TOOL TIMED FIXTURE
sandbox_run /bin/sh "$here/remove_names.sh" --inside "$runs" "$SANDBOX/results"

file=$SANDBOX/results/times
one=$(awk '{ print $1 / 1e6 }' "$file" | median)
hundred=$(awk '{ print $2 / 1e6 }' "$file" | median)
thousand=$(awk '{ print $3 / 1e6 }' "$file" | median)
ratio_100=$(awk '{ print $2 / $1 }' "$file" | median)
ratio_1000=$(awk '{ print $3 / $1 }' "$file" | median)
printf 'remove from 1,000 devices, %d rounds (medians): 1 name %.3f ms, 100 names %.3f ms, 1,000 names %.3f ms\n' \
  "$runs" "$one" "$hundred" "$thousand"
printf 'median ratio to one name: 100 names %.3f, 1,000 names %.3f\n' "$ratio_100" "$ratio_1000"
random_one=$(awk '{ print $4 / 1e6 }' "$file" | median)
random_thousand=$(awk '{ print $5 / 1e6 }' "$file" | median)
random_ratio=$(awk '{ print $5 / $4 }' "$file" | median)
printf 'random names (medians): 1 name %.3f ms, 1,000 names %.3f ms; median ratio %.3f\n' \
  "$random_one" "$random_thousand" "$random_ratio"
