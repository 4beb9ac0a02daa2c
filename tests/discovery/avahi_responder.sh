#!/usr/bin/env bash
# A real multicast DNS responder for the discovery tests: its own dbus-daemon and avahi-daemon,
# with a private /run, publishing the services of a list with avahi-publish.
#
# Usage: avahi_responder.sh STATE_DIR HOST_NAME INTERFACE SERVICES_FILE
#
# Started by discovery_netns_test.sh inside a network namespace the test made and a mount
# namespace of its own (nsenter --net=... unshare --mount ..., inside the test's private mount namespace), never on
# the machine's own network or /run: it refuses to run unless both namespaces differ from the
# ones named in LUMORA_HOST_NETNS and LUMORA_HOST_MNTNS. SERVICES_FILE holds one service a line,
# fields separated by tabs: instance name, service type, port, then the TXT strings. It writes
# the processes it starts to STATE_DIR/pids, touches STATE_DIR/ready once every service is
# established, and on SIGTERM stops its processes and waits for them.
set -euo pipefail

state=${1:?usage: avahi_responder.sh STATE_DIR HOST_NAME INTERFACE SERVICES_FILE}
host_name=${2:?}
interface=${3:?}
services=${4:?}

fail() {
  echo "avahi_responder ($host_name): $*" >&2
  exit 1
}

net_ns=$(readlink /proc/self/ns/net) || fail "cannot read the network namespace"
mnt_ns=$(readlink /proc/self/ns/mnt) || fail "cannot read the mount namespace"
[[ -n ${LUMORA_HOST_NETNS:-} && $net_ns != "$LUMORA_HOST_NETNS" ]] ||
  fail "not in a network namespace of the test; refusing to start a responder"
[[ -n ${LUMORA_HOST_MNTNS:-} && $mnt_ns != "$LUMORA_HOST_MNTNS" ]] ||
  fail "not in a mount namespace of its own; refusing to mount over /run"

# The daemons find each other under /run; this tmpfs is seen only in this mount namespace.
mount -t tmpfs -o mode=0755 lumora-responder-run /run
mkdir -p /run/dbus /run/avahi-daemon

children=()
stop() {
  trap - TERM INT EXIT
  ((${#children[@]} == 0)) || kill -TERM "${children[@]}" 2>/dev/null || true
  wait || true
  exit 0
}
trap stop TERM INT EXIT

dbus-daemon --system --nofork --nopidfile 2>"$state/dbus.log" &
children+=($!)
echo "$!" >>"$state/pids"
for _ in $(seq 100); do
  [[ -S /run/dbus/system_bus_socket ]] && break
  sleep 0.1
done
[[ -S /run/dbus/system_bus_socket ]] || fail "dbus-daemon did not start: $(cat "$state/dbus.log")"

cat >"$state/avahi-daemon.conf" <<CONF
[server]
host-name=$host_name
domain-name=local
use-ipv4=yes
use-ipv6=no
allow-interfaces=$interface
enable-dbus=yes
[wide-area]
enable-wide-area=no
[publish]
publish-addresses=yes
publish-hinfo=no
# IPv4 only: no AAAA record of the link-local IPv6 address either, which the kernel makes up
# afresh for each run.
publish-aaaa-on-ipv4=no
publish-workstation=no
publish-domain=no
[reflector]
enable-reflector=no
CONF
: >"$state/avahi.log"  # there before the wait below reads it
avahi-daemon -f "$state/avahi-daemon.conf" --no-drop-root --no-chroot --no-rlimits \
  --no-proc-title 2>"$state/avahi.log" &
children+=($!)
echo "$!" >>"$state/pids"
for _ in $(seq 200); do
  grep -q "Server startup complete" "$state/avahi.log" && break
  sleep 0.1
done
grep -q "Server startup complete" "$state/avahi.log" ||
  fail "avahi-daemon did not start: $(cat "$state/avahi.log")"

count=0
while IFS=$'\t' read -r -a fields; do
  ((${#fields[@]} >= 3)) || continue
  count=$((count + 1))
  avahi-publish -s "${fields[@]}" >"$state/publish-$count.log" 2>&1 &
  children+=($!)
  echo "$!" >>"$state/pids"
done <"$services"

for _ in $(seq 200); do
  established=$(cat "$state"/publish-*.log 2>/dev/null | grep -c "Established under name" || true)
  ((established == count)) && break
  sleep 0.1
done
((established == count)) || fail "not every service was established: $(cat "$state"/publish-*.log)"
touch "$state/ready"
wait
