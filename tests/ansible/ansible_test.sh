#!/usr/bin/env bash
# Tests the Ansible collection of contrib/ansible with Debian's ansible-core: plays run with
# ansible-playbook against the local host, with lumoraconf and lumoraconf-query of the build.
#
# Usage: ansible_test.sh SOURCE_DIR BIN_DIR PRIVATE_NS
#
# Runs as root. The script re-runs itself through PRIVATE_NS (the lumora_private_ns program of
# the test build: a private mount namespace, also inside a chroot whose / is not a mount point)
# where fresh directories under /var/tmp are bind-mounted over /etc/opt, /opt and /tmp, so the plays change files
# there, never the host's own. Ansible's home, temporary directories and collection path are
# scratch directories too, and it uses no network.
# The hostile words below hold $(...) and ${IFS} meant literally, in single quotes.
# shellcheck disable=SC2016
set -uo pipefail

source_dir=${1:?usage: ansible_test.sh SOURCE_DIR BIN_DIR PRIVATE_NS}
bin_dir=${2:?usage: ansible_test.sh SOURCE_DIR BIN_DIR PRIVATE_NS}
private_ns=${3:?usage: ansible_test.sh SOURCE_DIR BIN_DIR PRIVATE_NS}
source_dir=$(realpath "$source_dir")
bin_dir=$(realpath "$bin_dir")
# shellcheck source=tests/sandbox/sandbox.sh
source "$(dirname "$0")/../sandbox/sandbox.sh"

if [[ ${4-} != --in-namespace ]]; then
    [[ $(id -u) == 0 ]] || { echo "ansible_test: must run as root (for the mount namespace)" >&2; exit 1; }
    command -v ansible-playbook >/dev/null || { echo "ansible_test: ansible-playbook missing (apt-get install ansible-core)" >&2; exit 1; }
    for dir in /etc/opt /opt /tmp; do
        [[ -d $dir ]] || { echo "ansible_test: mount point $dir is missing on this host" >&2; exit 1; }
    done
    [[ -x $private_ns ]] || { echo "ansible_test: $private_ns is not a program" >&2; exit 1; }
    sandbox_enter "$private_ns" bash "$0" "$source_dir" "$bin_dir" "$private_ns" --in-namespace
    exit
fi

# --- inside the private mount namespace -------------------------------------------------------

sandbox_private ansible_test || exit 1
sandbox_make ansible || exit 1
sandbox=$SANDBOX_ROOT
trap sandbox_remove EXIT
# shellcheck source=tests/ansible/ansible_sandbox.sh
source "$(dirname "$0")/ansible_sandbox.sh"
sandbox_mount ansible_test /etc/opt /opt /tmp || exit 1
ansible_sandbox "$source_dir" "$bin_dir" || exit 1
config_dir=/etc/opt/kelvane/scanner/lumora
config_file=$config_dir//lumsanenetdevice.cfg

# Where the hostile words would create files: the sandbox's /tmp, short enough to keep the
# words within the length of a name.
export LUMORA_MARKER_DIR=/tmp
cd "$sandbox" || exit 1

# expect_config TEXT: the device configuration file holds exactly TEXT.
expect_config() {
    checks=$((checks + 1))
    local got
    got=$(cat "$config_file")
    [[ $got == "$1" ]] || fail "configuration file is [$got], expected [$1]"
}

# The modules' DOCUMENTATION, EXAMPLES and RETURN parse (one run of ansible-doc for all).
checks=$((checks + 1))
ansible-doc -t module lumoraconf.scanners.{scanner,backend_log,config_info,discovery_info} >"$sandbox/doc.log" 2>&1 ||
    { fail "ansible-doc cannot read the documentation of the modules"; cat "$sandbox/doc.log" >&2; }

printf '%s\n' \
    '[Support Model]' \
    '0x2e5a:0x500,1,0,"LX-500",1,1,a,b,c' \
    '0x2e5a:0x700,1,0,"LX-700",1,1,a,b,c' >"$config_dir//Lumsane.ini"

example=$source_dir/contrib/ansible/examples/site.yml
# The README's play is this one (less the line that says how to run it).
readme_play=$(awk '$0 == "<!-- fresh-machine: ansible-play -->" { s = 1; next }
    s == 1 && /^```/ { s = 2; next } s == 2 && /^```/ { exit } s == 2 { print }' "$source_dir/README.md")
checks=$((checks + 1))
[[ $readme_play == "$(grep -v '^# Run with' "$example")" ]] || fail "the README's play is not examples/site.yml"
play example-first 3 "$example"
expect_config $'log=/tmp/lum_sane.log , 1 , w\nDEVICE=lab , "LX-700" , 0x2e5a:0x700 , NODENAME=LQX_12345 \nDEVICE=office , "LX-500" , 0x2e5a:0x500 , IP-ADDRESS=192.168.1.20 '
play example-again 0 "$example"

# Check mode with the diff, as the README shows it: office moved by hand, the play puts it
# back. Nothing is written, and the diff holds the line the real run then writes.
lumoraconf -r office && lumoraconf -a name=office model=LX-500 ip=192.168.1.21
before=$(cat "$config_file")
play example-check 1 "$example" --check --diff
checks=$((checks + 1))
[[ $(cat "$config_file") == "$before" ]] || fail "check mode changed the configuration file"
for line in '-DEVICE=office , "LX-500" , 0x2e5a:0x500 , IP-ADDRESS=192.168.1.21 ' \
    '+DEVICE=office , "LX-500" , 0x2e5a:0x500 , IP-ADDRESS=192.168.1.20 '; do
    checks=$((checks + 1))
    grep -qxF -- "$line" "$sandbox/example-check.log" || fail "check mode with --diff does not show [$line]"
done
echo "ansible_test: check mode with the diff shows:"
sed -n '/^TASK \[Office/,/^TASK \[Lab/p' "$sandbox/example-check.log" | sed '$d'
play example-back 1 "$example" --diff
grep -qxF 'DEVICE=office , "LX-500" , 0x2e5a:0x500 , IP-ADDRESS=192.168.1.20 ' "$config_file" ||
    fail "the real run did not write the line check mode showed"

# The integration targets of the collection, each run as a role. The scanner target's full
# disk: a lumoraconf that meets a full /tmp (a tmpfs of its own, filled) when it adds, after
# the remove went through. It runs inside the sandbox's private mount namespace, so the new
# one's mounts are private already; setting the propagation of / would fail where / is no
# mount point (a chroot).
full_disk_tool=$sandbox/lumoraconf-full-disk
printf '%s\n' '#!/bin/bash' \
    'if [[ $1 != -a ]]; then exec lumoraconf "$@"; fi' \
    'exec unshare --mount --propagation unchanged bash -c '\''mount -t tmpfs -o size=8k tmpfs /tmp && (cat /dev/zero >/tmp/filler) 2>/dev/null; exec lumoraconf "$@"'\'' lumoraconf "$@"' \
    >"$full_disk_tool"
chmod 755 "$full_disk_tool"
export LUMORA_FULL_DISK_TOOL=$full_disk_tool
export ANSIBLE_ROLES_PATH=$source_dir/contrib/ansible/tests/integration/targets
# One play runs them all, each a role: every run of ansible-playbook costs seconds of start.
targets=()
for target in "$ANSIBLE_ROLES_PATH"/*/; do
    target=$(basename "$target")
    # A target marked unsupported needs more than the local host (discovery_info: the network
    # lab of ansible_discovery_test.sh, so that no query leaves on this host's links).
    if grep -qx unsupported "$ANSIBLE_ROLES_PATH/$target/aliases"; then
        echo "ansible_test: target $target: run by its own test"
        continue
    fi
    targets+=("$target")
done
role_play all "${targets[@]}"
checks=$((checks + 1))
# Each target's vars are its own, as when it runs alone.
if ANSIBLE_PRIVATE_ROLE_VARS=true ansible-playbook "$sandbox/target-all.yml" >"$sandbox/target-all.log" 2>&1; then
    echo "ansible_test: targets ${targets[*]}: $(grep -E 'ok=[0-9]+' "$sandbox/target-all.log" | sed 's/  */ /g')"
else
    fail "integration targets ${targets[*]}"
    cat "$sandbox/target-all.log" >&2
fi
checks=$((checks + 1))
leftovers=$(ls -A /tmp)
[[ -z $leftovers ]] || fail "a hostile word reached a shell, or files were left in /tmp: $leftovers"
checks=$((checks + 1))
pycache=$(find "$source_dir/contrib/ansible" -name __pycache__)
[[ -z $pycache ]] || fail "bytecode was written into the tree: $pycache"

echo "ansible_test: $checks checks, $failures failed"
((failures == 0))
