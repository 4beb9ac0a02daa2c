# shellcheck shell=bash
# What test-all.sh, hardening.sh, fuzz.sh and reproducible.sh share. Sourced from the project root, after
# `set -euo pipefail`.

# The Debian packages that build the tool and its package (CPack needs dpkg-dev and the `file`
# utility to let dpkg-shlibdeps work out the dependencies).
# shellcheck disable=SC2034  # used by the scripts that source this file
lumora_build_packages=(cmake ninja-build g++ dpkg-dev file)
# The Debian packages the whole test suite needs besides (the man page tests want groff and
# mandoc, the collection's test ansible-core); each script adds its own.
# shellcheck disable=SC2034  # used by the scripts that source this file
lumora_test_packages=("${lumora_build_packages[@]}" libgtest-dev libgmock-dev sane-utils
                      iputils-ping bash-completion mount strace groff-base mandoc ansible-core)

# What scripts/reproducible.sh needs besides the build's own packages: git (it builds the
# committed tree), reprotest, the tools of its variations (disorderfs for the file order,
# faketime for the clock, every locale for the locale, sudo for the host name). diffoscope shows
# what differs when the builds do; its minimal flavour, because reprotest's recommends would
# bring in a desktop's worth of libraries.
# shellcheck disable=SC2034  # used by the scripts that source this file
lumora_reproducible_packages=(git reprotest disorderfs faketime sudo diffoscope-minimal
                              locales-all)

# Installs the packages given, with the package lists refreshed first.
lumora_apt_install() {
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y "$@"
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
