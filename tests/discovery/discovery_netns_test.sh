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
# likewise. For part of the test an Avahi daemon runs in the querier's namespace too, as on a
# desktop, and for another part a program holds its port 5353.
# On any exit the responders are stopped, the test checks that none of their processes is
# left, and the namespaces are deleted.
#
#   querier  vq1 10.77.1.1/24 ---- vr1 10.77.1.2 responder 1 (avahi)
#            vq2 10.77.2.1/24 ---- vr2 10.77.2.2 responder 2 (avahi)
#            vq3 10.77.3.1/24 ---- vh3 10.77.3.2 hostile responder
#            vq4 10.77.4.1/24 ---- vw4 10.77.4.2-10 WS-Discovery devices, friendly and hostile
#            vq6 (IPv6 only) ----- vr6 fd77:6::2 a responder over IPv6 alone, linked last
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
ns_w=$tag-w
if ! { lab_add "$ns_q" "$ns_r1" "$ns_r2" "$ns_h" "$ns_w" &&
       lab_link "$ns_q" vq1 10.77.1.1/24 "$ns_r1" vr1 10.77.1.2/24 &&
       lab_link "$ns_q" vq2 10.77.2.1/24 "$ns_r2" vr2 10.77.2.2/24 &&
       lab_link "$ns_q" vq3 10.77.3.1/24 "$ns_h" vh3 10.77.3.2/24 &&
       lab_link "$ns_q" vq4 10.77.4.1/24 "$ns_w" vw4 10.77.4.2/24; }; then
  fail "cannot make and link the namespaces"
  exit 1
fi
# The WS-Discovery devices, one an address (wsd_responder.py says what each kind does).
wsd_kinds=([2]=known [3]=unknown [4]=both [5]=endless [6]=huge [7]=bomb [8]=elsewhere [9]=other
           [10]=garbage)
wsd_devices=()
for n in "${!wsd_kinds[@]}"; do
  ((n == 2)) || lab_ip "$ns_w" addr add "10.77.4.$n/24" dev vw4 ||
    { fail "cannot give vw4 its addresses"; exit 1; }
  wsd_devices+=("10.77.4.$n=${wsd_kinds[n]}")
done

# Responder 1: a scanner the catalogue knows by a plain line, also announced as a printer that
# scans; a printer that scans, known only through the scrambled line (with a shorter catalogue
# name in its description too); a printer that does not say whether it scans, of a model the
# catalogue knows by its usb_MDL (written in capitals), also announced for raw printing without
# a TXT record; one that says it does not scan, of a model the catalogue knows; one of a model
# it does not know; a scanner of the older scanner service; a device with an ordinary, long TXT
# record as a printer that scans and as an eSCL scanner; one of the twins; and eight scanners
# shared by a scan server, each with a long TXT record, more than one message holds.
tab=$'\t'
long_txt=
for key in $(seq 18); do
  long_txt+="${tab}note$key=$(printf 'v%.0s' $(seq 25))"
done
{
  cat <<SERVICES
Office Scanner${tab}_uscan._tcp${tab}80${tab}ty=Kelvane LumaScan MX-200${tab}rs=eSCL
Office Scanner${tab}_ipp._tcp${tab}631${tab}ty=Kelvane LumaScan MX-200${tab}Scan=T
Hall MFP${tab}_ipp._tcp${tab}631${tab}ty=Kelvane LS-10-PRO series${tab}Scan=T
Print Only${tab}_ipp._tcp${tab}631${tab}ty=Kelvane Printer${tab}USB_MDL=MX-200${long_txt}
Print Only${tab}_pdl-datastream._tcp${tab}9100
Print Off${tab}_ipp._tcp${tab}632${tab}ty=Kelvane MX-300${tab}Scan=F
Other Printer${tab}_ipp._tcp${tab}633${tab}ty=Other Maker P1${long_txt}
Old Scanner${tab}_scanner._tcp${tab}9000${tab}ty=Other Maker S1
Ordinary MFP${tab}_ipp._tcp${tab}634${tab}ty=Kelvane LumaScan MX-200${tab}Scan=T${long_txt}
Ordinary MFP${tab}_uscan._tcp${tab}8080${tab}ty=Kelvane LumaScan MX-200${long_txt}
Twin Scanner${tab}_uscan._tcp${tab}81${tab}ty=Kelvane MX-300
SERVICES
  for n in $(seq 8); do
    echo "Shared $n${tab}_uscan._tcp${tab}$((8000 + n))${tab}ty=Kelvane MX-300${long_txt}"
  done
} >"$SANDBOX_ROOT/services-1"
# Responder 2: a scanner the catalogue does not know, one over TLS whose instance name is not
# ASCII and whose model is only in usb_MDL, and the other twin.
cat >"$SANDBOX_ROOT/services-2" <<SERVICES
Lab Scanner${tab}_uscan._tcp${tab}8080${tab}ty=Other Maker Z9
Büro Scanner ✓${tab}_uscans._tcp${tab}443${tab}usb_MDL=MX-300
Twin Scanner${tab}_uscan._tcp${tab}82${tab}ty=Kelvane MX-300
SERVICES
# The querier's own Avahi daemon, started later: it publishes nothing and holds port 5353.
: >"$SANDBOX_ROOT/services-q"
lab_responder "$ns_r1" lumtest-one vr1 "$SANDBOX_ROOT/services-1"
lab_responder "$ns_r2" lumtest-two vr2 "$SANDBOX_ROOT/services-2"
lab_background "$ns_h" python3 "$here/hostile_responder.py" 10.77.3.2 "$SANDBOX_ROOT/hostile.ready"
lab_background "$ns_w" python3 -B "$here/wsd_responder.py" "$SANDBOX_ROOT/wsd.ready" "$SANDBOX_ROOT/wsd.log" \
  "${wsd_devices[@]}"
lab_wait_ready lumtest-one lumtest-two || { fail "the responders did not come up"; exit 1; }

# run_discover NAME ARG...: runs discover in the querier's namespace; its output, errors and
# status go to $SANDBOX_ROOT/NAME.out, .err and .status, and to NAME.times the milliseconds
# from its start to each line and NAME.ms those to its exit. The time is taken around the
# query's own process, inside the namespace, so that the start of the namespace and the guard
# on a loaded machine do not count.
run_discover() {
  local name=$SANDBOX_ROOT/$1
  shift
  lab_guard "$ns_q"
  # shellcheck disable=SC2016  # expanded by the inner bash
  "${lab_guarded[@]}" bash -c 'name=$0; started=${EPOCHREALTIME/./}
    "$@" 2>"$name.err" | while IFS= read -r line; do
      printf "%s\n" "$line" >>"$name.out"
      echo $(((${EPOCHREALTIME/./} - started) / 1000)) >>"$name.times"
    done
    status=${PIPESTATUS[0]}
    echo $(((${EPOCHREALTIME/./} - started) / 1000)) >"$name.ms"
    echo $status >"$name.status"' "$name" "$query" discover "$@"
  touch "$name.out" "$name.times"
}

# expect_lines NAME EXPECTED_JSON_LINES: the run's output holds exactly these objects, one a
# line, in any order (responders answer in their own time), each line valid JSON. The twins
# get the names Twin_Scanner and Twin_Scanner_2 in the order they come: both are taken for one.
expect_lines() {
  python3 - "$SANDBOX_ROOT/$1.out" "$2" <<'PY' || fail "$1: output differs (above)"
import json, sys
got_text = open(sys.argv[1], encoding="utf-8", errors="surrogateescape").read()
got = [json.loads(line) for line in got_text.splitlines()]
want = [json.loads(line) for line in sys.argv[2].splitlines() if line.strip()]
twins = sorted(o["add"][1] for o in got if o["instance"] == "Twin Scanner")
for o in got + want:
    if o["instance"] == "Twin Scanner":
        o["add"][1] = "name=Twin_Scanner (either)"
key = lambda o: json.dumps(o, sort_keys=True)
if (sorted(map(key, got)) != sorted(map(key, want)) or not got_text.endswith("\n") and got or
        twins not in ([], ["name=Twin_Scanner"], ["name=Twin_Scanner", "name=Twin_Scanner_2"])):
    print("got:\n" + got_text + "want:\n" + "\n".join(map(key, want)), file=sys.stderr)
    sys.exit(1)
PY
}

expect_status() {  # NAME STATUS
  [[ $(cat "$SANDBOX_ROOT/$1.status") == "$2" ]] ||
    fail "$1: exit status $(cat "$SANDBOX_ROOT/$1.status"), expected $2 ($(cat "$SANDBOX_ROOT/$1.err"))"
}

# expect_on_time NAME TIMEOUT_MS LATEST_LINE_MS [TEXT]: the run lasted its timeout, and what it
# does after (the last census, the exit) is short; every line (with TEXT: every line holding
# it) came by LATEST_LINE_MS, not held back until the end.
expect_on_time() {
  local took line time
  took=$(cat "$SANDBOX_ROOT/$1.ms")
  echo "discovery_netns_test: the $1 run took $took ms, its lines came after $(tr '\n' ' ' <"$SANDBOX_ROOT/$1.times")ms"
  ((took < $2 + 500)) || fail "$1: the run took $took ms with a $2 ms timeout"
  ((took >= $2)) || fail "$1: the run ended after $took ms, before its $2 ms timeout"
  while read -r time <&3 && IFS= read -r line <&4; do
    [[ -z ${4-} || $line == *"$4"* ]] || continue
    ((time <= $3)) || fail "$1: a line came after $time ms, later than $3 ms"
  done 3<"$SANDBOX_ROOT/$1.times" 4<"$SANDBOX_ROOT/$1.out"
}

wait_ready() {  # NAME: waits up to 5 s for a responder of the test's own to write NAME.ready
  local _
  for _ in $(seq 100); do
    [[ -e $SANDBOX_ROOT/$1.ready ]] && return 0
    sleep 0.05
  done
}

line() {  # INSTANCE HOST IP PORT SERVICES TY USB_MDL MODEL ADD_NAME LISTED_FOR: one expected line
  local model=null add=null
  if [[ $8 != null ]]; then
    model="\"$8\""
    add="[\"-a\",\"name=$9\",\"model=$8\",\"ip=$3\"]"
  fi
  printf '{"instance":"%s","host":"%s","ip":"%s","port":%s,"services":%s,"ty":%s,"usb_MDL":%s,"product":null,"model":%s,"add":%s,"ipv6":[],"listed_for":"%s","protocols":["mdns"],"wsd":null}\n' \
    "$1" "$2" "$3" "$4" "$5" "$6" "$7" "$model" "$add" "${10}"
}
one=lumtest-one.local
two=lumtest-two.local
office=$(line "Office Scanner" $one 10.77.1.2 80 '["_uscan._tcp","_ipp._tcp"]' '"Kelvane LumaScan MX-200"' null MX-200 Office_Scanner scanning)
hall=$(line "Hall MFP" $one 10.77.1.2 631 '["_ipp._tcp"]' '"Kelvane LS-10-PRO series"' null LS-10-PRO Hall_MFP scanning)
print_only=$(line "Print Only" $one 10.77.1.2 631 '["_ipp._tcp","_pdl-datastream._tcp"]' '"Kelvane Printer"' '"MX-200"' MX-200 Print_Only model)
print_off=$(line "Print Off" $one 10.77.1.2 632 '["_ipp._tcp"]' '"Kelvane MX-300"' null MX-300 Print_Off model)
old=$(line "Old Scanner" $one 10.77.1.2 9000 '["_scanner._tcp"]' '"Other Maker S1"' null null "" scanning)
ordinary=$(line "Ordinary MFP" $one 10.77.1.2 8080 '["_uscan._tcp","_ipp._tcp"]' '"Kelvane LumaScan MX-200"' null MX-200 Ordinary_MFP scanning)
twin1=$(line "Twin Scanner" $one 10.77.1.2 81 '["_uscan._tcp"]' '"Kelvane MX-300"' null MX-300 Twin_Scanner scanning)
twin2=$(line "Twin Scanner" $two 10.77.2.2 82 '["_uscan._tcp"]' '"Kelvane MX-300"' null MX-300 Twin_Scanner scanning)
shared=$(for n in $(seq 8); do
  line "Shared $n" $one 10.77.1.2 $((8000 + n)) '["_uscan._tcp"]' '"Kelvane MX-300"' null MX-300 "Shared_$n" scanning
done)
lab=$(line "Lab Scanner" $two 10.77.2.2 8080 '["_uscan._tcp"]' '"Other Maker Z9"' null null "" scanning)
buero=$(line "Büro Scanner ✓" $two 10.77.2.2 443 '["_uscans._tcp"]' null '"MX-300"' MX-300 B_ro_Scanner scanning)

# Port 5353 held by a program that does not share it: the one-shot queries, said on standard
# error, still find the scanners of a link whose answers fit their one legacy message.
lab_background "$ns_q" python3 -c '
import socket, sys, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("0.0.0.0", 5353))
open(sys.argv[1], "w").close()
time.sleep(60)' "$SANDBOX_ROOT/blocker.ready"
blocker=${lab_pids[-1]}
wait_ready blocker
run_discover fallback --interface vq2 --timeout 1
lab_stop "$blocker"
expect_status fallback 0
expect_lines fallback "$lab"$'\n'"$buero"$'\n'"$twin2"
grep -q "^lumoraconf-query: discover: cannot bind port 5353: .*; asking with one-shot queries instead" \
  "$SANDBOX_ROOT/fallback.err" || fail "fallback: not said on standard error: $(cat "$SANDBOX_ROOT/fallback.err")"

# The querier's own Avahi daemon comes up while the hostile responder is asked.
lab_responder "$ns_q" lumtest-q vq1 "$SANDBOX_ROOT/services-q"

# The hostile responder: junk, an answer from another port and a withdrawn scanner print
# nothing; the scanner whose address must be asked for is found through a stream of datagrams;
# the answer to another querier counts; a device whose second service type is answered 0.2 s
# after its first is printed once, with both; every line comes at once, and the run ends on time.
# Multicast DNS alone, so that no line waits for the answers to a WS-Discovery probe.
wait_ready hostile
run_discover hostile --interface vq3 --timeout 2 --protocol mdns
expect_status hostile 0
expect_lines hostile "$(line Survivor survivor.local 10.77.3.2 80 '["_uscan._tcp"]' '"Kelvane MX-300"' null MX-300 Survivor scanning)
$(line Asked asked.local 10.77.3.2 80 '["_uscan._tcp"]' '"Kelvane MX-200"' null MX-200 Asked scanning)
$(line Overheard overheard.local 10.77.3.2 80 '["_uscan._tcp"]' '"Kelvane MX-200"' null MX-200 Overheard scanning)
$(line Spread spread.local 10.77.3.2 80 '["_uscan._tcp","_ipp._tcp"]' '"Kelvane MX-200"' null MX-200 Spread scanning)"
expect_on_time hostile 2000 1000

# wsd_lines PROTOCOLS: the lines of the WS-Discovery devices, those of a run that asked by
# multicast DNS too (all), by WS-Discovery alone (wsd) or by multicast DNS alone (mdns): the
# device that answers both protocols is one line with both; the devices whose metadata could
# not be had (endless, huge, bomb) or must not be asked for (elsewhere) are listed without
# it, the garbage's first good answer counts once.
wsd_lines() {
  python3 - "$1" <<'PY'
import json, socket, sys
protocols = sys.argv[1]
def endpoint(n):
    return "urn:uuid:5e1ec7ed-0000-4000-8000-%012x" % int.from_bytes(socket.inet_aton("10.77.4.%d" % n), "big")
def line(n, name=None, model=None, metadata=None, xaddrs=None, port=5357, first=None):
    ip = "10.77.4.%d" % n
    wsd = {"endpoint": first or endpoint(n), "types": ["Device", "ScanDeviceType"],
           "xaddrs": xaddrs or ["http://%s:5357/%s" % (ip, endpoint(n)[9:])], "metadata_version": 3,
           "manufacturer": None, "model_name": None, "model_number": None, "friendly_name": None}
    if metadata:
        wsd.update(zip(("manufacturer", "model_name", "model_number", "friendly_name"), metadata))
    add = ["-a", "name=" + name.replace(" ", "_"), "model=" + model, "ip=" + ip] if model else None
    return {"instance": name or wsd["endpoint"], "host": ip, "ip": ip, "port": port, "services": [],
            "ty": None, "usb_MDL": None, "product": None, "model": model, "add": add, "ipv6": [],
            "listed_for": "scanning", "protocols": ["wsd"], "wsd": wsd}
both = line(4, "Both Scanner", "MX-300", ("Kelvane", "MX-300", "MX-300", "Both Scanner"))
mdns_both = dict(both, host="both.local", port=80, services=["_uscan._tcp"], ty="Kelvane MX-300",
                 protocols=["mdns"], wsd=None)
if protocols == "mdns":
    lines = [mdns_both]
else:
    if protocols == "all":
        both = dict(mdns_both, protocols=["mdns", "wsd"], wsd=both["wsd"])
    lines = [line(2, "Front Desk Scanner", "MX-200", ("Kelvane", "LumaScan MX-200", "MX-200", "Front Desk Scanner")),
             line(3, "Basement Scanner", None, ("Other Maker", "Z9", "Z9", "Basement Scanner")),
             both, line(5), line(6), line(7),
             line(8, xaddrs=["http://10.77.4.9:5357/elsewhere", "http://printer.invalid:5357/byname"], port=0),
             line(10, "Garbage Survivor", None, ("Other Maker", "G1", "G1", "Garbage Survivor"),
                  first="urn:uuid:f1000000-0000-4000-8000-000000000000")]
for o in lines:
    print(json.dumps(o, ensure_ascii=False))
PY
}

# expect_asked NAME FROM_LINE: since line FROM_LINE of the responders' log, the run NAME probed
# for scanner devices alone and asked each WS-Discovery device for its metadata once, at its own address alone: never the device
# whose transport addresses name another host, never that other host (also named by the bomb's
# external entity), once each of the others.
expect_asked() {
  local log n count
  log=$(tail -n "+$2" "$SANDBOX_ROOT/wsd.log")
  ! grep -q '^contacted' <<<"$log" || fail "$1: the other host was contacted"
  grep -qxF 'probe-for http://schemas.microsoft.com/windows/2006/08/wdp/scan#ScanDeviceType' <<<"$log" ||
    fail "$1: no Probe asked for scanner devices alone: $(grep '^probe-for' <<<"$log" | sort -u)"
  for n in 2 3 4 5 6 7 8 10; do
    count=$(grep -c "^get 10\.77\.4\.$n " <<<"$log")
    if [[ $n == 8 ]]; then
      ((count == 0)) || fail "$1: the device whose addresses name another host was asked $count times"
    else
      ((count == 1)) || fail "$1: 10.77.4.$n asked for its metadata $count times, not once"
    fi
  done
}

wsd_log_line() {  # the number of the next line of the responders' log
  echo $(($(wc -l <"$SANDBOX_ROOT/wsd.log") + 1))
}

# The WS-Discovery devices, with multicast DNS asked too: one line each, the device that answers
# both as one; the hostile ones cost no more than the timeout, and no line waits past its end.
wait_ready wsd
touch "$SANDBOX_ROOT/wsd.log"
from=$(wsd_log_line)
run_discover wsd --interface vq4 --timeout 2
expect_status wsd 0
expect_lines wsd "$(wsd_lines all)"
expect_on_time wsd 2000 1500 '"protocols":["mdns"'
expect_asked wsd "$from"
[[ ! -s $SANDBOX_ROOT/wsd.err ]] || fail "wsd: wrote to standard error: $(cat "$SANDBOX_ROOT/wsd.err")"

# WS-Discovery alone: the device that answers both protocols is a WS-Discovery line; a device
# whose metadata is in goes out at once, not at the end.
from=$(wsd_log_line)
run_discover wsd_only --interface vq4 --timeout 1 --protocol wsd
expect_status wsd_only 0
expect_lines wsd_only "$(wsd_lines wsd)"
expect_on_time wsd_only 1000 1500
expect_asked wsd_only "$from"
(($(head -n 1 "$SANDBOX_ROOT/wsd_only.times") < 900)) ||
  fail "wsd_only: the first line came after $(head -n 1 "$SANDBOX_ROOT/wsd_only.times") ms"

# Multicast DNS alone: no probe is sent, the device that answers both is a multicast DNS line.
from=$(wsd_log_line)
run_discover mdns_only --interface vq4 --timeout 0.5 --protocol mdns
expect_status mdns_only 0
expect_lines mdns_only "$(wsd_lines mdns)"
[[ $(wsd_log_line) == "$from" ]] || fail "mdns_only: WS-Discovery was asked: $(tail -n "+$from" "$SANDBOX_ROOT/wsd.log")"

# Every interface, with an Avahi daemon on port 5353 of the querier's own host: every device
# of both responders that scans or whose model the catalogue knows, the twins as two.
lab_wait_ready lumtest-q || { fail "the querier's own Avahi daemon did not come up"; exit 1; }
run_discover all --timeout 3
expect_status all 0
expect_lines all "$office
$hall
$print_only
$print_off
$old
$ordinary
$twin1
$twin2
$shared
$lab
$buero
$(wsd_lines all)"
[[ ! -s $SANDBOX_ROOT/all.err ]] || fail "all: wrote to standard error: $(cat "$SANDBOX_ROOT/all.err")"
# A device of WS-Discovery alone goes out at the end of a run that asks by multicast DNS too.
expect_on_time all 3000 2000 '"protocols":["mdns"'

# One interface: only the devices on that link.
run_discover one --interface vq2 --timeout 2
expect_status one 0
expect_lines one "$lab"$'\n'"$buero"$'\n'"$twin2"

# A responder that answers over IPv6 alone, on a link of its own made now (so that the runs
# above, on every interface, do not wait for it): listed at the end of the run, with its model
# and its IPv6 address, and with no add command, since the backend registers IPv4 addresses.
# It answers WS-Discovery over IPv6 too, at the same address: one line, with its metadata.
ns_6=$tag-6
if ! { lab_add "$ns_6" && lab_no_dad "$ns_q" "$ns_6" && lab_link "$ns_q" vq6 "" "$ns_6" vr6 &&
       lab_ip "$ns_6" -6 addr add fd77:6::2/64 dev vr6 nodad &&
       lab_ip "$ns_q" -6 addr add fd77:6::1/64 dev vq6 nodad; }; then
  fail "cannot make and link the IPv6 namespace"
  exit 1
fi
lab_background "$ns_6" python3 -B "$here/ipv6_responder.py" vr6 fd77:6::2 "$SANDBOX_ROOT/six.ready"
lab_background "$ns_6" python3 -B "$here/wsd_responder.py" "$SANDBOX_ROOT/wsd6.ready" "$SANDBOX_ROOT/wsd6.log" \
  fd77:6::2%vr6=six
wait_ready six
wait_ready wsd6
run_discover six --interface vq6 --timeout 1
expect_status six 0
expect_lines six '{"instance":"Six Scanner","host":"six.local","ip":null,"port":80,"services":["_uscan._tcp"],"ty":"Kelvane MX-200","usb_MDL":null,"product":null,"model":"MX-200","add":null,"ipv6":["fd77:6::2"],"listed_for":"scanning","protocols":["mdns","wsd"],"wsd":{"endpoint":"urn:uuid:5e1ec7ed-0000-4000-8000-000000000002","types":["Device","ScanDeviceType"],"xaddrs":["http://[fd77:6::2]:5357/5e1ec7ed-0000-4000-8000-000000000002"],"metadata_version":3,"manufacturer":"Kelvane","model_name":"LumaScan MX-200","model_number":"MX-200","friendly_name":"Six Scanner"}}'
grep -qx "get fd77:6::2 /5e1ec7ed-0000-4000-8000-000000000002" "$SANDBOX_ROOT/wsd6.log" ||
  fail "six: the metadata was not asked at the device's IPv6 address: $(cat "$SANDBOX_ROOT/wsd6.log")"

# Misuse: status 2 and the usage on standard error, nothing on standard output. Run here, not
# with the other usage tests, so that a regression that let one through would still send its
# query inside the test's namespaces only.
misuse=("-z discover" "discover --timeout" "discover --timeout 0" "discover --timeout 601"
        "discover --timeout 2s" "discover --timeout 1.2345" "discover --interface sixteen-bytes-xx"
        "discover --bogus 1" "discover all" "discover --protocol" "discover --protocol bonjour"
        "discover --protocol MDNS")
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
