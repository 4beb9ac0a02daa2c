#!/usr/bin/env bash
# Builds the Debian packages in a configured build directory and checks them. lumoraconf: the
# files it carries (stripped binary, man page, bash completion, configuration directory,
# copyright, changelog, lintian overrides), that they are the ones of this tree, and its
# control fields (name, section, Depends, Recommends, Suggests). lumoraconf-ansible: the
# collection's files where Ansible finds them, the same as the tree's, and nothing else;
# architecture all; Depends on lumoraconf of the same version and on ansible-core.
# Usage: scripts/check-package.sh BUILD_DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: check-package.sh BUILD_DIR}" && pwd)
status=0
fail() {
  echo "check-package: $*" >&2
  status=1
}

rm -f "$build"/lumoraconf_*.deb "$build"/lumoraconf-ansible_*.deb
(cd "$build" && cpack -G DEB)
debs=("$build"/lumoraconf_*.deb)
if [[ ${#debs[@]} != 1 || ! -f ${debs[0]} ]]; then
  echo "check-package: cpack made no single lumoraconf_*.deb in $build" >&2
  exit 1
fi
deb=${debs[0]}
echo "check-package: checking $deb"

# --- contents ---------------------------------------------------------------------------------
listing=$(dpkg-deb -c "$deb")
# mode and path of one entry ("" when absent)
entry() { awk -v p="$1" '$NF == p { print $1 }' <<<"$listing"; }
expect_entry() {  # PATH MODE
  local mode
  mode=$(entry "$1")
  if [[ -z $mode ]]; then
    fail "the package lacks $1"
  elif [[ $mode != "$2" ]]; then
    fail "$1 has mode $mode, expected $2"
  fi
}
expect_entry ./usr/bin/lumoraconf -rwxr-xr-x
expect_entry ./usr/bin/lumoraconf-query -rwxr-xr-x
expect_entry ./usr/share/man/man1/lumoraconf-query.1.gz -rw-r--r--
expect_entry ./usr/share/bash-completion/completions/lumoraconf -rw-r--r--
expect_entry ./etc/opt/kelvane/scanner/lumora/ drwxr-xr-x
expect_entry ./usr/share/doc/lumoraconf/copyright -rw-r--r--
expect_entry ./usr/share/doc/lumoraconf/changelog.gz -rw-r--r--
expect_entry ./usr/share/lintian/overrides/lumoraconf -rw-r--r--
manpage=
for candidate in ./usr/share/man/man8/lumoraconf.8.gz ./usr/share/man/man8/lumoraconf.8; do
  [[ -n $(entry "$candidate") ]] && manpage=$candidate
done
if [[ -z $manpage ]]; then
  fail "the package lacks the man page ./usr/share/man/man8/lumoraconf.8[.gz]"
else
  expect_entry "$manpage" -rw-r--r--
fi
# Nothing outside the places above (and their parent directories).
while read -r path; do
  case $path in
    ./ | ./usr/ | ./usr/bin/ | ./usr/bin/lumoraconf | ./usr/share/ | ./usr/share/man/ | \
    ./usr/share/man/man8/ | ./usr/share/man/man8/lumoraconf.8* | ./usr/share/bash-completion/ | \
    ./usr/bin/lumoraconf-query | ./usr/share/man/man1/ | ./usr/share/man/man1/lumoraconf-query.1.gz | \
    ./usr/share/bash-completion/completions/ | ./usr/share/bash-completion/completions/lumoraconf | \
    ./etc/ | ./etc/opt/ | ./etc/opt/kelvane/ | ./etc/opt/kelvane/scanner/ | \
    ./etc/opt/kelvane/scanner/lumora/ | ./usr/share/doc/ | ./usr/share/doc/lumoraconf/ | \
    ./usr/share/doc/lumoraconf/copyright | ./usr/share/doc/lumoraconf/changelog.gz | \
    ./usr/share/lintian/ | ./usr/share/lintian/overrides/ | \
    ./usr/share/lintian/overrides/lumoraconf) ;;
    *) fail "unexpected entry in the package: $path" ;;
  esac
done < <(awk '{ print $NF }' <<<"$listing")

# The files are the ones of this tree and of this build.
unpacked=$(mktemp -d -p /var/tmp lumora-deb.XXXXXX)
trap 'rm -rf -- "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
cmp -s "$unpacked/usr/share/bash-completion/completions/lumoraconf" "$root/completion/lumoraconf.bash" ||
  fail "the packaged completion differs from completion/lumoraconf.bash"
if [[ -n $manpage ]]; then
  if [[ $manpage == *.gz ]]; then
    gzip -dc "$unpacked/$manpage" | cmp -s - "$root/doc/lumoraconf.8" ||
      fail "the packaged man page differs from doc/lumoraconf.8"
  else
    cmp -s "$unpacked/$manpage" "$root/doc/lumoraconf.8" ||
      fail "the packaged man page differs from doc/lumoraconf.8"
  fi
fi
# The package carries the build's binaries stripped (CPACK_STRIP_FILES runs plain strip).
for program in lumoraconf lumoraconf-query; do
  strip -o "$unpacked/stripped" "$build/$program"
  cmp -s "$unpacked/usr/bin/$program" "$unpacked/stripped" ||
    fail "the packaged binary is not $build/$program stripped"
  rm -f "$unpacked/stripped"
done
gzip -dc "$unpacked/usr/share/man/man1/lumoraconf-query.1.gz" | cmp -s - "$root/doc/lumoraconf-query.1" ||
  fail "the packaged man page differs from doc/lumoraconf-query.1"
# (readelf's output is taken whole first: grep -q would stop reading early, and pipefail would
# count readelf's broken pipe as a failure.)
elf() { readelf "$@" "$unpacked/usr/bin/lumoraconf"; }
grep -q '\.symtab' <<<"$(elf -S -W)" && fail "the packaged binary has a symbol table"
# Debian's hardening: relocations bound at start-up, fortified libc calls.
grep -q 'FLAGS.*BIND_NOW' <<<"$(elf -d -W)" || fail "the binary is not linked with -z now"
grep -q GNU_RELRO <<<"$(elf -l -W)" || fail "the binary is not linked with -z relro"
grep -q '__[a-z_]*_chk@' <<<"$(elf --dyn-syms -W)" ||
  fail "the binary calls no fortified libc function (-D_FORTIFY_SOURCE)"
cmp -s "$unpacked/usr/share/doc/lumoraconf/copyright" "$root/packaging/copyright" ||
  fail "the packaged copyright differs from packaging/copyright"
cmp -s "$unpacked/usr/share/lintian/overrides/lumoraconf" "$root/packaging/lintian-overrides" ||
  fail "the packaged lintian overrides differ from packaging/lintian-overrides"
gzip -dc "$unpacked/usr/share/doc/lumoraconf/changelog.gz" | cmp -s - "$root/packaging/changelog" ||
  fail "the packaged changelog differs from packaging/changelog"
head -n 1 "$root/packaging/copyright" |
  grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
  fail "packaging/copyright is not in Debian's machine-readable format"

# --- control fields ---------------------------------------------------------------------------
field() { dpkg-deb -f "$deb" "$1"; }
[[ $(field Package) == lumoraconf ]] || fail "Package is '$(field Package)', expected lumoraconf"
[[ $(field Section) == admin ]] || fail "Section is '$(field Section)', expected admin"
[[ $(field Architecture) == "$(dpkg --print-architecture)" ]] ||
  fail "Architecture is '$(field Architecture)'"
[[ -n $(field Maintainer) ]] || fail "Maintainer is empty"
[[ -n $(field Version) ]] || fail "Version is empty"
changelog_version=$(sed -n '1s/^lumoraconf (\([^)]*\)).*/\1/p' "$root/packaging/changelog")
[[ $(field Version) == "$changelog_version" ]] ||
  fail "Version is '$(field Version)', the changelog's latest entry is '$changelog_version'"
[[ $(field Recommends) == "iputils-ping" ]] ||
  fail "Recommends is '$(field Recommends)', expected 'iputils-ping'"
[[ $(field Suggests) == "sane-utils" ]] ||
  fail "Suggests is '$(field Suggests)', expected 'sane-utils'"

depends=$(field Depends)
# package names of the Depends field, one a line, without version constraints
mapfile -t depends_names < <(tr ',|' '\n' <<<"$depends" | sed 's/(.*)//; s/^ *//; s/ *$//' | sed '/^$/d')
has_dep() { printf '%s\n' "${depends_names[@]}" | grep -qx -- "$1"; }
# Essential packages are never named.
for dep in coreutils sed dash bash grep; do
  has_dep "$dep" && fail "Depends names the essential package $dep: '$depends'"
done
# The C library always: from dpkg-shlibdeps, or named as such without it.
has_dep libc6 || fail "Depends lacks libc6: '$depends'"
if command -v dpkg-shlibdeps >/dev/null && command -v file >/dev/null; then
  # the runtime libraries of the binary; the C++ one only when it is not linked in
  # (LUMORA_STATIC_LIBSTDCXX)
  runtime_deps=(libc6)
  if readelf -d "$unpacked/usr/bin/lumoraconf" | grep -q 'NEEDED.*libstdc++'; then
    runtime_deps+=(libstdc++6)
  elif has_dep libstdc++6; then
    fail "Depends names libstdc++6, but the binary does not load it: '$depends'"
  fi
  for dep in "${runtime_deps[@]}"; do
    has_dep "$dep" || fail "Depends lacks $dep (from dpkg-shlibdeps): '$depends'"
  done
fi
# lumoraconf-query's discover loads ldns (libldns3, libldns3t64 on Debian 13), libxml2 and libcurl
# (libcurl4, libcurl4t64 on Debian 13); lumoraconf itself loads nothing but the C library (and
# the C++ one when it is not linked in).
needed=$(readelf -d "$unpacked/usr/bin/lumoraconf-query" | grep NEEDED)
for library in "libldns libldns3 libldns3t64" "libxml2 libxml2 libxml2" "libcurl libcurl4 libcurl4t64"; do
  read -r soname package package_t64 <<<"$library"
  if grep -q "$soname\." <<<"$needed"; then
    has_dep "$package" || has_dep "$package_t64" || fail "Depends lacks $package: '$depends'"
  else
    fail "lumoraconf-query does not load $soname"
  fi
done
if readelf -d "$unpacked/usr/bin/lumoraconf" | grep 'NEEDED' | grep -vqE 'lib(c|m|stdc\+\+|gcc_s)\.so|ld-linux'; then
  fail "lumoraconf loads a library beyond the C and C++ ones: $(readelf -d "$unpacked/usr/bin/lumoraconf" | grep NEEDED)"
fi
for dep in sane-utils iputils-ping; do
  has_dep "$dep" && fail "$dep must be recommended, not a dependency: '$depends'"
done

echo "check-package: Depends: $depends"
echo "check-package: Recommends: $(field Recommends)"
echo "check-package: Suggests: $(field Suggests)"

# --- lumoraconf-ansible -----------------------------------------------------------------------
ansible_debs=("$build"/lumoraconf-ansible_*_all.deb)
if [[ ${#ansible_debs[@]} != 1 || ! -f ${ansible_debs[0]} ]]; then
  fail "cpack made no single lumoraconf-ansible_*_all.deb in $build"
else
  ansible_deb=${ansible_debs[0]}
  echo "check-package: checking $ansible_deb"
  afield() { dpkg-deb -f "$ansible_deb" "$1"; }
  [[ $(afield Package) == lumoraconf-ansible ]] || fail "Package is '$(afield Package)', expected lumoraconf-ansible"
  [[ $(afield Architecture) == all ]] || fail "Architecture is '$(afield Architecture)', expected all"
  [[ $(afield Section) == admin ]] || fail "Section is '$(afield Section)', expected admin"
  [[ $(afield Version) == "$(field Version)" ]] ||
    fail "lumoraconf-ansible has version '$(afield Version)', lumoraconf '$(field Version)'"
  [[ $(afield Depends) == "lumoraconf (= $(field Version)), ansible-core" ]] ||
    fail "lumoraconf-ansible Depends is '$(afield Depends)'"
  [[ -z $(afield Recommends)$(afield Suggests) ]] || fail "lumoraconf-ansible recommends or suggests something"
  collection=./usr/share/ansible/collections/ansible_collections/lumoraconf/scanners
  # The collection's files as the tree has them, less its tests and what Python or git leave
  # (read from the tree itself: the tests also run where no git is installed).
  mapfile -t expected < <(cd "$root/contrib/ansible" &&
                          find . -type f ! -path './tests/*' ! -name .gitignore ! -path '*/__pycache__/*' |
                          sed "s|^\./|$collection/|" | sort)
  expected+=(./usr/share/doc/lumoraconf-ansible/copyright ./usr/share/doc/lumoraconf-ansible/changelog.gz
             ./usr/share/lintian/overrides/lumoraconf-ansible)
  mapfile -t files < <(dpkg-deb -c "$ansible_deb" | awk '$1 !~ /^d/ { print $NF }' | sort)
  mapfile -t expected < <(printf '%s\n' "${expected[@]}" | sort)
  [[ "${files[*]}" == "${expected[*]}" ]] ||
    fail "lumoraconf-ansible holds [$(printf '%s ' "${files[@]}")], expected [$(printf '%s ' "${expected[@]}")]"
  while read -r mode path; do
    [[ $mode == -rw-r--r-- ]] || fail "$path in lumoraconf-ansible has mode $mode"
  done < <(dpkg-deb -c "$ansible_deb" | awk '$1 !~ /^d/ { print $1, $NF }')
  mkdir "$unpacked/ansible"
  dpkg-deb -x "$ansible_deb" "$unpacked/ansible"
  for path in "${files[@]}"; do
    case $path in
      "$collection"/*) cmp -s "$unpacked/ansible/$path" "$root/contrib/ansible/${path#"$collection"/}" ||
                         fail "$path differs from contrib/ansible" ;;
    esac
  done
  cmp -s "$unpacked/ansible/$collection/LICENSE" "$root/LICENSE" || fail "the collection's LICENSE is not the project's"
  cmp -s "$unpacked/ansible/usr/share/lintian/overrides/lumoraconf-ansible" "$root/packaging/lintian-overrides-ansible" ||
    fail "the packaged lintian overrides differ from packaging/lintian-overrides-ansible"
fi

((status == 0)) && echo "check-package: $deb and the collection's package are fine"
exit "$status"
