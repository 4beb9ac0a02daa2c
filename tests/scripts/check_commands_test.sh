#!/usr/bin/env bash
# Tests scripts/check_commands.py on small trees, each a script and a lib.sh: a program called
# through a wrapper, inside `bash -c`, `xargs` or a trap is found; a listed one passes; what
# runs after `chroot` or is a function passes; a package named in two lists fails; a program of
# a list installed on demand may be missing, but not unlisted when installed. Needs the
# programs it names installed (scripts/check-scripts.sh installs every list first).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
checker=$here/../../scripts/check_commands.py
work=$(mktemp -d -p /var/tmp lumora-check-commands.XXXXXX)
trap 'rm -rf -- "$work"' EXIT
failures=0
cases=0

# check NAME EXPECTED_STATUS EXPECTED_TEXT LISTS SCRIPT: makes a tree whose scripts/lib.sh
# holds LISTS and whose run.sh is SCRIPT, runs the checker on it and compares the status and,
# when EXPECTED_TEXT is not empty, finds it in the output.
check() {
  local name=$1 want=$2 text=$3 lists=$4 script=$5 tree status output
  tree=$work/$name
  mkdir -p "$tree/scripts"
  printf '%s\n' "$lists" > "$tree/scripts/lib.sh"
  printf '#!/usr/bin/env bash\n%s\n' "$script" > "$tree/run.sh"
  status=0
  output=$(python3 "$checker" --root "$tree" 2>&1) || status=$?
  cases=$((cases + 1))
  if [[ $status != "$want" ]] || { [[ -n $text ]] && ! grep -qF -- "$text" <<<"$output"; }; then
    echo "FAIL $name: status $status (expected $want), output:"
    printf '%s\n' "$output" | sed 's/^/    /'
    failures=$((failures + 1))
  else
    echo "ok   $name"
  fi
}

none='lumora_x_packages=(python3)'
check unlisted-behind-unshare 1 'run.sh:2: debootstrap comes from debootstrap' "$none" \
  'unshare --mount --propagation private -- debootstrap --variant=minbase bookworm /r'
check listed-behind-unshare 0 '' 'lumora_x_packages=(debootstrap)' \
  'unshare --mount --propagation private -- debootstrap --variant=minbase bookworm /r'
check inside-bash-c 1 'git comes from git' "$none" \
  "unshare --mount -- /bin/bash -euc 'mount -t proc proc /r/proc
git -C /r status' x"
check behind-xargs 1 'clang-tidy comes from' "$none" \
  'find src -name "*.cc" -print0 | xargs -0 -n 4 -P 2 clang-tidy -p build'
check in-a-trap 1 'cppcheck comes from cppcheck' "$none" "trap 'cppcheck src' EXIT"
check in-a-substitution 1 'shfmt comes from shfmt' "$none" 'v=$(shfmt --version)'
check in-a-dependency 0 '' 'lumora_x_packages=(g++)' 'strip -o out in'
check minimal-root 0 '' "$none" 'sed -n 1p f | awk "{ print }" | sort -u | tee out'
check after-chroot 0 '' "$none" 'chroot "$1" /usr/bin/env -i PATH=/bin lintian x.deb'
check a-function 0 '' "$none" 'debootstrap() { echo no; }
debootstrap bookworm'
check named-twice 1 'debootstrap is in lumora_a_packages, lumora_b_packages' \
  'lumora_a_packages=(debootstrap)
lumora_b_packages=(git debootstrap)' 'true'
check installs-itself 1 'run.sh:2: installs cppcheck itself' 'lumora_x_packages=(cppcheck)' \
  'apt-get install -y --no-install-recommends cppcheck ./local.deb'
check not-installed 1 'lumora-no-such-program is not installed' "$none" 'lumora-no-such-program'
on_demand='lumora_x_packages=(python3)
lumora_peer_packages=(python3-venv)
lumora_peer_programs=(lumora-no-such-program debootstrap)'
check on-demand-missing 0 '' "$on_demand" 'command -v lumora-no-such-program || lumora-no-such-program'
check on-demand-installed 1 'debootstrap comes from debootstrap' "$on_demand" 'debootstrap bookworm /r'
check on-demand-without-packages 1 'lumora_peer_programs names programs of no list of packages' \
  'lumora_peer_programs=(lumora-no-such-program)' 'true'

echo "$((cases - failures)) passed, $failures failed"
[[ $failures == 0 ]]
