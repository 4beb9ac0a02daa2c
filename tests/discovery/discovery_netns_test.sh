#!/usr/bin/env bash
# End-to-end test of "lumoraconf-query discover" against real multicast DNS responders, in
# private networks only.
#
# Usage: discovery_netns_test.sh QUERY_BINARY PRIVATE_NS
#
# Runs as root. The script re-runs itself through PRIVATE_NS (the lumora_private_ns program of
# the test build) so that its mounts are its own: a scratch tree over /etc/opt holding the
# test's catalogue, and a tmpfs over /run/netns, so the network namespaces it names are seen
# by nobody else. It then makes four network namespaces: the querier's, joined by three veth
# pairs to two responders (each with its own dbus-daemon and avahi-daemon over a private /run,
# publishing with avahi-publish) and to a hostile responder. No datagram of the test leaves
# them: lumoraconf-query runs only through the guard of netns_lab.sh, which refuses to run a
# command unless it finds itself in the namespace the test made, and the responders refuse
# likewise.
# On any exit the responders are stopped, the test checks that none of their processes is
# left, and the namespaces are deleted.
#
#   querier  vq1 10.77.1.1/24 ---- vr1 10.77.1.2 responder 1 (avahi)
#            vq2 10.77.2.1/24 ---- vr2 10.77.2.2 responder 2 (avahi)
#            vq3 10.77.3.1/24 ---- vh3 10.77.3.2 hostile responder
set -uo pipefail

query=${1:?usage: discovery_netns_test.sh QUERY_BINARY PRIVATE_NS}
query=$(realpath "$query")
private_ns=${2:?usage: discovery_netns_test.sh QUERY_BINARY PRIVATE_NS}
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/sandbox/sandbox.sh
source "$here/../sandbox/sandbox.sh"

# shellcheck source=tests/discovery/netns_lab.sh
source "$here/netns_lab.sh"

if [[ ${3-} != --in-namespace ]]; then
  lab_host discovery_netns_test python3 || exit 1
  sandbox_enter "$private_ns" bash "$0" "$query" "$private_ns" --in-namespace
  exit
fi

# --- inside the private mount namespace -------------------------------------------------------

sandbox_private discovery_netns_test || exit 1
fail() { lab_problem "$@"; }

cleanup() {
  lab_end
  sandbox_remove
  if ((lab_problems > 0)); then
    echo "discovery_netns_test: $lab_problems failure(s)" >&2
    exit 1
  fi
  echo "discovery_netns_test: all checks passed"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

sandbox_make discovery || exit 1
sandbox_mount discovery_netns_test /etc/opt || exit 1
cp "$here/Lumsane.ini" /etc/opt/kelvane/scanner/lumora/Lumsane.ini
lab_begin || { fail "cannot set up the private networks"; exit 1; }

tag=lumdisc$$
ns_q=$tag-q
ns_r1=$tag-r1
ns_r2=$tag-r2
ns_h=$tag-h
if ! { lab_add "$ns_q" "$ns_r1" "$ns_r2" "$ns_h" &&
       lab_link "$ns_q" vq1 10.77.1.1/24 "$ns_r1" vr1 10.77.1.2/24 &&
       lab_link "$ns_q" vq2 10.77.2.1/24 "$ns_r2" vr2 10.77.2.2/24 &&
       lab_link "$ns_q" vq3 10.77.3.1/24 "$ns_h" vh3 10.77.3.2/24; }; then
  fail "cannot make and link the namespaces"
  exit 1
fi

# Responder 1: a scanner the catalogue knows by a plain line, also announced as a printer that
# scans; a printer that scans, known only through the scrambled line (with a shorter catalogue
# name in its description too); two printers that do not scan.
tab=$'\t'
cat >"$SANDBOX_ROOT/services-1" <<SERVICES
Office Scanner${tab}_uscan._tcp${tab}80${tab}ty=Kelvane LumaScan MX-200${tab}rs=eSCL
Office Scanner${tab}_ipp._tcp${tab}631${tab}ty=Kelvane LumaScan MX-200${tab}Scan=T
Hall MFP${tab}_ipp._tcp${tab}631${tab}ty=Kelvane LS-10-PRO series${tab}Scan=T
Print Only${tab}_ipp._tcp${tab}631${tab}ty=Kelvane MX-200
Print Off${tab}_ipp._tcp${tab}632${tab}ty=Kelvane MX-300${tab}Scan=F
SERVICES
# Responder 2: a scanner the catalogue does not know, and one over TLS whose instance name is
# not ASCII and whose model is only in usb_MDL.
cat >"$SANDBOX_ROOT/services-2" <<SERVICES
Lab Scanner${tab}_uscan._tcp${tab}8080${tab}ty=Other Maker Z9
Büro Scanner ✓${tab}_uscans._tcp${tab}443${tab}usb_MDL=MX-300
SERVICES
lab_responder "$ns_r1" lumtest-one vr1 "$SANDBOX_ROOT/services-1"
lab_responder "$ns_r2" lumtest-two vr2 "$SANDBOX_ROOT/services-2"
lab_wait_ready lumtest-one lumtest-two || { fail "the responders did not come up"; exit 1; }

# run_discover NAME ARG...: runs discover in the querier's namespace; its output, errors and
# status go to $SANDBOX_ROOT/NAME.out, .err and .status.
run_discover() {
  local name=$1
  shift
  lab_guard "$ns_q"
  "${lab_guarded[@]}" "$query" discover "$@" >"$SANDBOX_ROOT/$name.out" 2>"$SANDBOX_ROOT/$name.err"
  echo $? >"$SANDBOX_ROOT/$name.status"
}

# expect_lines NAME EXPECTED_JSON_LINES: the run's output holds exactly these objects, one a
# line, in any order (responders answer in their own time), each line valid JSON.
expect_lines() {
  python3 - "$SANDBOX_ROOT/$1.out" "$2" <<'PY' || fail "$1: output differs (above)"
import json, sys
got_text = open(sys.argv[1], encoding="utf-8", errors="surrogateescape").read()
got = [json.loads(line) for line in got_text.splitlines()]
want = [json.loads(line) for line in sys.argv[2].splitlines() if line.strip()]
key = lambda o: json.dumps(o, sort_keys=True)
if sorted(map(key, got)) != sorted(map(key, want)) or not got_text.endswith("\n") and got:
    print("got:\n" + got_text + "want:\n" + "\n".join(map(key, want)), file=sys.stderr)
    sys.exit(1)
PY
}

expect_status() {  # NAME STATUS
  [[ $(cat "$SANDBOX_ROOT/$1.status") == "$2" ]] ||
    fail "$1: exit status $(cat "$SANDBOX_ROOT/$1.status"), expected $2 ($(cat "$SANDBOX_ROOT/$1.err"))"
}

office='{"instance":"Office Scanner","host":"lumtest-one.local","ip":"10.77.1.2","port":80,"services":["_uscan._tcp","_ipp._tcp"],"ty":"Kelvane LumaScan MX-200","usb_MDL":null,"model":"MX-200","add":["-a","name=Office_Scanner","model=MX-200","ip=10.77.1.2"]}'
hall='{"instance":"Hall MFP","host":"lumtest-one.local","ip":"10.77.1.2","port":631,"services":["_ipp._tcp"],"ty":"Kelvane LS-10-PRO series","usb_MDL":null,"model":"LS-10-PRO","add":["-a","name=Hall_MFP","model=LS-10-PRO","ip=10.77.1.2"]}'
lab='{"instance":"Lab Scanner","host":"lumtest-two.local","ip":"10.77.2.2","port":8080,"services":["_uscan._tcp"],"ty":"Other Maker Z9","usb_MDL":null,"model":null,"add":null}'
buero='{"instance":"Büro Scanner ✓","host":"lumtest-two.local","ip":"10.77.2.2","port":443,"services":["_uscans._tcp"],"ty":null,"usb_MDL":"MX-300","model":"MX-300","add":["-a","name=B_ro_Scanner","model=MX-300","ip=10.77.2.2"]}'

# Every interface: the four scanners of both responders, no printer that does not scan.
run_discover all --timeout 3
expect_status all 0
expect_lines all "$office"$'\n'"$hall"$'\n'"$lab"$'\n'"$buero"
[[ ! -s $SANDBOX_ROOT/all.err ]] || fail "all: wrote to standard error: $(cat "$SANDBOX_ROOT/all.err")"

# One interface: only the scanners on that link.
run_discover one --interface vq2 --timeout 2
expect_status one 0
expect_lines one "$lab"$'\n'"$buero"

# Misuse: status 2 and the usage on standard error, nothing on standard output. Run here, not
# with the other usage tests, so that a regression that let one through would still send its
# query inside the test's namespaces only.
misuse=("-z discover" "discover --timeout" "discover --timeout 0" "discover --timeout 601"
        "discover --timeout 2s" "discover --timeout 1.2345" "discover --interface sixteen-bytes-xx"
        "discover --bogus 1" "discover all")
lab_guard "$ns_q"
for words in "${misuse[@]}"; do
  read -r -a args <<<"$words"
  "${lab_guarded[@]}" "$query" "${args[@]}" >"$SANDBOX_ROOT/misuse.out" 2>"$SANDBOX_ROOT/misuse.err"
  status=$?
  ((status == 2)) || fail "$words: exit status $status, expected 2"
  [[ ! -s $SANDBOX_ROOT/misuse.out ]] || fail "$words: printed $(cat "$SANDBOX_ROOT/misuse.out")"
  grep -q "^Usage: lumoraconf-query" "$SANDBOX_ROOT/misuse.err" || fail "$words: no usage on standard error"
done
"${lab_guarded[@]}" "$query" discover --interface "" >"$SANDBOX_ROOT/misuse.out" 2>"$SANDBOX_ROOT/misuse.err"
status=$?
((status == 2)) || fail "an empty interface name: exit status $status, expected 2"

# An interface that does not exist, and one that cannot multicast: a message, status 1.
run_discover missing --interface nosuch0 --timeout 1
expect_status missing 1
[[ ! -s $SANDBOX_ROOT/missing.out ]] || fail "missing: printed $(cat "$SANDBOX_ROOT/missing.out")"
grep -q "interface nosuch0" "$SANDBOX_ROOT/missing.err" || fail "missing: no message naming the interface"
run_discover loopback --interface lo --timeout 1
expect_status loopback 1

# The hostile responder: junk prints nothing, the good answer after it is printed, and the run
# ends on time.
lab_background "$ns_h" python3 "$here/hostile_responder.py" 10.77.3.2 "$SANDBOX_ROOT/hostile.ready"
for _ in $(seq 100); do
  [[ -e $SANDBOX_ROOT/hostile.ready ]] && break
  sleep 0.1
done
# The time is taken around the query's own process, inside the namespace, so that the start of
# the namespace and the guard on a loaded machine do not count.
lab_guard "$ns_q"
# shellcheck disable=SC2016  # expanded by the inner bash
"${lab_guarded[@]}" bash -c 'started=${EPOCHREALTIME/./}; "$@"; status=$?
  echo $(((${EPOCHREALTIME/./} - started) / 1000)) >"$0"; exit $status' \
  "$SANDBOX_ROOT/hostile.ms" "$query" discover --interface vq3 --timeout 2 \
  >"$SANDBOX_ROOT/hostile.out" 2>"$SANDBOX_ROOT/hostile.err"
echo $? >"$SANDBOX_ROOT/hostile.status"
took_ms=$(cat "$SANDBOX_ROOT/hostile.ms")
expect_status hostile 0
expect_lines hostile '{"instance":"Survivor","host":"survivor.local","ip":"10.77.3.2","port":80,"services":["_uscan._tcp"],"ty":"Kelvane MX-300","usb_MDL":null,"model":"MX-300","add":["-a","name=Survivor","model=MX-300","ip=10.77.3.2"]}'
echo "discovery_netns_test: the hostile run took ${took_ms} ms"
# A run lasts its timeout; what it does after (the last census, the exit) is short.
((took_ms < 2500)) || fail "hostile: the run took ${took_ms} ms with a 2 s timeout"
((took_ms >= 2000)) || fail "hostile: the run ended after ${took_ms} ms, before its 2 s timeout"
