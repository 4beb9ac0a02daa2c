#!/usr/bin/env bash
# Proves that the Debian packages rebuild to the same bytes: reprotest builds the committed tree
# twice, the second time under every variation that works as root on a build machine or in a
# container, and compares every .deb that cpack made (lumoraconf, and any other package the
# tree defines). Fails when any package differs; diffoscope then shows where.
#
# Variations on: environment, build_path, kernel, aslr, num_cpus, time, fileordering,
# domain_host (where it can work, see below), home, locales, exec_path, timezone, umask. Off:
# user_group, which needs a second account on the machine to build as (reprotest does not make
# one, and CI must not add accounts to the host it runs on). cpack itself runs under umask 022, as dpkg-buildpackage
# --sanitize-env does: the modes of the .deb's own members (debian-binary, control.tar,
# data.tar) are those cpack's files get from the umask, and CPack has no setting for them; the
# compiler, the install into the staging tree and everything else run under the varied umask.
#
# Usage: scripts/reproducible.sh        (as root, on Debian 12 or 13, from anywhere)
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/lib.sh
source scripts/lib.sh

lumora_apt_install "${lumora_build_packages[@]}" "${lumora_source_packages[@]}" \
  "${lumora_reproducible_packages[@]}"

# Only committed work, as fresh-machine.sh proves it: a build directory or an edit lying in the
# checkout must not make the two builds agree or differ.
work=$(mktemp -d -p /var/tmp lumora-reprotest.XXXXXX)
trap 'rm -rf -- "$work"' EXIT
mkdir "$work/tree"
git archive --format=tar HEAD | tar -xf - -C "$work/tree"
echo "reproducible: building $(git rev-parse HEAD) twice"

build='cmake -S . -B build-deb -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMORA_BUILD_TESTS=OFF &&
cmake --build build-deb && cd build-deb && umask 022 && cpack -G DEB'
# --store-dir keeps the packages for the listing below; reprotest's own scratch directories go
# under $work too (TMPDIR), not into /tmp.
# The host and domain names: reprotest changes them in a new UTS namespace, which it makes
# either inside a user namespace of its own or with `sudo -h localhost unshare`. A chroot
# refuses the user namespace, and Debian 12's sudo refuses -h outside a listing; the first way
# that works here is taken, and with neither the variation is off, said aloud.
variations=+all,-user_group
if unshare --user --map-root-user --uts true 2>/dev/null; then
  :
elif sudo -h localhost true 2>/dev/null; then
  variations+=,domain_host.use_sudo=1
else
  variations+=,-domain_host
  echo "reproducible: no user namespace and no sudo -h here: host and domain names not varied" >&2
fi
if ! TMPDIR=$work reprotest --verbosity 1 --vary="$variations" \
       --store-dir "$work/results" -c "$build" "$work/tree" 'build-deb/*.deb'; then
  echo "reproducible: the packages differ between the two builds, or a build failed (above)" >&2
  exit 1
fi
echo "reproducible: identical in both builds:"
(cd "$work/results" && find . -name '*.deb' -exec sha256sum {} + | sort -k 2)
