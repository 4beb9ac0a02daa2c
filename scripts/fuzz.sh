#!/usr/bin/env bash
# Runs one libFuzzer target for longer than scripts/hardening.sh does:
#   bash scripts/fuzz.sh TARGET [SECONDS] [--merge]
# TARGET is a directory name under fuzz/corpus (decode_line, device_file, config_check,
# catalogue, add_args, shell_words, mdns_response, wsd_message); SECONDS defaults to 600. The
# fuzzer works on a copy of the corpus under /var/tmp; with --merge the inputs that reach new
# coverage are merged back into fuzz/corpus/TARGET afterwards. Crashing inputs land in
# build-fuzz/artifacts/. Needs clang and libclang-rt-dev (scripts/hardening.sh installs them).
# Extra libFuzzer options can be given in LUMORA_FUZZ_OPTIONS, for example "-runs=10000000"; a
# target's own flags, if it has any, are in fuzz/TARGET.flags.
set -euo pipefail
cd "$(dirname "$0")/.."
lumora_stage_prefix=fuzz
# shellcheck source=scripts/lib.sh
source scripts/lib.sh

usage() {
  echo "usage: $0 TARGET [SECONDS] [--merge]" >&2
  exit 2
}
merge=0
args=()
for arg in "$@"; do
  case $arg in
    --merge) merge=1 ;;
    -*) usage ;;
    *) args+=("$arg") ;;
  esac
done
[[ ${#args[@]} -ge 1 && ${#args[@]} -le 2 ]] || usage
target=${args[0]}
seconds=${args[1]:-600}
[[ $seconds =~ ^[0-9]+$ ]] || usage
if [[ ! -d fuzz/corpus/$target ]]; then
  echo "fuzz: no such target: $target (have: $(find fuzz/corpus -mindepth 1 -maxdepth 1 -type d -printf '%f\n' | sort | tr '\n' ' '))" >&2
  exit 2
fi

lumora_stage_begin "fuzzer build"
if [[ ! -f build-fuzz/build.ninja ]]; then
  # shellcheck disable=SC2119  # no extra cmake arguments here
  lumora_configure_fuzz_build
fi
cmake --build build-fuzz -j "${LUMORA_JOBS:-2}" --target "fuzz_$target"
lumora_stage_end

# A target's own flags (fuzz/TARGET.flags, one a line) come first, so the extra options can
# override them.
lumora_read_fuzz_flags "$target"

work=$(mktemp -d -p /var/tmp "lumora-fuzz-$target.XXXXXX")
trap 'rm -rf "$work"' EXIT
cp -r "fuzz/corpus/$target/." "$work/"
mkdir -p build-fuzz/artifacts
lumora_stage_begin "fuzz $target (${seconds}s)"
# shellcheck disable=SC2086  # the extra options are meant to split into words
"build-fuzz/fuzz/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="build-fuzz/artifacts/$target-" "${lumora_fuzz_flags[@]}" ${LUMORA_FUZZ_OPTIONS:-} "$work"
lumora_stage_end

if [[ $merge == 1 ]]; then
  lumora_stage "merge into fuzz/corpus/$target" \
    "build-fuzz/fuzz/fuzz_$target" -merge=1 "fuzz/corpus/$target" "$work"
fi
lumora_stage_report
