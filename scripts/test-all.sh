#!/usr/bin/env bash
# Installs what the build and the tests need, builds, runs the whole test suite (unit,
# end-to-end and the bash completion), then checks the man page and the Debian package. Fails
# when a test or a check fails or when any test was skipped. Run as root on Debian 12 or 13
# from the project root; the README's test line and CI both run exactly this. CPack needs the
# `file` utility (not on minimal systems) to let dpkg-shlibdeps work out the dependencies.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/lib.sh
source scripts/lib.sh

lumora_apt_install "${lumora_test_packages[@]}" libbenchmark-dev

build=${LUMORA_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMORA_WERROR=ON
cmake --build "$build" -j "$(nproc)"

log=$(mktemp -p /var/tmp lumora-ctest.XXXXXX)
trap 'rm -f "$log"' EXIT
status=0
lumora_ctest_without_skips "$build" "$(nproc)" "$log" || status=$?
checks=0
bash scripts/check-manpage.sh || checks=1
bash scripts/check-package.sh "$build" || checks=1
if [[ $status == 0 && $checks != 0 ]]; then
  status=1
fi
exit "$status"
