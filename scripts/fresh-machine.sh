#!/usr/bin/env bash
# Proves the README on fresh machines: bootstraps a minimal Debian root of SUITE (bookworm or
# trixie) from Debian's archive under /var/tmp, and in copies of it, each a plain chroot whose /
# is not a mount point:
#   root A: the Quick start command and the test command exactly as README.md has them (found
#           by their `<!-- fresh-machine: NAME -->` markers), and last, on trixie, the release's
#           static analysers (scripts/static-analysis.sh; Debian 12's run in CI's own hardening
#           stage, with the sanitizers and the fuzzers, which need no second release);
#   root B: the README's package section, line by line, and lintian on both packages (no
#           error, no warning); on trixie also scripts/reproducible.sh (Debian 12's run is CI's
#           own stage);
#   root C: the package alone installed with apt (the count of packages it pulls in is
#           printed), a registration with it, and apt purge; then both packages installed with
#           apt, and the README's example play run against the local host twice (3 changed,
#           then 0), with the collection where the package put it; then the collection purged,
#           which must leave nothing of it (the bytecode Python wrote beside it included).
# The tree is a clone of this checkout's HEAD: only committed work is proven. Every stage runs
# in its own mount and PID namespace, so /proc, /sys, the root's own /dev and the shared apt
# cache mounted into a root vanish with it, and no process outlives it. A root never sees the
# host's /dev: a package's maintainer script run inside it could change the host's device nodes.
# Any failure fails the script; it prints each stage's time.
#
# Usage: scripts/fresh-machine.sh SUITE        (as root, on Debian, from anywhere)
#   LUMORA_KEEP_ROOTS=1        keep the roots under /var/tmp when a stage fails
#   LUMORA_APT_CACHE=DIR       the .deb cache shared by the roots and by later runs
#                              (default /var/tmp/lumora-apt-cache/SUITE)
#   LUMORA_MIRROR=URL          Debian mirror (default http://deb.debian.org/debian)
#   LUMORA_FRESH_ANALYSIS=0|1  run scripts/static-analysis.sh in root A (default: 1 on trixie only)
#   LUMORA_FRESH_REPRODUCIBLE=0|1 run scripts/reproducible.sh in root B (default: 1 on trixie only)
set -euo pipefail

usage() {
  echo "usage: $0 bookworm|trixie" >&2
  exit 2
}
[[ $# == 1 ]] || usage
suite=$1
case $suite in
  bookworm | trixie) ;;
  *) usage ;;
esac
[[ $(id -u) == 0 ]] || { echo "fresh-machine: must run as root (debootstrap, chroot)" >&2; exit 1; }

tree=$(cd "$(dirname "$0")/.." && pwd)
lumora_stage_prefix="fresh-machine $suite"
# shellcheck source=scripts/lib.sh
source "$tree/scripts/lib.sh"
# What this script runs on the host itself (the roots install their own).
lumora_apt_install "${lumora_fresh_machine_packages[@]}" "${lumora_source_packages[@]}"
readme=$tree/README.md
mirror=${LUMORA_MIRROR:-http://deb.debian.org/debian}
cache=${LUMORA_APT_CACHE:-/var/tmp/lumora-apt-cache/$suite}
keep=${LUMORA_KEEP_ROOTS:-}
if [[ -n ${LUMORA_FRESH_ANALYSIS:-} ]]; then
  analysis=$LUMORA_FRESH_ANALYSIS
elif [[ $suite == trixie ]]; then
  analysis=1
else
  analysis=0
fi
if [[ -n ${LUMORA_FRESH_REPRODUCIBLE:-} ]]; then
  reproducible=$LUMORA_FRESH_REPRODUCIBLE
elif [[ $suite == trixie ]]; then
  reproducible=1
else
  reproducible=0
fi
# Where the tree lies in a root: root's home, as a newcomer would clone it.
project=/root/lumoraconf
example_line='DEVICE=example , "EXAMPLE-1" , Unknown , IP-ADDRESS=127.0.0.1 '

# --- the README's commands ---------------------------------------------------------------------
# The fenced block after the marker `<!-- fresh-machine: NAME -->`, which must stand once.
readme_block() {
  local marker="<!-- fresh-machine: $1 -->" count block
  count=$(grep -cxF -- "$marker" "$readme" || true)
  if [[ $count != 1 ]]; then
    echo "fresh-machine: README.md has the marker '$marker' $count times, expected once" >&2
    return 1
  fi
  block=$(awk -v m="$marker" '
    $0 == m { state = 1; next }
    state == 1 && /^```/ { state = 2; next }
    state == 1 && NF { exit }
    state == 2 && /^```/ { exit }
    state == 2 { print }' "$readme")
  if [[ -z $block ]]; then
    echo "fresh-machine: no fenced block right after '$marker' in README.md" >&2
    return 1
  fi
  printf '%s\n' "$block"
}
quick_start=$(readme_block quick-start)
test_line=$(readme_block tests)
package_section=$(readme_block package)
example_play=$(readme_block ansible-play)

# --- the roots' scratch ---------------------------------------------------------------------
work=$(mktemp -d -p /var/tmp "lumora-fresh-$suite.XXXXXX")

# A root may only be removed once no mount lies under it (each stage's mounts live in its own
# namespace, so none should); --one-file-system keeps rm on the root's own file system whatever
# happens.
remove_roots() {
  if grep -qF " $work/" /proc/self/mountinfo; then
    echo "fresh-machine: mounts remain under $work; left in place" >&2
    return 1
  fi
  rm -rf --one-file-system -- "$work"
}
finish() {
  local status=$?
  if [[ $status != 0 ]]; then
    [[ -n $lumora_stage_name ]] &&
      echo "fresh-machine $suite: stage '$lumora_stage_name' failed after $((SECONDS - lumora_stage_start))s" >&2
    lumora_stage_report >&2
    if [[ -n $keep ]]; then
      echo "fresh-machine: roots kept in $work (LUMORA_KEEP_ROOTS)" >&2
      return
    fi
  fi
  remove_roots || true
}
trap finish EXIT

# in_root ROOT COMMAND...: runs COMMAND (with /bin/sh of the root) chrooted into ROOT, in new
# mount and PID namespaces, with a fresh /proc, the host's /sys, a /dev of the root's own and
# the shared apt cache; a clean environment as a root login has it, no standard input. The
# namespaces end with COMMAND, and every mount and process with them.
#
# The /dev is a tmpfs holding the nodes that builds, tests and package scripts open (made with
# mknod, the kernel's fixed numbers; fuse for disorderfs, which reproducible.sh's file order
# variation mounts), a private devpts instance for terminals, and /dev/shm.
in_root() {
  local root=$1
  shift
  # shellcheck disable=SC2016  # expanded by the inner shell
  unshare --mount --propagation private --pid --fork -- /bin/bash -euc '
    root=$1 cache=$2
    shift 2
    mount -t proc proc "$root/proc"
    mount --rbind /sys "$root/sys"
    dev=$root/dev
    mount -t tmpfs -o mode=755,nosuid,size=1m dev "$dev"
    for node in null:1:3 zero:1:5 full:1:7 random:1:8 urandom:1:9 tty:5:0 fuse:10:229; do
      IFS=: read -r name major minor <<<"$node"
      mknod -m 666 "$dev/$name" c "$major" "$minor"
    done
    mkdir "$dev/pts" "$dev/shm"
    mount -t devpts -o newinstance,ptmxmode=0666,mode=0620,gid=5 devpts "$dev/pts"
    ln -s pts/ptmx "$dev/ptmx"
    mount -t tmpfs -o mode=1777,nosuid,nodev shm "$dev/shm"
    ln -s /proc/self/fd "$dev/fd"
    ln -s /proc/self/fd/0 "$dev/stdin"
    ln -s /proc/self/fd/1 "$dev/stdout"
    ln -s /proc/self/fd/2 "$dev/stderr"
    mount --bind "$cache" "$root/var/cache/apt/archives"
    exec chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb \
      PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@"
  ' in_root "$root" "$cache" "$@" </dev/null
}

# new_root NAME: a copy of the pristine root, with this checkout's HEAD cloned into it.
new_root() {
  local root=$work/$1
  cp -a "$work/pristine" "$root"
  git clone -q --no-hardlinks "$tree" "$root$project"
  git -C "$root$project" checkout -q --detach "$head"
}

head=$(git -C "$tree" rev-parse HEAD)
echo "fresh-machine $suite: proving $head (committed work only) in $work"
if ! git -C "$tree" diff --quiet HEAD; then
  echo "fresh-machine: note: uncommitted changes in $tree are not part of the proof"
fi

# --- the pristine root -------------------------------------------------------------------------
lumora_stage_begin "debootstrap --variant=minbase"
mkdir -p "$cache/partial"
# In a mount namespace of its own, so the /proc and /sys it mounts into the root go with it.
unshare --mount --propagation private -- \
  debootstrap --variant=minbase --cache-dir="$cache" "$suite" "$work/pristine" "$mirror"
# A chroot has no init: package scripts must not start daemons in it (the usual policy of
# chroots and package builders; they would outlive the stage).
printf '#!/bin/sh\nexit 101\n' >"$work/pristine/usr/sbin/policy-rc.d"
chmod 755 "$work/pristine/usr/sbin/policy-rc.d"
cp /etc/resolv.conf "$work/pristine/etc/resolv.conf"
lumora_stage_end

# --- root A: Quick start, tests, hardening -----------------------------------------------------
lumora_stage_begin "root A: copy and clone"
new_root a
if mountpoint -q "$work/a"; then
  echo "fresh-machine: $work/a is a mount point; the tests must run where / is not one" >&2
  exit 1
fi
lumora_stage_end

lumora_stage_begin "root A: Quick start (README)"
in_root "$work/a" /bin/sh -xc "cd $project && $quick_start" | tee "$work/quick-start.log"
if ! grep -qxF -- "$example_line" "$work/quick-start.log"; then
  echo "fresh-machine: the Quick start did not print the example device line" >&2
  exit 1
fi
lumora_stage_end

lumora_stage_begin "root A: test line (README)"
in_root "$work/a" /bin/sh -xc "cd $project && $test_line"
lumora_stage_end

# --- root B: the package section and lintian ---------------------------------------------------
lumora_stage_begin "root B: copy and clone"
new_root b
lumora_stage_end

lumora_stage_begin "root B: package section (README)"
in_root "$work/b" /bin/sh -exc "cd $project
$package_section"
lumora_stage_end

lumora_stage_begin "root B: lintian"
in_root "$work/b" /bin/sh -ec "
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends lintian >/dev/null
  lintian --version
  cd $project
  lintian --fail-on error,warning --display-info build-deb/lumoraconf_*.deb build-deb/lumoraconf-ansible_*.deb
  echo 'lintian: no error, no warning'
  # The overridden tags, for the record (lintian counts them as found when shown).
  lintian --show-overrides --tags dir-or-file-in-etc-opt,unusual-interpreter \
    build-deb/lumoraconf_*.deb build-deb/lumoraconf-ansible_*.deb || true"
lumora_stage_end
if [[ $reproducible == 1 ]]; then
  lumora_stage_begin "root B: scripts/reproducible.sh"
  in_root "$work/b" /bin/sh -xc "cd $project && bash scripts/reproducible.sh"
  lumora_stage_end
fi
for name in lumoraconf lumoraconf-ansible; do
  debs=("$work/b$project/build-deb/$name"_*.deb)
  if [[ ${#debs[@]} != 1 || ! -f ${debs[0]} ]]; then
    echo "fresh-machine: the package section left no single build-deb/${name}_*.deb" >&2
    exit 1
  fi
  cp "${debs[0]}" "$work/"
done

# --- root C: the package alone -----------------------------------------------------------------
lumora_stage_begin "root C: apt-get install ./lumoraconf_*.deb"
rm -rf --one-file-system -- "${work:?}/b"
cp -a "$work/pristine" "$work/c"
cp "$work"/lumoraconf_*.deb "$work"/lumoraconf-ansible_*.deb "$work/c/root/"
in_root "$work/c" /bin/sh -ec "
  cd /root
  apt-get update
  apt-get install -y ./lumoraconf_*.deb
  lumoraconf -a name=example model=EXAMPLE-1 ip=127.0.0.1
  grep -qxF '$example_line' /etc/opt/kelvane/scanner/lumora//lumsanenetdevice.cfg
  lumoraconf -r example
  if grep -q example /etc/opt/kelvane/scanner/lumora//lumsanenetdevice.cfg; then exit 1; fi
  apt-get purge -y lumoraconf
  if [ -e /usr/bin/lumoraconf ]; then exit 1; fi
  echo 'left in /etc/opt after apt purge:'
  find /etc/opt" | tee "$work/install.log"
pulled=$(sed -n 's/^\([0-9]*\) upgraded, \([0-9]*\) newly installed.*/\2/p' "$work/install.log" | head -n 1)
echo "fresh-machine $suite: apt-get install ./lumoraconf_*.deb on a fresh root installs $pulled packages (lumoraconf included)"
lumora_stage_end

lumora_stage_begin "root C: both packages, the README's play, purge"
printf '%s\n' "$example_play" >"$work/c/root/site.yml"
# The models of the play, in the catalogue the backend's package would bring; the local host
# as the group the play names, reached as root through su (a minimal root has no sudo).
printf '%s\n' '[Support Model]' '0x2e5a:0x500,1,0,"LX-500",1,1,a,b,c' '0x2e5a:0x700,1,0,"LX-700",1,1,a,b,c' \
  >"$work/c/root/Lumsane.ini"
printf '[scanner_hosts]\nlocalhost ansible_connection=local ansible_become_method=su\n' >"$work/c/root/inventory"
in_root "$work/c" /bin/sh -ec "
  cd /root
  apt-get install -y ./lumoraconf_*.deb ./lumoraconf-ansible_*.deb
  cp Lumsane.ini /etc/opt/kelvane/scanner/lumora/
  for run in first second; do
    ansible-playbook -i inventory site.yml | tee play-\$run.log
  done
  grep -q 'localhost *: ok=5 *changed=3 .*failed=0' play-first.log
  grep -q 'localhost *: ok=5 *changed=0 .*failed=0' play-second.log
  collection=/usr/share/ansible/collections/ansible_collections/lumoraconf
  # Ansible compiles the modules in memory and leaves no bytecode; Python run on the collection
  # as root (a test run, compileall) writes it beside the sources, which the purge must remove.
  python3 -m compileall -q \$collection
  bytecode=\$(find \$collection -name __pycache__ | wc -l)
  echo \"bytecode beside the collection before the purge: \$bytecode directories\"
  test \"\$bytecode\" -gt 0
  apt-get purge -y lumoraconf-ansible
  if [ -e \$collection ]; then echo 'left after apt purge lumoraconf-ansible:'; find \$collection; exit 1; fi
  cat /etc/opt/kelvane/scanner/lumora//lumsanenetdevice.cfg"
lumora_stage_end

# --- root A again: the release's static analysers --------------------------------------------
if [[ $analysis == 1 ]]; then
  lumora_stage_begin "root A: scripts/static-analysis.sh"
  in_root "$work/a" /bin/sh -xc "cd $project && bash scripts/static-analysis.sh"
  lumora_stage_end
fi

echo
echo "=== fresh-machine $suite: all stages passed"
lumora_stage_report
