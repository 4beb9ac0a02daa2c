# shellcheck shell=sh
# Shared by the whole-process scripts; sourced, not run.
#
# The tool has its paths built in under /etc/opt, /opt and /tmp. Each script therefore runs it in
# the tests' shell sandbox (tests/sandbox/sandbox.sh): a scratch tree under /var/tmp whose
# etc_opt, opt and tmp are bind-mounted over those three in a private mount namespace; the
# host's own directories are never touched. Fake sane-find-scanner, scanimage and ping stand
# first on PATH.

sandbox_lib=$(cd "$(dirname "$0")/../tests/sandbox" && pwd)/sandbox.sh
# shellcheck source=tests/sandbox/sandbox.sh
. "$sandbox_lib"

# shellcheck disable=SC2034  # read by the scripts that source this file
LUMORA_CONFIG_DIR=/etc/opt/kelvane/scanner/lumora
# shellcheck disable=SC2034
LUMORA_CONFIG_FILE=/etc/opt/kelvane/scanner/lumora//lumsanenetdevice.cfg

# Finds the programs of a build made with -DLUMORA_BUILD_BENCHMARKS=ON.
sandbox_find_build() {
  BUILD_DIR=$(cd "${1:-build}" 2>/dev/null && pwd) || { echo "no build directory ${1:-build}" >&2; exit 2; }
  TOOL=$BUILD_DIR/lumoraconf
  FLOOR=$BUILD_DIR/bench/lumora_floor
  TIMED=$BUILD_DIR/bench/lumora_timed_run
  FIXTURE=$BUILD_DIR/bench/lumora_make_fixture
  TRIVIAL=$BUILD_DIR/bench/lumora_trivial
  PRIVATE_NS=$BUILD_DIR/bench/lumora_bench_private_ns
  for program in "$TOOL" "$FLOOR" "$TIMED" "$FIXTURE" "$TRIVIAL" "$PRIVATE_NS"; do
    [ -x "$program" ] || { echo "missing $program (configure with -DLUMORA_BUILD_BENCHMARKS=ON)" >&2; exit 2; }
  done
  case $BUILD_DIR in
    /tmp|/tmp/*|/opt|/opt/*|/etc/opt|/etc/opt/*) echo "the build must not lie under /tmp, /opt or /etc/opt" >&2; exit 2 ;;
  esac
}

# Makes the scratch tree, SANDBOX, and removes it when the script ends.
sandbox_create() {
  sandbox_make bench || exit 1
  SANDBOX=$SANDBOX_ROOT
  trap sandbox_remove EXIT
  trap 'exit 130' INT TERM
  mkdir -p "$SANDBOX/fakebin"
  for fake in sane-find-scanner scanimage ping; do
    printf '#!/bin/sh\nexit 0\n' > "$SANDBOX/fakebin/$fake"
    chmod 755 "$SANDBOX/fakebin/$fake"
  done
}

# Runs a command inside the namespace (root, or a user namespace otherwise; see
# tests/sandbox/private_mounts.h), with the tree mounted and the fakes first on PATH.
sandbox_run() {
  sandbox_enter "$PRIVATE_NS" /bin/sh -c '
    lib=$1 root=$2
    shift 2
    . "$lib"
    SANDBOX_ROOT=$root
    sandbox_mount bench /etc/opt /opt /tmp || exit 125
    PATH=$SANDBOX_ROOT/fakebin:/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
    export PATH
    exec "$@"' sh "$sandbox_lib" "$SANDBOX" "$@"
}

# Median of the numbers on standard input, one a line.
median() {
  sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) exit 1; print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
