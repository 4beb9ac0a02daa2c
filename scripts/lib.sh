# shellcheck shell=bash
# What .ci/run and the scripts share: the package lists and their install, the stage timer, the
# fuzzers' CI time, the suite run without skips. Sourced after `set -euo pipefail`.

# The Debian packages CI and the README's commands need beyond a minimal Debian root
# (debootstrap's minbase), each named once, in the list of the script that installs it.
# scripts/check_commands.py fails when a script calls a program that is in neither.
# shellcheck disable=SC2034  # used by the scripts that source this file
{
  # The build of the tool and its packages: lumoraconf-query's discover is built with ldns,
  # libxml2 and libcurl, found by pkg-config; CPack wants dpkg-dev and file, so that dpkg-shlibdeps works out the
  # package's dependencies.
  lumora_build_packages=(cmake ninja-build g++ pkg-config libldns-dev libxml2-dev libcurl4-openssl-dev dpkg-dev file)
  # The whole test suite besides (test-all.sh; hardening.sh too): the man page tests want groff
  # and mandoc, the collection's tests ansible-core, and its sanity tests the Python modules
  # that ansible-test would otherwise download (voluptuous, yamllint, pylint, pycodestyle); the
  # discovery test runs real responders, avahi-daemon with its own dbus-daemon, and a hostile
  # one in python3, in network namespaces made with iproute2.
  lumora_test_packages=("${lumora_build_packages[@]}" libgtest-dev libgmock-dev sane-utils
                        iputils-ping bash-completion mount strace groff-base mandoc ansible-core
                        python3-venv python3-voluptuous yamllint pylint pycodestyle iproute2 dbus
                        avahi-daemon avahi-utils python3)
  # The benchmarks in bench/ (installed by test-all.sh, so the README's test line readies them).
  lumora_bench_packages=(libbenchmark-dev time)
  # hardening.sh: the runtimes of each release's default clang, for the sanitizers and the
  # fuzzers (clang itself comes with the analysers).
  lumora_hardening_packages=(libclang-rt-dev)
  # static-analysis.sh: each release's clang (whose compile commands clang-tidy reads),
  # clang-tidy and cppcheck.
  lumora_analysis_packages=(clang clang-tidy cppcheck)
  # What takes the committed tree: fresh-machine.sh clones it into the roots, reproducible.sh
  # builds it.
  lumora_source_packages=(git)
  # fresh-machine.sh on the host: it bootstraps the roots.
  lumora_fresh_machine_packages=(debootstrap)
  # reproducible.sh besides the build's own packages: reprotest, the tools of its variations
  # (disorderfs for the file order, faketime for the clock, every locale for the locale, sudo
  # for the host name). diffoscope shows what differs when the builds do; its minimal flavour,
  # because reprotest's recommends would bring in a desktop's worth of libraries.
  lumora_reproducible_packages=(reprotest disorderfs faketime sudo diffoscope-minimal locales-all)
  # check-scripts.sh: shellcheck, and the parser of the scripts (the checker is in python3).
  lumora_check_packages=(shellcheck shfmt)
  # Lists with a list of programs beside them (NAME_programs, the programs the scripts call)
  # are installed on demand by the one script that needs them, when a program is missing, and
  # never by CI (check-scripts.sh leaves them out; check_commands.py accepts their programs
  # uninstalled). bench/discovery.sh runs sane-airscan's airscan-discover beside discover.
  lumora_bench_peer_packages=(sane-airscan)
  lumora_bench_peer_programs=(airscan-discover)
}

# Installs the packages given, with the package lists refreshed first, without apt's
# recommends: a list names every package a script uses, and the recommends of a few (ansible-core,
# reprotest, avahi-daemon) would bring in hundreds more that no script calls, and minutes of
# install on a new machine. No service may start while they are installed: avahi-daemon would
# answer and send multicast DNS on the machine's own network, and dbus and avahi are only ever run
# by the discovery test, inside network namespaces of its own. Debian's maintainer scripts ask
# /usr/sbin/policy-rc.d before they start a service, and 101 means "not allowed"; one is put in
# place for the install when the machine has none, and removed after it.
lumora_apt_install() {
  local policy=/usr/sbin/policy-rc.d made_policy=0 status=0
  if [[ ! -e $policy ]]; then
    printf '#!/bin/sh\n# put here by lumoraconf scripts/lib.sh for one apt-get install\nexit 101\n' >"$policy"
    chmod 755 "$policy"
    made_policy=1
  fi
  # Waits up to ten minutes for another apt or dpkg run (unattended upgrades on a new machine)
  # instead of failing at once.
  { apt-get -o DPkg::Lock::Timeout=600 update &&
      DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y \
        --no-install-recommends "$@"; } || status=$?
  ((made_policy == 0)) || rm -f "$policy"
  return "$status"
}

# The stage timer of .ci/run, hardening.sh, fuzz.sh and fresh-machine.sh. A script sets
# lumora_stage_prefix (what its lines begin with), then either runs a command as a stage
# (lumora_stage NAME COMMAND...) or brackets one (lumora_stage_begin NAME ... lumora_stage_end);
# lumora_stage_report prints every stage's time and the whole run's, against the budget the script
# may set. A stage that fails leaves
# its name in lumora_stage_name, for the script's exit trap to say which one it was.
lumora_stage_prefix=${lumora_stage_prefix:-$(basename "$0")}
lumora_stage_name=
lumora_stage_start=$SECONDS
lumora_stage_times=()
lumora_stage_begin() {
  lumora_stage_name=$1
  lumora_stage_start=$SECONDS
  echo
  echo "=== $lumora_stage_prefix: $lumora_stage_name"
}
lumora_stage_end() {
  local took=$((SECONDS - lumora_stage_start))
  lumora_stage_times+=("$(printf '%-52s %5d s' "$lumora_stage_name" "$took")")
  echo "=== $lumora_stage_prefix: $lumora_stage_name took ${took}s"
  lumora_stage_name=
}
lumora_stage() {
  lumora_stage_begin "$1"
  shift
  "$@"
  lumora_stage_end
}
# Prints the stages' times and the whole run's (the time since the script began); when the
# script set a budget in seconds (lumora_stage_budget), also how the whole run stands against it,
# with a plain warning on standard error when it went over. Machines are noisy, so going over is
# a warning, not a failure.
lumora_stage_budget=${lumora_stage_budget:-}
lumora_stage_report() {
  local budget=$lumora_stage_budget
  printf '%s\n' "${lumora_stage_times[@]}"
  printf '%-52s %5d s\n' "whole run ($lumora_stage_prefix)" "$SECONDS"
  [[ -n $budget ]] || return 0
  if ((SECONDS > budget)); then
    printf '%s: WARNING: the whole run took %d s, over its budget of %d s by %d s\n' \
      "$lumora_stage_prefix" "$SECONDS" "$budget" "$((SECONDS - budget))" >&2
  else
    printf '%-52s %5d s (%d s to spare)\n' "budget" "$budget" "$((budget - SECONDS))"
  fi
}

# Seconds each fuzz target runs in CI (hardening.sh, over a copy of its checked-in corpus);
# scripts/fuzz.sh runs one for longer by hand. LUMORA_FUZZ_SECONDS overrides it.
lumora_fuzz_ci_seconds=${LUMORA_FUZZ_SECONDS:-30}

# Runs the whole suite of build directory $1 with $2 jobs, output shown and kept in $3; further
# arguments go to ctest (a label to leave out, -LE LABEL). Returns ctest's status, or 1 when any
# test was skipped or did not run: CI never skips.
lumora_ctest_without_skips() {
  local build=$1 jobs=$2 log=$3 status
  shift 3
  set +e
  ctest --test-dir "$build" --output-on-failure -j "$jobs" "$@" 2>&1 | tee "$log"
  status=${PIPESTATUS[0]}
  set -e
  if grep -qE "\(Skipped\)|\(Not Run\)|tests did not run" "$log"; then
    echo "$(basename "$0"): some tests were skipped or did not run; that counts as a failure" >&2
    return 1
  fi
  return "$status"
}

# Configures build-fuzz: clang, the libFuzzer targets, no tests, and compile commands for
# clang-tidy. Extra cmake arguments may follow.
lumora_configure_fuzz_build() {
  cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
        -DCMAKE_CXX_COMPILER=clang++ -DLUMORA_BUILD_FUZZERS=ON -DLUMORA_BUILD_TESTS=OFF \
        -DCMAKE_EXPORT_COMPILE_COMMANDS=ON "$@"
}

# Sets the array lumora_fuzz_flags to fuzz target $1's own libFuzzer flags (fuzz/TARGET.flags,
# one a line, comments and blank lines passed over); empty when it has none.
lumora_read_fuzz_flags() {
  # shellcheck disable=SC2034  # read by the caller
  lumora_fuzz_flags=()
  if [[ -f fuzz/$1.flags ]]; then
    mapfile -t lumora_fuzz_flags < <(grep -v -e '^#' -e '^[[:space:]]*$' "fuzz/$1.flags")
  fi
}
