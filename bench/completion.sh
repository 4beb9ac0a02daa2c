#!/usr/bin/env bash
# How long one Tab takes with a large catalogue: the bash completion of model= after -a (the
# companion lumoraconf-query reads and descrambles the catalogue), of -r and of -l:, with
# MODELS catalogue lines (default 10000; every other one scrambled), as many registered
# devices and 100 saved labels. Each completion runs in a bash with bash-completion loaded,
# inside the sandbox of sandbox.sh, and is timed from the call of the completion function to
# its return, the companion's run included.
#
#   bench/completion.sh [BUILD_DIR]     (default: build; needs -DLUMORA_BUILD_BENCHMARKS=ON)
#
# RUNS (default 50) completions of each kind; prints the median and the slowest in ms.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=bench/sandbox.sh
. "$here/sandbox.sh"

if [ "${1:-}" = --inside ]; then
  runs=$2
  set +e
  # shellcheck source=/dev/null
  . /usr/share/bash-completion/bash_completion
  # shellcheck source=completion/lumoraconf.bash
  . "$here/../completion/lumoraconf.bash"
  compopt() { :; }
  # Splits a command line as readline does for these plain words: blanks separate words, and
  # '=' and ':' (word breaks by default) are words of their own.
  complete_once() {
    local line=$1 word='' ch i
    COMP_WORDS=()
    for ((i = 0; i < ${#line}; i++)); do
      ch=${line:i:1}
      case $ch in
        ' ') [ -n "$word" ] && COMP_WORDS+=("$word"); word= ;;
        = | :) [ -n "$word" ] && COMP_WORDS+=("$word"); COMP_WORDS+=("$ch"); word= ;;
        *) word+=$ch ;;
      esac
    done
    COMP_WORDS+=("$word")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE=$line
    COMP_POINT=${#line}
    COMPREPLY=()
    _lumoraconf lumoraconf "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  }
  for line in "lumoraconf -a name=x model=" "lumoraconf -a name=x model=LX-1" \
    "lumoraconf -a name=x model=LX-9999" "lumoraconf -r " "lumoraconf -r office-99" \
    "lumoraconf -l:"; do
    times=()
    for ((run = 0; run < runs; run++)); do
      start=$EPOCHREALTIME
      complete_once "$line"
      end=$EPOCHREALTIME
      times+=("$((10#${end/./} - 10#${start/./}))")
    done
    median=$(printf '%s\n' "${times[@]}" | median)
    slowest=$(printf '%s\n' "${times[@]}" | sort -n | tail -n 1)
    printf '%-40s %6d completions  median %6.1f ms  slowest %6.1f ms\n' "[$line]" \
      "${#COMPREPLY[@]}" "$(echo "$median" | awk '{ print $1 / 1e3 }')" \
      "$(echo "$slowest" | awk '{ print $1 / 1e3 }')"
  done
  exit 0
fi

sandbox_find_build "${1:-build}"
QUERY=$BUILD_DIR/lumoraconf-query
[ -x "$QUERY" ] || { echo "missing $QUERY" >&2; exit 2; }
[ -f /usr/share/bash-completion/bash_completion ] ||
  { echo "bash-completion is missing (apt-get install bash-completion)" >&2; exit 2; }
sandbox_create
models=${MODELS:-10000}
"$FIXTURE" catalogue "$SANDBOX/etc_opt/kelvane/scanner/lumora" "$models"
"$FIXTURE" devices "$SANDBOX/etc_opt/kelvane/scanner/lumora/lumsanenetdevice.cfg" "$models"
for ((label = 0; label < 100; label++)); do
  : >"$SANDBOX/etc_opt/kelvane/scanner/lumora/saved-$label.lumoraconf"
done
mkdir -p "$SANDBOX/bin"
ln -s "$QUERY" "$SANDBOX/bin/lumoraconf-query"
echo "completion with $models models, $models devices and 100 labels, ${RUNS:-50} runs each:"
sandbox_run env PATH="$SANDBOX/bin:/usr/local/bin:/usr/bin:/bin" \
  bash "$here/completion.sh" --inside "${RUNS:-50}"
