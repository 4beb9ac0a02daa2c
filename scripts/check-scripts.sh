#!/usr/bin/env bash
# Checks the project's shell scripts, first in CI: shellcheck reports nothing (with the tree's
# .shellcheckrc), and CI can run on a new machine, where nothing was installed by hand. For the
# latter it installs every package list of scripts/lib.sh but those installed on demand, tests
# the checker on small trees made for it (tests/scripts/check_commands_test.sh), then checks that
# every program the scripts call is in a minimal Debian root or in those lists
# (scripts/check_commands.py says how). Run as root from anywhere.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/lib.sh
source scripts/lib.sh

# Everything the lists name, so that a program missing now is one that no list installs; not
# the lists installed on demand (those with a NAME_programs beside them), which CI never needs.
packages=()
while read -r list; do
  ! declare -p "${list%_packages}_programs" &>/dev/null || continue
  declare -n named=$list
  packages+=("${named[@]}")
  unset -n named
done < <(compgen -A variable | grep -E '^lumora_[a-z_]+_packages$')
lumora_apt_install "${packages[@]}"

mapfile -t scripts < <(python3 scripts/check_commands.py --list-scripts)
shellcheck --version | sed -n 2p
shellcheck "${scripts[@]}"
echo "shellcheck: ${#scripts[@]} scripts, nothing reported"

bash tests/scripts/check_commands_test.sh
python3 scripts/check_commands.py
