#!/bin/sh
# Whole-process cost of adding and removing a device, against the floor: the same shell
# pipeline, fsync and rename that any safe rewrite of the configuration file needs.
#
#   bench/process.sh [BUILD_DIR]      (default: build; needs -DLUMORA_BUILD_BENCHMARKS=ON)
#
# In a sandbox with a catalogue of 1,000 models and a configuration of 1,000 devices, each
# round runs the tool once and the floor once, alternating which goes first, and the script
# prints the median of the per-round ratios tool / floor. RUNS (default 40) sets the rounds.
# A third program in each round, the floor with a directory fsync after the rename, shows what
# the tool's own directory fsync costs. For add, a fourth, the floor that also does the add's
# own scratch-file steps (make it under /tmp, append the new line and a copy of the file, unlink
# it) with the directory fsync, shows what is left to the tool's reading of the catalogue and
# the device list. A fifth does that as well as read the catalogue files and the configuration
# file whole and allocate one record per line without parsing any: the least those two reads
# can cost.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=bench/sandbox.sh
. "$here/sandbox.sh"

if [ "${1:-}" = --inside ]; then
  shift
  runs=$1 out=$2
  cfg=$LUMORA_CONFIG_FILE
  "$FIXTURE" catalogue "$LUMORA_CONFIG_DIR" 1000
  "$FIXTURE" devices "$cfg" 1000
  scratch=/tmp/floor_scratch
  record_sizes=$("$FIXTURE" record-sizes)
  : > "$out/add" ; : > "$out/remove"

  time_tool_add() {
    "$TIMED" "$TOOL" -a "name=bench-add-$1" "model=LX-$(( $1 % 1000 ))Series" "ip=10.200.$(( $1 / 256 )).$(( $1 % 256 ))"
  }
  time_floor_add() {  # $1 round, $2 optional -d
    printf 'DEVICE=floor-add%s-%d , "LX-5Series" , 0x2e5a:0x1005 , IP-ADDRESS=10.201.0.%d \n' "${2:-}" "$1" "$(( $1 % 256 ))" > "$scratch"
    cat "$cfg" >> "$scratch"
    "$TIMED" "$FLOOR" ${2:+"$2"} add "$scratch" "$cfg"
    rm -f "$scratch"
  }
  time_scratch_add() {  # $1 round
    "$TIMED" "$FLOOR" -d scratch-add "$(printf 'DEVICE=floor-scratch-%d , "LX-5Series" , 0x2e5a:0x1005 , IP-ADDRESS=10.202.0.%d ' "$1" "$(( $1 % 256 ))")" "$cfg"
  }
  time_loaded_add() {  # $1 round
    # shellcheck disable=SC2086  # record_sizes is a list of numbers, split into arguments
    "$TIMED" "$FLOOR" -d loaded-add "$(printf 'DEVICE=floor-loaded-%d , "LX-5Series" , 0x2e5a:0x1005 , IP-ADDRESS=10.203.0.%d ' "$1" "$(( $1 % 256 ))")" \
      "$cfg" "$LUMORA_CONFIG_DIR/models" "$LUMORA_CONFIG_DIR/Lumsane.ini" $record_sizes
  }
  time_tool_remove() {
    "$TIMED" "$TOOL" -r "office-$(( 3 * $1 ))"
  }
  time_floor_remove() {  # $1 round, $2 optional -d
    cp "$cfg" "$scratch"
    if [ -n "${2:-}" ]; then name=office-$(( 3 * $1 + 2 )); else name=office-$(( 3 * $1 + 1 )); fi
    "$TIMED" "$FLOOR" ${2:+"$2"} remove "$scratch" "$name" "$cfg"
    rm -f "$scratch"
  }

  for kind in add remove; do
    round=1
    while [ "$round" -le "$runs" ]; do
      s=0 l=0
      if [ $(( round % 2 )) -eq 1 ]; then
        t=$(time_tool_$kind "$round"); f=$(time_floor_$kind "$round"); d=$(time_floor_$kind "$round" -d)
        [ "$kind" = remove ] || { s=$(time_scratch_add "$round"); l=$(time_loaded_add "$round"); }
      else
        [ "$kind" = remove ] || { l=$(time_loaded_add "$round"); s=$(time_scratch_add "$round"); }
        d=$(time_floor_$kind "$round" -d); f=$(time_floor_$kind "$round"); t=$(time_tool_$kind "$round")
      fi
      echo "$t $f $d $s $l" >> "$out/$kind"
      round=$(( round + 1 ))
    done
  done

  # Every run must have done its work, or the timings mean nothing.
  added=$(grep -c '^DEVICE=bench-add-' "$cfg" || true)
  floor_added=$(grep -c '^DEVICE=floor-add-' "$cfg" || true)
  scratch_added=$(grep -c '^DEVICE=floor-scratch-' "$cfg" || true)
  loaded_added=$(grep -c '^DEVICE=floor-loaded-' "$cfg" || true)
  scratch_left=$(find /tmp -maxdepth 1 -name 'lumsane_tempfile5_*' | wc -l)
  left=0
  round=1
  while [ "$round" -le "$runs" ]; do
    for n in $(( 3 * round )) $(( 3 * round + 1 )) $(( 3 * round + 2 )); do
      if grep -q "^DEVICE=office-$n " "$cfg"; then left=$(( left + 1 )); fi
    done
    round=$(( round + 1 ))
  done
  if [ "$added" -ne "$runs" ] || [ "$floor_added" -ne $(( 2 * runs )) ] || [ "$left" -ne 0 ] ||
     [ "$scratch_added" -ne "$runs" ] || [ "$loaded_added" -ne "$runs" ] || [ "$scratch_left" -ne 0 ]; then
    echo "runs did not do their work: $added tool adds, $floor_added floor adds," \
         "$scratch_added scratch-floor adds, $loaded_added loaded-floor adds, $left names left," \
         "$scratch_left scratch files left" >&2
    exit 1
  fi
  exit 0
fi

sandbox_find_build "${1:-build}"
sandbox_create
runs=${RUNS:-40}
[ "$runs" -ge 30 ] || { echo "RUNS must be at least 30" >&2; exit 2; }
mkdir -p "$SANDBOX/results"
export TOOL FLOOR TIMED FIXTURE
sandbox_run /bin/sh "$here/process.sh" --inside "$runs" "$SANDBOX/results"

# Median over the rounds in FILE (one line of timings in ns a round) of the awk expression EXPR.
column_median() {
  awk "{ print $2 }" "$1" | median
}

for kind in add remove; do
  file=$SANDBOX/results/$kind
  tool=$(column_median "$file" '$1 / 1e6')
  floor=$(column_median "$file" '$2 / 1e6')
  floor_d=$(column_median "$file" '$3 / 1e6')
  ratio=$(column_median "$file" '$1 / $2')
  ratio_d=$(column_median "$file" '$1 / $3')
  dir_cost=$(column_median "$file" '$3 / $2')
  printf '%-6s %d rounds: tool %.3f ms, floor %.3f ms, floor+dir fsync %.3f ms (medians)\n' \
    "$kind" "$runs" "$tool" "$floor" "$floor_d"
  printf '%-6s median ratio tool/floor %.3f (target <= 1.15); tool/(floor+dir fsync) %.3f; (floor+dir fsync)/floor %.3f\n' \
    "$kind" "$ratio" "$ratio_d" "$dir_cost"
  if [ "$kind" = add ]; then
    scratch=$(column_median "$file" '$4 / 1e6')
    ratio_s=$(column_median "$file" '$1 / $4')
    ratio_sf=$(column_median "$file" '$4 / $3')
    printf '%-6s floor+scratch-file steps+dir fsync %.3f ms; tool/that %.3f; that/(floor+dir fsync) %.3f\n' \
      "$kind" "$scratch" "$ratio_s" "$ratio_sf"
    loaded=$(column_median "$file" '$5 / 1e6')
    ratio_l=$(column_median "$file" '$1 / $5')
    ratio_ls=$(column_median "$file" '$5 / $4')
    printf '%-6s that+reading the files and allocating the records unparsed %.3f ms; tool/that %.3f; that/(scratch floor) %.3f\n' \
      "$kind" "$loaded" "$ratio_l" "$ratio_ls"
  fi
done
