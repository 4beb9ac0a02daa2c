#!/usr/bin/env bash
# Installs what the build and the tests need, builds, and runs the whole test suite (unit and
# end-to-end). Fails when a test fails or when any test was skipped. Run as root on Debian 12
# from the project root; the README's test line and CI both run exactly this.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev)
apt-get update
DEBIAN_FRONTEND=noninteractive apt-get install -y "${packages[@]}"

build=${LUMORA_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMORA_WERROR=ON
cmake --build "$build" -j "$(nproc)"

log=$(mktemp -p /var/tmp lumora-ctest.XXXXXX)
trap 'rm -f "$log"' EXIT
set +e
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" 2>&1 | tee "$log"
status=${PIPESTATUS[0]}
set -e
if grep -qE "\(Skipped\)|\(Not Run\)|tests did not run" "$log"; then
  echo "test-all: some tests were skipped or did not run; that counts as a failure" >&2
  exit 1
fi
exit "$status"
