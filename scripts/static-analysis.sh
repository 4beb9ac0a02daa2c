#!/usr/bin/env bash
# The static analysers of the release it runs on, over every product source in src/: clang-tidy
# with the checked-in .clang-tidy (the compile commands of a clang build, configured only: the
# analysis needs the commands and the generated headers, not the objects), then cppcheck. Any
# finding fails the run. Run from the project root as root on Debian 12 or 13: CI runs it on
# Debian 12 from scripts/hardening.sh, and on Debian 13 in scripts/fresh-machine.sh trixie's
# fresh root, where each release's analysers find what the other's do not.
# LUMORA_JOBS sets the parallelism (default 2).
set -euo pipefail
cd "$(dirname "$0")/.."
lumora_stage_prefix=static-analysis
# shellcheck source=scripts/lib.sh
source scripts/lib.sh

jobs=${LUMORA_JOBS:-2}
lumora_apt_install "${lumora_build_packages[@]}" "${lumora_analysis_packages[@]}"

lumora_stage_begin "clang-tidy"
# The fuzz build's configuration: clang, and every source with its flags.
lumora_configure_fuzz_build -DLUMORA_WERROR=ON >/dev/null
clang-tidy --version
# A finding is an error (WarningsAsErrors in .clang-tidy), so xargs fails with clang-tidy.
find src -name '*.cc' -print0 | sort -z |
  xargs -0 -n 4 -P "$jobs" clang-tidy -p build-fuzz --quiet 2>&1 | sed '/warnings generated\.$/d'
lumora_stage_end

lumora_stage_begin "cppcheck"
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
lumora_stage_end

echo "=== static-analysis: clang-tidy and cppcheck report nothing"
lumora_stage_report
