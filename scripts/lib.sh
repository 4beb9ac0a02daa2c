# shellcheck shell=bash
# What test-all.sh, hardening.sh, fuzz.sh and reproducible.sh share. Sourced from the project root, after
# `set -euo pipefail`.

# The Debian packages CI and the README's commands need beyond a minimal Debian root
# (debootstrap's minbase), each named once, in the list of the script that installs it.
# scripts/check_commands.py fails when a script calls a program that is in neither.
# shellcheck disable=SC2034  # used by the scripts that source this file
{
  # The build of the tool and its packages: lumoraconf-query's discover is built with ldns,
  # found by pkg-config; CPack wants dpkg-dev and file, so that dpkg-shlibdeps works out the
  # package's dependencies.
  lumora_build_packages=(cmake ninja-build g++ pkg-config libldns-dev dpkg-dev file)
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
  # hardening.sh: each release's default clang with its runtimes, clang-tidy and cppcheck.
  lumora_hardening_packages=(clang libclang-rt-dev clang-tidy cppcheck)
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
}

# Installs the packages given, with the package lists refreshed first. No service may start
# while they are installed: avahi-daemon would answer and send multicast DNS on the machine's
# own network, and dbus and avahi are only ever run by the discovery test, inside network
# namespaces of its own. Debian's maintainer scripts ask /usr/sbin/policy-rc.d before they
# start a service, and 101 means "not allowed"; one is put in place for the install when the
# machine has none, and removed after it.
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
      DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y "$@"; } ||
    status=$?
  ((made_policy == 0)) || rm -f "$policy"
  return "$status"
}

# Runs the whole suite of build directory $1 with $2 jobs, output shown and kept in $3.
# Returns ctest's status, or 1 when any test was skipped or did not run: CI never skips.
lumora_ctest_without_skips() {
  local build=$1 jobs=$2 log=$3 status
  set +e
  ctest --test-dir "$build" --output-on-failure -j "$jobs" 2>&1 | tee "$log"
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
