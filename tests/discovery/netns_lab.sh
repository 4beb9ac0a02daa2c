# shellcheck shell=bash
# The private networks of the discovery test and benchmark, sourced (by bash) after
# tests/sandbox/sandbox.sh; not run. lab_host runs before sandbox_enter, the rest inside the
# private mount namespace and after sandbox_make.
#
# lab_begin mounts a tmpfs over /run/netns, so the network namespaces the caller names are
# seen by nobody else. Commands reach a namespace only through the prefix of lab_guard, which
# refuses to run the command unless it finds itself inside that namespace and not in the one
# named by LUMORA_HOST_NETNS (the caller's, exported before sandbox_enter). Responders record
# their processes; lab_end stops them, checks that none of them, and no process at all in the
# lab's namespaces, is left, and deletes the namespaces. Variables and functions are prefixed
# lab_.

lab_namespaces=()
lab_pids=()
lab_mounted=
lab_problems=0
lab_guarded=()

lab_problem() {
  echo "FAIL: $*" >&2
  lab_problems=$((lab_problems + 1))
}

# lab_host NAME TOOL...: run in the caller's namespaces, before sandbox_enter: fails, with a
# message naming the script NAME, unless this is root and the lab's programs and every TOOL are
# installed; exports LUMORA_HOST_NETNS and LUMORA_HOST_MNTNS, the namespaces that the guard and
# the responders refuse to run in.
lab_host() {
  local name=$1 tool
  shift
  [[ $(id -u) == 0 ]] || { echo "$name: must run as root" >&2; return 1; }
  for tool in ip nsenter unshare dbus-daemon avahi-daemon avahi-publish "$@"; do
    command -v "$tool" >/dev/null ||
      { echo "$name: $tool is missing (scripts/lib.sh installs it)" >&2; return 1; }
  done
  LUMORA_HOST_NETNS=$(readlink /proc/self/ns/net) || LUMORA_HOST_NETNS=
  [[ -n $LUMORA_HOST_NETNS ]] ||
    { echo "$name: cannot read this process's network namespace" >&2; return 1; }
  LUMORA_HOST_MNTNS=$(readlink /proc/self/ns/mnt)
  export LUMORA_HOST_NETNS LUMORA_HOST_MNTNS
}

# lab_begin: checks that this is a private mount namespace and not the caller's network
# namespace, and mounts the tmpfs over /run/netns.
lab_begin() {
  sandbox_private netns_lab || return 1
  [[ -n ${LUMORA_HOST_NETNS:-} && $(readlink /proc/self/ns/net) == "$LUMORA_HOST_NETNS" ]] ||
    { echo "netns_lab: LUMORA_HOST_NETNS is not this shell's network namespace" >&2; return 1; }
  if ! { mkdir -p /run/netns && mount -t tmpfs -o mode=0755 lumora-netns /run/netns; }; then
    echo "netns_lab: cannot mount over /run/netns" >&2
    return 1
  fi
  lab_mounted=1
}

# lab_add NAME...: makes network namespaces with their loopback up.
lab_add() {
  local ns
  for ns in "$@"; do
    ip netns add "$ns" || return 1
    lab_namespaces+=("$ns")
    lab_ip "$ns" link set lo up || return 1
  done
}

# lab_link NS_A IF_A ADDRESS_A NS_B IF_B [ADDRESS_B]: a veth pair between two namespaces, both
# ends up, with the addresses given (CIDR; an empty one gives that end none, as for a bridge
# port).
lab_link() {
  lab_ip "$1" link add "$2" type veth peer name "$5" netns "$4" &&
    { [[ -z $3 ]] || lab_ip "$1" addr add "$3" dev "$2"; } && lab_ip "$1" link set "$2" up &&
    { [[ -z ${6-} ]] || lab_ip "$4" addr add "$6" dev "$5"; } && lab_ip "$4" link set "$5" up
}

# lab_no_dad NS...: IPv6 addresses of links made later in these namespaces are usable at once,
# without the second or two of duplicate address detection (the lab's links hold no duplicates).
lab_no_dad() {
  local ns
  for ns in "$@"; do
    nsenter --net="/run/netns/$ns" sh -c 'echo 0 >/proc/sys/net/ipv6/conf/all/accept_dad &&
      echo 0 >/proc/sys/net/ipv6/conf/default/accept_dad' || return 1
  done
}

# lab_guard NS: sets lab_guarded to the prefix that runs a command in namespace NS of the lab.
# lab_ip NS ARG...: ip in namespace NS. Not `ip -n`, which, like `ip netns exec`, remounts / as
# a slave and so fails where / is no mount point (a chroot, as on the fresh roots).
lab_ip() {
  local ns=$1
  shift
  nsenter --net="/run/netns/$ns" ip "$@"
}

# nsenter joins the network namespace alone: `ip netns exec` also remounts / as a slave, which
# fails where / is no mount point (a chroot, as on the fresh roots), and the lab needs none of it.
lab_guard() {
  # shellcheck disable=SC2016  # expanded by the inner bash
  lab_guarded=(nsenter --net="/run/netns/$1" bash -c '
    [[ $(ip netns identify) == "$1" && $(readlink /proc/self/ns/net) != "$LUMORA_HOST_NETNS" ]] ||
      { echo "netns_lab: not inside namespace $1; refusing to run $2" >&2; exit 99; }
    shift
    exec "$@"' lab_guard "$1")
}

# lab_background NS COMMAND [ARG...]: starts COMMAND in namespace NS as a process of its own,
# which lab_end stops.
lab_background() {
  lab_guard "$1"
  shift
  (exec "${lab_guarded[@]}" "$@") &
  lab_pids+=($!)
}

# lab_stop PID: stops a process lab_background started, waits for it, and forgets it, so that
# lab_end does not signal that number again (another process may have it by then).
lab_stop() {
  local i
  kill -TERM "$1" 2>/dev/null
  wait "$1" 2>/dev/null
  for i in "${!lab_pids[@]}"; do
    [[ ${lab_pids[i]} != "$1" ]] || unset 'lab_pids[i]'
  done
}

# lab_responder NS HOST_NAME INTERFACE SERVICES_FILE: starts avahi_responder.sh (its own
# dbus-daemon and avahi-daemon over a private /run) in NS, its state in
# $SANDBOX_ROOT/state-HOST_NAME.
lab_responder() {
  local state=$SANDBOX_ROOT/state-$2
  mkdir -p "$state"
  # The lab runs in the test's private mount namespace, so the new one's mounts are private
  # already; setting the propagation of / fails where / is no mount point (a chroot).
  lab_background "$1" unshare --mount --propagation unchanged \
    bash "$(dirname "${BASH_SOURCE[0]}")/avahi_responder.sh" "$state" "$2" "$3" "$4"
}

# lab_wait_ready HOST_NAME...: waits up to 60 s until these responders have published.
lab_wait_ready() {
  local host all _
  for _ in $(seq 600); do
    all=1
    for host in "$@"; do
      [[ -e $SANDBOX_ROOT/state-$host/ready ]] || all=0
    done
    ((all == 1)) && return 0
    sleep 0.1
  done
  echo "netns_lab: the responders did not come up" >&2
  return 1
}

# lab_end: stops what lab_background started and deletes the namespaces; returns 1, with a
# message for each, when something of the lab was left running.
lab_end() {
  local pid ns left
  for pid in "${lab_pids[@]}"; do
    kill -TERM "$pid" 2>/dev/null
  done
  for pid in "${lab_pids[@]}"; do
    wait "$pid" 2>/dev/null
  done
  lab_pids=()
  for ns in "${lab_namespaces[@]}"; do
    left=$(ip netns pids "$ns" 2>/dev/null)
    if [[ -n $left ]]; then
      lab_problem "processes left in $ns: $(ps -o pid=,comm= -p "${left//$'\n'/,}" | tr '\n' ' ')"
      # shellcheck disable=SC2086  # one pid a word
      kill -KILL $left 2>/dev/null
    fi
    ip netns del "$ns" 2>/dev/null || lab_problem "cannot delete namespace $ns"
  done
  lab_namespaces=()
  if [[ -n $SANDBOX_ROOT ]]; then
    while read -r pid; do
      if kill -0 "$pid" 2>/dev/null; then
        lab_problem "responder process $pid is still running"
        kill -KILL "$pid" 2>/dev/null
      fi
    done < <(cat "$SANDBOX_ROOT"/state-*/pids 2>/dev/null)
  fi
  [[ -z $lab_mounted ]] || umount /run/netns 2>/dev/null
  lab_mounted=
  ((lab_problems == 0))
}
