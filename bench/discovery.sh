#!/usr/bin/env bash
# How long `lumoraconf-query discover` takes to print its first scanner and to exit, with 1 and
# with 20 responders, each a real avahi-daemon (with its own dbus-daemon) publishing one eSCL
# scanner, in network namespaces of their own bridged to the querier's. Nothing is sent on the
# machine's own interfaces (see tests/discovery/netns_lab.sh).
#
#   bench/discovery.sh [BUILD_DIR]    (default: build; a test build: it needs lumoraconf-query
#                                      and lumora_private_ns; root)
#
# RUNS (default 10) runs for each count, with the default timeout of 2 s; prints the median,
# lowest and highest times, counted from the start of the guarded command (whose own cost, the
# start of `true` through the same guard, is printed first). The first line comes at the first
# tenth-of-a-second beat after the answers are in, the exit when the timeout is up.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
# shellcheck source=tests/sandbox/sandbox.sh
source "$root/tests/sandbox/sandbox.sh"

if [[ ${1-} != --inside ]]; then
  build=$(cd "${1:-build}" && pwd) || exit 1
  query=$build/lumoraconf-query
  private_ns=$build/tests/lumora_private_ns
  [[ -x $query && -x $private_ns ]] ||
    { echo "discovery.sh: build $build lacks lumoraconf-query or tests/lumora_private_ns" >&2; exit 1; }
  [[ $(id -u) == 0 ]] || { echo "discovery.sh: must run as root" >&2; exit 1; }
  LUMORA_HOST_NETNS=$(readlink /proc/self/ns/net) || exit 1
  LUMORA_HOST_MNTNS=$(readlink /proc/self/ns/mnt) || exit 1
  export LUMORA_HOST_NETNS LUMORA_HOST_MNTNS
  sandbox_enter "$private_ns" bash "$0" --inside "$query" "${RUNS:-10}"
  exit
fi

query=$2
runs=$3
sandbox_private discovery.sh || exit 1
# shellcheck source=tests/discovery/netns_lab.sh
source "$root/tests/discovery/netns_lab.sh"
finish() {
  lab_end
  sandbox_remove
}
trap finish EXIT
trap 'exit 1' INT TERM
sandbox_make discovery-bench || exit 1
sandbox_mount discovery.sh /etc/opt || exit 1
cp "$root/tests/discovery/Lumsane.ini" /etc/opt/kelvane/scanner/lumora/Lumsane.ini
lab_begin || exit 1

tag=lumbench$$
ns_q=$tag-q
ns_s=$tag-s
lab_add "$ns_q" "$ns_s" || exit 1
ip -n "$ns_s" link add br0 type bridge && ip -n "$ns_s" link set br0 up || exit 1
lab_link "$ns_q" vq 10.78.0.1/16 "$ns_s" vs0 || exit 1
ip -n "$ns_s" link set vs0 master br0 || exit 1

# measure RESPONDERS: RUNS runs; prints one line of figures.
measure() {
  lab_guard "$ns_q"
  python3 - "$1" "$runs" "${lab_guarded[@]}" "$query" discover <<'PY'
import statistics, subprocess, sys, time
responders, runs, command = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3:]
first, whole = [], []
for _ in range(runs):
    start = time.monotonic()
    run = subprocess.Popen(command, stdout=subprocess.PIPE)
    lines = [run.stdout.readline()]
    first.append(time.monotonic() - start)
    lines += run.stdout.readlines()
    run.wait()
    whole.append(time.monotonic() - start)
    found = sum(1 for line in lines if line.strip())
    if run.returncode != 0 or found != responders:
        sys.exit(f"discovery.sh: a run found {found} of {responders} scanners (status {run.returncode})")
ms = lambda values: "%.0f ms (%.0f to %.0f)" % (statistics.median(values) * 1e3, min(values) * 1e3, max(values) * 1e3)
print(f"{responders:2d} responder(s), {runs} runs: first line {ms(first)}, exit {ms(whole)}")
PY
}

# What the guarded start alone costs (nsenter, the checking bash), included in the figures.
guard_cost() {
  lab_guard "$ns_q"
  python3 - "$runs" "${lab_guarded[@]}" true <<'PY'
import statistics, subprocess, sys, time
runs, command = int(sys.argv[1]), sys.argv[2:]
times = []
for _ in range(runs):
    start = time.monotonic()
    subprocess.run(command, check=True)
    times.append(time.monotonic() - start)
print("guarded start of true, %d runs: %.0f ms (median)" % (runs, statistics.median(times) * 1e3))
PY
}
guard_cost || exit 1

started=0
for count in 1 20; do
  while ((started < count)); do
    started=$((started + 1))
    ns=$tag-r$started
    lab_add "$ns" || exit 1
    lab_link "$ns_s" "vs$started" "" "$ns" vr 10.78.1.$started/16 || exit 1
    ip -n "$ns_s" link set "vs$started" master br0 || exit 1
    printf 'Scanner %d\t_uscan._tcp\t80\tty=Kelvane MX-200\n' "$started" >"$SANDBOX_ROOT/services-$started"
    lab_responder "$ns" "lumbench-$started" vr "$SANDBOX_ROOT/services-$started"
  done
  hosts=()
  for ((i = 1; i <= count; i++)); do hosts+=("lumbench-$i"); done
  lab_wait_ready "${hosts[@]}" || exit 1
  measure "$count" || exit 1
done
