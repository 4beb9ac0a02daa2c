#!/usr/bin/env bash
# `lumoraconf-query discover` side by side with its peers, sane-airscan's `airscan-discover` and
# `avahi-browse -rtp _uscan._tcp`, against the same responders: one host announcing 16 eSCL
# scanners (each with a long TXT record, more than one message holds), then 1, 20 and 50
# responders announcing one each. Every responder is a real avahi-daemon (with its own
# dbus-daemon) in a network namespace of its own, bridged to the querier's. Then, once those
# are stopped, WS-Discovery devices (tests/discovery/wsd_responder.py, each in a namespace of
# its own on the bridge): 1 and 20 devices of WS-Discovery alone, of a model the catalogue
# knows and of one it does not in turn, with discover --protocol wsd; then one device that
# answers both protocols, with --protocol all, which discover must print as one line. The
# multicast DNS cases run discover with --protocol all too. avahi-browse, which asks by
# multicast DNS alone, runs in the multicast DNS cases only. Nothing is sent on
# the machine's own interfaces: every tool runs through the guard of
# tests/discovery/netns_lab.sh, in the querier's namespace, which has no route out of the lab.
#
#   bench/discovery.sh [BUILD_DIR]    (default: build; a test build: it needs lumoraconf-query
#                                      and lumora_private_ns; root)
#
# Installs sane-airscan (scripts/lib.sh, lumora_bench_peer_packages) when airscan-discover is
# missing; CI never does. RUNS (default 5) runs of each tool for each case, the tools taking
# turns; discover with its default timeout of 2 s. Each run is timed inside the querier's
# namespace, from the start of the tool to its exit. Both peers ask through an avahi-daemon, as
# on a desktop: one runs in the querier's namespace (its dbus reached through
# DBUS_SYSTEM_BUS_ADDRESS), started afresh for each peer run, so that no run is answered from
# what an earlier one cached; discover runs while none is there. airscan-discover reads no
# configuration and writes no file (without -t); besides multicast DNS through Avahi it sends
# WS-Discovery probes (for every device, wsdp:Device) to 239.255.255.250 and ff02::c, asks each
# device that answers for its metadata over HTTP, and sends an HTTP probe to each device it
# found, all inside the lab. It has no option to bound its time: it waits for its WS-Discovery
# rounds. Prints a table: the scanners each tool found in each run, the wall time (median,
# lowest and highest, in ms), the ratio of discover's median to the peer's, when discover
# printed its first and its last line, and how long after its timeout it exited; then the
# scanners each tool found over its runs, by protocol. The multicast DNS cases match scanners
# by instance name and address, the WS-Discovery ones by address alone (the tools name those
# devices differently: bench/discovery_sets.py). A scanner that a peer found and discover did
# not, or an address discover printed more than one line for, is printed and makes the script
# exit with status 1.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
# shellcheck source=tests/sandbox/sandbox.sh
source "$root/tests/sandbox/sandbox.sh"
# shellcheck source=tests/discovery/netns_lab.sh
source "$root/tests/discovery/netns_lab.sh"

if [[ ${1-} != --inside ]]; then
  build=$(cd "${1:-build}" && pwd) || exit 1
  query=$build/lumoraconf-query
  private_ns=$build/tests/lumora_private_ns
  [[ -x $query && -x $private_ns ]] ||
    { echo "discovery.sh: build $build lacks lumoraconf-query or tests/lumora_private_ns" >&2; exit 1; }
  [[ $(id -u) == 0 ]] || { echo "discovery.sh: must run as root" >&2; exit 1; }
  if ! command -v airscan-discover >/dev/null; then
    # shellcheck source=scripts/lib.sh
    source "$root/scripts/lib.sh"
    lumora_apt_install "${lumora_bench_peer_packages[@]}" || exit 1
  fi
  lab_host discovery.sh avahi-browse airscan-discover python3 || exit 1
  sandbox_enter "$private_ns" bash "$0" --inside "$query" "${RUNS:-5}"
  exit
fi

query=$2
runs=$3
timeout_ms=2000
sandbox_private discovery.sh || exit 1
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
lab_ip "$ns_s" link add br0 type bridge && lab_ip "$ns_s" link set br0 up || exit 1
lab_link "$ns_q" vq 10.78.0.1/16 "$ns_s" vs0 || exit 1
lab_ip "$ns_s" link set vs0 master br0 || exit 1
: >"$SANDBOX_ROOT/services-none"

# responder N SERVICES_FILE: starts responder N (host lumbench-N, 10.78.1.N) on the bridge.
responder() {
  local ns=$tag-r$1
  lab_add "$ns" || return 1
  lab_link "$ns_s" "vs$1" "" "$ns" vr "10.78.1.$1/16" || return 1
  lab_ip "$ns_s" link set "vs$1" master br0 || return 1
  lab_responder "$ns" "lumbench-$1" vr "$2"
}

# stop_responder PID HOST_NAME: stops the responder and forgets its processes, whose numbers
# lab_end would otherwise look at again.
stop_responder() {
  lab_stop "$1"
  rm -rf "$SANDBOX_ROOT/state-$2"
}

# timed TOOL RECORDS COMMAND...: one run of COMMAND in the querier's namespace, its time and
# the scanners it printed appended to RECORDS.
timed() {
  lab_guard "$ns_q"
  "${lab_guarded[@]}" python3 -B "$here/discovery_sets.py" run "$@"
}

# peer_run TOOL RECORDS COMMAND...: timed, with an avahi-daemon of its own in the querier's
# namespace, started before and stopped after.
peer_run() {
  local state=$SANDBOX_ROOT/state-lumbench-q daemon bus status
  lab_responder "$ns_q" lumbench-q vq "$SANDBOX_ROOT/services-none"
  daemon=${lab_pids[-1]}
  lab_wait_ready lumbench-q || return 1
  # The daemons' /run is seen in their own mount namespace alone, so their bus is reached
  # through the root of the dbus-daemon (the first process the responder wrote down), once it
  # is known to be in the querier's namespace: never the machine's own bus and Avahi.
  bus=$(head -n 1 "$state/pids")
  [[ $(readlink "/proc/$bus/ns/net") == "net:[$(stat -L -c %i "/run/netns/$ns_q")]" ]] ||
    { echo "discovery.sh: the querier's dbus-daemon ($bus) is not in its namespace" >&2; return 1; }
  timed "$1" "$2" \
    env "DBUS_SYSTEM_BUS_ADDRESS=unix:path=/proc/$bus/root/run/dbus/system_bus_socket" "${@:3}"
  status=$?
  stop_responder "$daemon" lumbench-q
  return "$status"
}

# measure CASE KEY PROTOCOLS: RUNS runs of each tool, discover with --protocol PROTOCOLS, then
# the rows of CASE, its scanners matched by KEY (discovery_sets.py); 1 when a peer found a
# scanner that discover did not. avahi-browse, which asks by multicast DNS alone, runs only
# where discover does not ask WS-Discovery alone and the scanners are matched by name.
measure() {
  local records=$SANDBOX_ROOT/records-${1// /-} _
  for _ in $(seq "$runs"); do
    timed discover "$records" "$query" discover --protocol "$3" || return 2
    if [[ $2 == name ]]; then
      peer_run avahi-browse "$records" avahi-browse -rtp _uscan._tcp || return 2
    fi
    peer_run airscan-discover "$records" airscan-discover || return 2
  done
  python3 -B "$here/discovery_sets.py" report "$records" "$1" "$timeout_ms" "$2"
}

# wsd_device NAME ADDRESS KIND: starts a WS-Discovery device of KIND (wsd_responder.py) at
# ADDRESS, in a namespace of its own on the bridge, and waits up to 5 s until it listens.
wsd_device() {
  local ns=$tag-$1 _
  lab_add "$ns" || return 1
  lab_link "$ns_s" "v$1" "" "$ns" vw "$2/16" || return 1
  lab_ip "$ns_s" link set "v$1" master br0 || return 1
  lab_background "$ns" python3 -B "$root/tests/discovery/wsd_responder.py" \
    "$SANDBOX_ROOT/$1.ready" "$SANDBOX_ROOT/$1.log" "$2=$3"
  for _ in $(seq 50); do
    [[ -e $SANDBOX_ROOT/$1.ready ]] && return 0
    sleep 0.1
  done
  echo "discovery.sh: the WS-Discovery device $1 did not come up" >&2
  return 1
}

python3 -B "$here/discovery_sets.py" header
missed=0
mdns_responders=()

# One host with 16 scanners, alone on the bridge, stopped before the others come.
long_txt=
for key in $(seq 18); do
  long_txt+=$'\t'"note$key=$(printf 'v%.0s' $(seq 25))"
done
for n in $(seq 16); do
  printf 'Shared %d\t_uscan._tcp\t%d\tty=Kelvane MX-300%s\n' "$n" $((8000 + n)) "$long_txt"
done >"$SANDBOX_ROOT/services-shared"
responder 99 "$SANDBOX_ROOT/services-shared" || exit 1
shared=${lab_pids[-1]}
lab_wait_ready lumbench-99 || exit 1
measure "1 host, 16 scanners" name all
case $? in 0) ;; 1) missed=1 ;; *) exit 1 ;; esac
stop_responder "$shared" lumbench-99

started=0
for count in 1 20 50; do
  while ((started < count)); do
    started=$((started + 1))
    printf 'Scanner %d\t_uscan._tcp\t80\tty=Kelvane MX-200\n' "$started" >"$SANDBOX_ROOT/services-$started"
    responder "$started" "$SANDBOX_ROOT/services-$started" || exit 1
    mdns_responders+=("${lab_pids[-1]}")
  done
  hosts=()
  for ((i = 1; i <= count; i++)); do hosts+=("lumbench-$i"); done
  lab_wait_ready "${hosts[@]}" || exit 1
  measure "$count responder$( ((count == 1)) || echo s)" name all
  case $? in 0) ;; 1) missed=1 ;; *) exit 1 ;; esac
done
for i in "${!mdns_responders[@]}"; do
  stop_responder "${mdns_responders[i]}" "lumbench-$((i + 1))"
done

# WS-Discovery devices alone (10.78.2.N), of a model the catalogue knows and of one it does
# not, in turn, asked by WS-Discovery alone and matched by address; then they are stopped.
wsd_devices=()
for count in 1 20; do
  while ((${#wsd_devices[@]} < count)); do
    n=$((${#wsd_devices[@]} + 1))
    wsd_device "w$n" "10.78.2.$n" "$( ((n % 2)) && echo known || echo unknown)" || exit 1
    wsd_devices+=("${lab_pids[-1]}")
  done
  measure "$count WSD device$( ((count == 1)) || echo s)" address wsd
  case $? in 0) ;; 1) missed=1 ;; *) exit 1 ;; esac
done
for pid in "${wsd_devices[@]}"; do
  lab_stop "$pid"
done

# One device that answers both protocols (its multicast DNS answers are the responder's own):
# asked by both, one line.
wsd_device both 10.78.3.1 both || exit 1
measure "1 device, mDNS+WSD" address all
case $? in 0) ;; 1) missed=1 ;; *) exit 1 ;; esac
exit "$missed"
