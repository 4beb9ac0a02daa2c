#!/usr/bin/env bash
# Hardening checks, run from the project root as root on Debian 12 or 13 with the clang,
# clang-tidy and cppcheck each ships (CI runs it after scripts/test-all.sh on Debian 12, and
# scripts/fresh-machine.sh trixie in a fresh Debian 13 root):
#   a) the whole test suite, end-to-end tests included, built with AddressSanitizer and
#      UndefinedBehaviorSanitizer (build-sanitize); any failing or skipped test fails the run;
#   b) every libFuzzer target built with clang (build-fuzz) and run for a minute over a copy of
#      its checked-in corpus; any crash, leak or sanitizer report fails the run;
#   c) clang-tidy with the checked-in .clang-tidy over every source in src/;
#   d) cppcheck over src/.
# LUMORA_JOBS sets the build and test parallelism (default 2), LUMORA_FUZZ_SECONDS the time per
# fuzz target (default 60).
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/lib.sh
source scripts/lib.sh

jobs=${LUMORA_JOBS:-2}
fuzz_seconds=${LUMORA_FUZZ_SECONDS:-60}

# Versionless names: each release's default clang, its runtimes and clang-tidy; with what the
# whole suite needs, so this runs on a machine where test-all.sh did not.
lumora_apt_install "${lumora_test_packages[@]}" "${lumora_hardening_packages[@]}"

scratch=$(mktemp -d -p /var/tmp lumora-hardening.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
timings=()
stage_start=0
begin_stage() {
  echo
  echo "=== hardening: $1"
  stage_start=$SECONDS
}
end_stage() {
  local took=$((SECONDS - stage_start))
  timings+=("$(printf '%-34s %4d s' "$1" "$took")")
  echo "=== hardening: $1 took ${took}s"
}

# a) sanitizer build and the whole test suite.
begin_stage "sanitizer build and tests"
cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMORA_SANITIZE=ON \
      -DLUMORA_WERROR=ON
cmake --build build-sanitize -j "$jobs"
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
if ! lumora_ctest_without_skips build-sanitize "$jobs" "$scratch/ctest.log"; then
  echo "hardening: tests failed, or were skipped, under the sanitizers" >&2
  exit 1
fi
unset ASAN_OPTIONS UBSAN_OPTIONS
end_stage "sanitizer build and tests"

# b) fuzzers.
begin_stage "fuzzer build"
lumora_configure_fuzz_build -DLUMORA_WERROR=ON
targets=()
for dir in fuzz/corpus/*/; do
  targets+=("$(basename "$dir")")
done
cmake --build build-fuzz -j "$jobs" --target "${targets[@]/#/fuzz_}"
end_stage "fuzzer build"

mkdir -p build-fuzz/artifacts
for target in "${targets[@]}"; do
  begin_stage "fuzz $target"
  corpus="$scratch/corpus-$target"
  cp -r "fuzz/corpus/$target" "$corpus"
  log="build-fuzz/artifacts/$target.log"
  lumora_read_fuzz_flags "$target"
  if ! "build-fuzz/fuzz/fuzz_$target" -max_total_time="$fuzz_seconds" -print_final_stats=1 \
       -artifact_prefix="build-fuzz/artifacts/$target-" "${lumora_fuzz_flags[@]}" "$corpus" \
       > "$log" 2>&1; then
    tail -n 80 "$log"
    echo "hardening: fuzz target $target found a fault (input and $log under build-fuzz/artifacts/)" >&2
    exit 1
  fi
  grep -E '^#[0-9]+[[:space:]]+DONE|^Done|^stat::number_of_executed_units' "$log" || tail -n 5 "$log"
  end_stage "fuzz $target"
done

# c) clang-tidy over every product source, with the fuzz build's compile commands (clang).
begin_stage "clang-tidy"
clang-tidy --version
find src -name '*.cc' -print0 | sort -z |
  xargs -0 -n 4 -P "$jobs" clang-tidy -p build-fuzz --quiet 2>&1 | sed '/warnings generated\.$/d'
end_stage "clang-tidy"

# d) cppcheck.
begin_stage "cppcheck"
# cppcheck 2.11 and later stop following branches in long functions unless told to analyse
# them all (and say so in an information notice, which --error-exitcode counts); 2.10 (Debian
# 12) always follows them and has no such option.
cppcheck_level=()
# (The help is taken whole first: grep -q stops reading early, and pipefail would count the
# broken pipe as a failure.)
if grep -q -- '--check-level=' <<<"$(cppcheck --help)"; then
  cppcheck_level=(--check-level=exhaustive)
fi
cppcheck --version
cppcheck --enable=warning,performance,portability --error-exitcode=1 --inline-suppr --quiet \
         "${cppcheck_level[@]}" --std=c++20 --language=c++ -j "$jobs" -I src -I build-fuzz/generated src/
end_stage "cppcheck"

echo
echo "=== hardening: all stages passed"
printf '%s\n' "${timings[@]}"
