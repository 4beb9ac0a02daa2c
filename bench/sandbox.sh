# shellcheck shell=sh
# Shared by the whole-process scripts; sourced, not run.
#
# The tool has its paths built in under /etc/opt, /opt and /tmp. Each script therefore makes a
# private directory under /var/tmp and runs the tool in a private mount namespace in which that
# directory's etc_opt, opt and tmp are bind-mounted over those three; the host's own
# directories are never touched. Fake sane-find-scanner, scanimage and ping stand first on PATH.

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

# Makes the private directory and removes it when the script ends.
sandbox_create() {
  SANDBOX=$(mktemp -d /var/tmp/lumora-bench-XXXXXX) || exit 1
  trap 'rm -rf "$SANDBOX"' EXIT
  trap 'exit 130' INT TERM
  mkdir -p "$SANDBOX/etc_opt/kelvane/scanner/lumora" "$SANDBOX/opt" "$SANDBOX/tmp" "$SANDBOX/fakebin"
  chmod 1777 "$SANDBOX/tmp"
  for fake in sane-find-scanner scanimage ping; do
    printf '#!/bin/sh\nexit 0\n' > "$SANDBOX/fakebin/$fake"
    chmod 755 "$SANDBOX/fakebin/$fake"
  done
}

# Runs a command inside the namespace (root, or a user namespace otherwise; see
# tests/sandbox/private_mounts.h), with the fakes first on PATH.
sandbox_run() {
  "$PRIVATE_NS" /bin/sh -c '
    root=$1
    shift
    mount --bind "$root/etc_opt" /etc/opt && mount --bind "$root/opt" /opt &&
      mount --bind "$root/tmp" /tmp || exit 125
    PATH=$root/fakebin:/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
    export PATH
    exec "$@"' sh "$SANDBOX" "$@"
}

# Median of the numbers on standard input, one a line.
median() {
  sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) exit 1; print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
