#!/usr/bin/env bash
# Tests lumoraconf.scanners.discovery_info and the play examples/discover.yml against real
# multicast DNS responders, in private networks only.
#
# Usage: ansible_discovery_test.sh SOURCE_DIR BIN_DIR PRIVATE_NS
#
# Runs as root. The script re-runs itself through PRIVATE_NS (the lumora_private_ns program of
# the test build) where the sandbox's directories stand in for /etc/opt, /opt and /tmp (as in
# ansible_test.sh), and makes the lab of tests/discovery/netns_lab.sh: the querier's network
# namespace joined by a veth pair to a responder's (its own dbus-daemon and avahi-daemon).
# ansible-playbook runs only through the lab's guard, inside the querier's namespace, so no
# query of the module leaves the lab. On any exit the responder is stopped, the test checks
# that none of its processes is left, and the namespaces are deleted.
#
#   querier  vq1 10.77.1.1/24 ---- vr1 10.77.1.2/24  responder (avahi)
set -uo pipefail

source_dir=${1:?usage: ansible_discovery_test.sh SOURCE_DIR BIN_DIR PRIVATE_NS}
bin_dir=${2:?usage: ansible_discovery_test.sh SOURCE_DIR BIN_DIR PRIVATE_NS}
private_ns=${3:?usage: ansible_discovery_test.sh SOURCE_DIR BIN_DIR PRIVATE_NS}
source_dir=$(realpath "$source_dir")
bin_dir=$(realpath "$bin_dir")
# shellcheck source=tests/sandbox/sandbox.sh
source "$source_dir/tests/sandbox/sandbox.sh"
# shellcheck source=tests/discovery/netns_lab.sh
source "$source_dir/tests/discovery/netns_lab.sh"

if [[ ${4-} != --in-namespace ]]; then
    lab_host ansible_discovery_test ansible-playbook || exit 1
    [[ -x $private_ns ]] || { echo "ansible_discovery_test: $private_ns is not a program" >&2; exit 1; }
    sandbox_enter "$private_ns" bash "$0" "$source_dir" "$bin_dir" "$private_ns" --in-namespace
    exit
fi

# --- inside the private mount namespace -------------------------------------------------------

sandbox_private ansible_discovery_test || exit 1
ansible_tag=ansible_discovery_test
# shellcheck source=tests/ansible/ansible_sandbox.sh
source "$source_dir/tests/ansible/ansible_sandbox.sh"

cleanup() {
    lab_end || fail "the lab was not left clean (above)"
    sandbox_remove
    echo "ansible_discovery_test: $checks checks, $failures failed"
    ((failures == 0)) || exit 1
}
trap cleanup EXIT
trap 'exit 1' INT TERM

sandbox_make ansible-discovery || exit 1
sandbox_mount ansible_discovery_test /etc/opt /opt /tmp || exit 1
ansible_sandbox "$source_dir" "$bin_dir" || exit 1
config_file=/etc/opt/kelvane/scanner/lumora//lumsanenetdevice.cfg
# The catalogue of the discovery test: LS-10-PRO is known only through its scrambled line.
cp "$source_dir/tests/discovery/Lumsane.ini" /etc/opt/kelvane/scanner/lumora/Lumsane.ini
cd "$SANDBOX_ROOT" || exit 1

lab_begin || { fail "cannot set up the private networks"; exit 1; }
ns_q=lumansd$$-q
ns_r=lumansd$$-r
if ! { lab_add "$ns_q" "$ns_r" && lab_link "$ns_q" vq1 10.77.1.1/24 "$ns_r" vr1 10.77.1.2/24; }; then
    fail "cannot make and link the namespaces"
    exit 1
fi
# A scanner the catalogue knows by a plain line, also announced as a printer that scans; a
# printer that scans, known only through the scrambled line; a scanner the catalogue does not
# know; a printer that does not scan, of a model the catalogue does not know.
tab=$'\t'
cat >"$SANDBOX_ROOT/services" <<SERVICES
Office Scanner${tab}_uscan._tcp${tab}80${tab}ty=Kelvane LumaScan MX-200${tab}rs=eSCL
Office Scanner${tab}_ipp._tcp${tab}631${tab}ty=Kelvane LumaScan MX-200${tab}Scan=T
Hall MFP${tab}_ipp._tcp${tab}631${tab}ty=Kelvane LS-10-PRO series${tab}Scan=T
Lab Scanner${tab}_uscan._tcp${tab}8080${tab}ty=Other Maker Z9
Print Only${tab}_ipp._tcp${tab}631${tab}ty=Other Maker P1
SERVICES
lab_responder "$ns_r" lumtest-one vr1 "$SANDBOX_ROOT/services"
lab_wait_ready lumtest-one || { fail "the responder did not come up"; exit 1; }

lab_guard "$ns_q"
ansible_prefix=("${lab_guarded[@]}")

# The integration target: what the module returns, check mode, an interface that does not
# exist. It reports no change.
export ANSIBLE_ROLES_PATH=$source_dir/contrib/ansible/tests/integration/targets
role_play discovery_info discovery_info
play target-discovery_info 0 "$SANDBOX_ROOT/target-discovery_info.yml"

# The example play. In check mode it would register the two scanners of known models and
# writes nothing; the one the catalogue does not know is listed and skipped.
example=$source_dir/contrib/ansible/examples/discover.yml
play example-check 1 "$example" --check
checks=$((checks + 1))
[[ ! -e $config_file ]] || fail "check mode wrote $(cat "$config_file")"
for line in 'skipping: [localhost] => (item=Lab Scanner)' '        "Lab Scanner"'; do
    checks=$((checks + 1))
    grep -qF -- "$line" "$SANDBOX_ROOT/example-check.log" ||
        fail "example-check: the unknown scanner is not shown skipped ([$line] missing)"
done

# A real run registers them by address, each under the name discover proposes; a second run
# changes nothing.
play example 1 "$example"
expected=('DEVICE=Office_Scanner , "MX-200" , 0x2e5a:0x105 , IP-ADDRESS=10.77.1.2 '
          'DEVICE=Hall_MFP , "LS-10-PRO" , 0x2e5a:0x107 , IP-ADDRESS=10.77.1.2 ')
checks=$((checks + 1))
if [[ $(sort "$config_file") != "$(printf '%s\n' "${expected[@]}" | sort)" ]]; then
    fail "the device file is [$(cat "$config_file")], expected the lines [${expected[*]}]"
fi
echo "ansible_discovery_test: the example play registered:"
cat "$config_file"
play example-again 0 "$example"
