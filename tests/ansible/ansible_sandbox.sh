# shellcheck shell=bash
# Ansible inside the sandbox, for the Ansible tests: sourced (by bash) after
# tests/sandbox/sandbox.sh, inside the private mount namespace and after sandbox_make; not run.
#
# ansible_sandbox sets up ansible-playbook to run the collection of the tree against the local
# host with the build's programs and nothing of this machine's Ansible setup; play runs a play
# and counts it. Checks are counted in checks, failures in failures.

checks=0
failures=0

# ansible_tag: the name play prints its lines under. ansible_prefix: words play puts before
# ansible-playbook (the guard of a network namespace).
ansible_tag=${ansible_tag:-ansible_test}
ansible_prefix=()

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# ansible_sandbox SOURCE_DIR BIN_DIR: Ansible's home, temporary directories, configuration,
# inventory (the group scanner_hosts: localhost, local connection) and collection path under
# $SANDBOX_ROOT, the collection a link to SOURCE_DIR/contrib/ansible, BIN_DIR first on PATH.
ansible_sandbox() {
    local sandbox=$SANDBOX_ROOT
    mkdir -p "$sandbox/home" "$sandbox/ansible-tmp" "$sandbox/collections/ansible_collections/lumoraconf" &&
        ln -s "$1/contrib/ansible" "$sandbox/collections/ansible_collections/lumoraconf/scanners" &&
        printf '[defaults]\n' >"$sandbox/ansible.cfg" &&
        printf '[scanner_hosts]\nlocalhost ansible_connection=local ansible_python_interpreter=/usr/bin/python3\n' \
            >"$sandbox/inventory" || return 1
    export HOME=$sandbox/home
    export ANSIBLE_CONFIG=$sandbox/ansible.cfg
    export ANSIBLE_HOME=$sandbox/home/.ansible
    export ANSIBLE_LOCAL_TEMP=$sandbox/ansible-tmp
    export ANSIBLE_REMOTE_TEMP=$sandbox/ansible-tmp
    export ANSIBLE_COLLECTIONS_PATH=$sandbox/collections
    export ANSIBLE_COLLECTIONS_SCAN_SYS_PATH=false
    export ANSIBLE_INVENTORY=$sandbox/inventory
    export ANSIBLE_GATHERING=explicit
    export ANSIBLE_RETRY_FILES_ENABLED=false
    export ANSIBLE_NOCOLOR=1
    export ANSIBLE_FORCE_COLOR=0
    export ANSIBLE_LOCALHOST_WARNING=false
    export ANSIBLE_DEPRECATION_WARNINGS=false
    export ANSIBLE_GALAXY_DISABLE_GPG_VERIFY=true
    export ANSIBLE_PYTHON_INTERPRETER=/usr/bin/python3
    # Loading the modules writes no bytecode into the tree.
    export PYTHONDONTWRITEBYTECODE=1
    export PATH=$2:/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
}

# play NAME EXPECTED_CHANGED FILE [OPTION...]: runs the play, which must succeed and report
# EXPECTED_CHANGED changed tasks in its recap; its output is in $SANDBOX_ROOT/NAME.log.
play() {
    local name=$1 expected=$2 file=$3
    shift 3
    checks=$((checks + 1))
    local log=$SANDBOX_ROOT/$name.log
    if ! "${ansible_prefix[@]}" ansible-playbook -e ansible_become=false "$@" "$file" >"$log" 2>&1; then
        fail "$name: ansible-playbook failed"
        cat "$log" >&2
        return
    fi
    local changed
    changed=$(grep -o 'changed=[0-9]*' "$log" | head -n 1)
    echo "$ansible_tag: $name: $(grep -E 'ok=[0-9]+' "$log" | sed 's/  */ /g')"
    [[ $changed == "changed=$expected" ]] || { fail "$name: $changed, expected changed=$expected"; cat "$log" >&2; }
}

# role_play NAME TARGET...: the play that runs the integration targets TARGET... of the
# collection as roles, in this order, written to $SANDBOX_ROOT/target-NAME.yml
# (ANSIBLE_ROLES_PATH names the targets).
role_play() {
    local name=$1 roles
    shift
    roles=$(IFS=,; echo "$*")
    printf -- '- name: Integration targets %s\n  hosts: scanner_hosts\n  gather_facts: false\n  roles: [%s]\n' \
        "$roles" "$roles" >"$SANDBOX_ROOT/target-$name.yml"
}
