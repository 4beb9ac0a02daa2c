#!/usr/bin/env bash
# Hardening checks, run from the project root as root on Debian 12 or 13 (CI runs it once, on
# Debian 12, after the README's lines on a fresh Debian 12 root):
#   a) the whole test suite, end-to-end tests included, built with AddressSanitizer and
#      UndefinedBehaviorSanitizer (build-sanitize), but for the tests labelled "static", which
#      run no program built here (the collection's sanity tests, the documents; the README's
#      test line, scripts/test-all.sh, runs them); any failing or skipped test fails the run;
#   b) every libFuzzer target built with clang (build-fuzz) and run over a copy of its
#      checked-in corpus for lumora_fuzz_ci_seconds (scripts/lib.sh); any crash, leak or
#      sanitizer report fails the run;
#   c) the static analysers, clang-tidy and cppcheck (scripts/static-analysis.sh, which CI
#      also runs on Debian 13 in a fresh root).
# LUMORA_JOBS sets the build and test parallelism (default 2), LUMORA_FUZZ_SECONDS the time per
# fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
lumora_stage_prefix=hardening
# shellcheck source=scripts/lib.sh
source scripts/lib.sh

jobs=${LUMORA_JOBS:-2}

# Versionless names: each release's default clang and its runtimes; with what the whole suite
# needs, so this runs on a machine where test-all.sh did not.
lumora_apt_install "${lumora_test_packages[@]}" "${lumora_hardening_packages[@]}" \
  "${lumora_analysis_packages[@]}"

scratch=$(mktemp -d -p /var/tmp lumora-hardening.XXXXXX)
trap 'rm -rf "$scratch"' EXIT

# a) sanitizer build and the whole test suite.
lumora_stage_begin "sanitizer build and tests"
cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMORA_SANITIZE=ON \
      -DLUMORA_WERROR=ON
cmake --build build-sanitize -j "$jobs"
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
if ! lumora_ctest_without_skips build-sanitize "$jobs" "$scratch/ctest.log" -LE '^static$'; then
  echo "hardening: tests failed, or were skipped, under the sanitizers" >&2
  exit 1
fi
unset ASAN_OPTIONS UBSAN_OPTIONS
lumora_stage_end

# b) fuzzers.
lumora_stage_begin "fuzzer build"
lumora_configure_fuzz_build -DLUMORA_WERROR=ON
targets=()
for dir in fuzz/corpus/*/; do
  targets+=("$(basename "$dir")")
done
cmake --build build-fuzz -j "$jobs" --target "${targets[@]/#/fuzz_}"
lumora_stage_end

mkdir -p build-fuzz/artifacts
# Runs fuzz target $1 over a copy of its corpus, its output in build-fuzz/artifacts/TARGET.log.
run_fuzz_target() {
  local target=$1
  local corpus="$scratch/corpus-$target"
  cp -r "fuzz/corpus/$target" "$corpus"
  lumora_read_fuzz_flags "$target"
  "build-fuzz/fuzz/fuzz_$target" -max_total_time="$lumora_fuzz_ci_seconds" \
    -print_final_stats=1 -artifact_prefix="build-fuzz/artifacts/$target-" \
    "${lumora_fuzz_flags[@]}" "$corpus" > "build-fuzz/artifacts/$target.log" 2>&1
}
# A fuzzer uses one processor: as many run at once as there are jobs, each for its full time.
lumora_stage_begin "fuzz ${#targets[@]} targets, $jobs at a time (${lumora_fuzz_ci_seconds}s each)"
for ((first = 0; first < ${#targets[@]}; first += jobs)); do
  batch=("${targets[@]:first:jobs}")
  pids=()
  for target in "${batch[@]}"; do
    run_fuzz_target "$target" &
    pids+=("$!")
  done
  for i in "${!batch[@]}"; do
    target=${batch[i]}
    log="build-fuzz/artifacts/$target.log"
    if ! wait "${pids[i]}"; then
      kill "${pids[@]}" 2>/dev/null || true
      tail -n 80 "$log"
      echo "hardening: fuzz target $target found a fault (input and $log under build-fuzz/artifacts/)" >&2
      exit 1
    fi
    echo "fuzz $target:"
    grep -E '^#[0-9]+[[:space:]]+DONE|^Done|^stat::number_of_executed_units' "$log" || tail -n 5 "$log"
  done
done
lumora_stage_end

# c) clang-tidy and cppcheck.
lumora_stage "static analysis (scripts/static-analysis.sh)" bash scripts/static-analysis.sh

echo
echo "=== hardening: all stages passed"
lumora_stage_report
