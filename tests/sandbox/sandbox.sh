# shellcheck shell=sh
# The shell side of the sandbox, sourced (by sh or bash) by the completion and Ansible tests and
# by the benchmark scripts; not run.
#
# The tool has its paths built in under /etc/opt, /opt and /tmp. A script makes a scratch tree
# under /var/tmp (sandbox_make), enters a private mount namespace through the lumora_private_ns
# program of the build (sandbox_enter), and there binds the tree's etc_opt, opt and tmp over the real directories
# (sandbox_mount). The host's own /etc/opt, /opt and /tmp are never touched: sandbox_mount
# refuses to mount outside a private namespace, and checks that /etc/opt then shows the tree.
# Variables and functions are prefixed sandbox_ (SANDBOX_ROOT for the tree), as POSIX sh has no
# local variables and the scripts are sourced into their callers' shells.

SANDBOX_ROOT=
SANDBOX_MOUNTED=

# sandbox_make NAME: makes SANDBOX_ROOT, /var/tmp/lumora-NAME.XXXXXX, with the configuration
# directory under etc_opt, an opt, a tmp open to all as /tmp is, and the marker that tells the
# tree from the host's /etc/opt.
sandbox_make() {
  SANDBOX_ROOT=$(mktemp -d "/var/tmp/lumora-$1.XXXXXX") || return 1
  mkdir -p "$SANDBOX_ROOT/etc_opt/kelvane/scanner/lumora" "$SANDBOX_ROOT/opt" "$SANDBOX_ROOT/tmp" &&
    chmod 1777 "$SANDBOX_ROOT/tmp" &&
    : > "$SANDBOX_ROOT/etc_opt/.lumora-sandbox"
}

# sandbox_enter PRIVATE_NS COMMAND [ARG...]: runs COMMAND through the lumora_private_ns program
# PRIVATE_NS, telling it in SANDBOX_HOST_MNT_NS which mount namespace it was started from, and
# returns COMMAND's status.
sandbox_enter() {
  SANDBOX_HOST_MNT_NS=$(readlink /proc/self/ns/mnt) || SANDBOX_HOST_MNT_NS=
  if [ -z "$SANDBOX_HOST_MNT_NS" ]; then
    echo "sandbox: cannot read this process's mount namespace" >&2
    return 1
  fi
  export SANDBOX_HOST_MNT_NS
  "$@"
}

# sandbox_private NAME: fails, with a message naming the script NAME, unless this shell's mount
# namespace is known to differ from the one sandbox_enter was called in, from its parent's and,
# where it can be read, from that of process 1 (in some containers it cannot): a bind mount made
# in any of them would change the host's directories. It fails closed when its own namespace or
# sandbox_enter's cannot be read.
sandbox_private() {
  sandbox_ns=$(readlink /proc/self/ns/mnt) || sandbox_ns=
  if [ -z "$sandbox_ns" ] || [ -z "${SANDBOX_HOST_MNT_NS:-}" ] ||
     [ "$sandbox_ns" = "$SANDBOX_HOST_MNT_NS" ] ||
     [ "$sandbox_ns" = "$(readlink "/proc/$PPID/ns/mnt" 2>/dev/null)" ] ||
     [ "$sandbox_ns" = "$(readlink /proc/1/ns/mnt 2>/dev/null)" ]; then
    echo "$1: not in a private mount namespace; refusing to touch /etc/opt" >&2
    return 1
  fi
}

# sandbox_mount NAME DIR...: binds the tree's etc_opt, opt or tmp over each DIR (/etc/opt, /opt,
# /tmp; /etc/opt must be among them) in this private namespace, and checks that /etc/opt then
# shows the marker. SANDBOX_MOUNTED lists what sandbox_remove must unmount.
sandbox_mount() {
  sandbox_name=$1
  shift
  sandbox_private "$sandbox_name" || return 1
  if [ -z "$SANDBOX_ROOT" ] || [ ! -d "$SANDBOX_ROOT/etc_opt" ]; then
    echo "$sandbox_name: no sandbox tree (sandbox_make first)" >&2
    return 1
  fi
  for sandbox_dir in "$@"; do
    case $sandbox_dir in
      /etc/opt) sandbox_from=etc_opt ;;
      /opt) sandbox_from=opt ;;
      /tmp) sandbox_from=tmp ;;
      *) echo "$sandbox_name: $sandbox_dir is not a directory of the sandbox" >&2; return 1 ;;
    esac
    [ -d "$sandbox_dir" ] || { echo "$sandbox_name: mount point $sandbox_dir is missing on this host" >&2; return 1; }
    mount --bind "$SANDBOX_ROOT/$sandbox_from" "$sandbox_dir" ||
      { echo "$sandbox_name: cannot bind-mount $sandbox_dir" >&2; return 1; }
    SANDBOX_MOUNTED="$sandbox_dir $SANDBOX_MOUNTED"
  done
  [ -e /etc/opt/.lumora-sandbox ] || { echo "$sandbox_name: /etc/opt is not the sandbox" >&2; return 1; }
}

# sandbox_remove: unmounts what sandbox_mount mounted (most recent first) and removes the tree;
# meant for an EXIT trap. Outside the namespace nothing was mounted, so it only removes.
sandbox_remove() {
  for sandbox_dir in $SANDBOX_MOUNTED; do
    umount "$sandbox_dir" 2>/dev/null
  done
  SANDBOX_MOUNTED=
  if [ -n "$SANDBOX_ROOT" ]; then rm -rf -- "$SANDBOX_ROOT"; fi
}
