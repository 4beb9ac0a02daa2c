#!/usr/bin/env bash
# Runs every `ansible-test sanity` test of Debian's ansible-core on the collection of
# contrib/ansible, offline. ansible-test wants the collection under
# ansible_collections/NAMESPACE/NAME, so a copy is tested in a scratch directory.
#
# Usage: sanity_test.sh SOURCE_DIR
#
# The tests that need Python packages run ansible-test in virtual environments of its own,
# which it fills from the network. Here none is reached: where a run stops for want of pip,
# the environment it asked for is made from Debian's Python with its system packages
# (python3-voluptuous, yamllint, pylint, pycodestyle, jinja2, yaml: scripts/lib.sh installs
# them) and marked ready, and the test runs again in it. A test that fails, or needs another
# download, fails this script. Bytecode is never written, so the tree stays as it was.
set -uo pipefail

source_dir=$(realpath "${1:?usage: sanity_test.sh SOURCE_DIR}")
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
export PYTHONDONTWRITEBYTECODE=1
command -v ansible-test >/dev/null || { echo "sanity_test: ansible-test missing (apt-get install ansible-core)" >&2; exit 1; }

scratch=$(mktemp -d -p /var/tmp lumora-sanity.XXXXXX) || exit 1
trap 'rm -rf -- "$scratch"' EXIT
collection=$scratch/ansible_collections/lumoraconf/scanners
mkdir -p "$scratch/home" "$scratch/tmp" "$(dirname "$collection")"
cp -r "$source_dir/contrib/ansible" "$collection"
export HOME=$scratch/home TMPDIR=$scratch/tmp
cd "$collection" || exit 1
python=$(/usr/bin/python3 -c 'import sys; print("%d.%d" % sys.version_info[:2])')
ignore=tests/sanity/ignore-$(ansible --version | sed -n '1s/.*core \([0-9]*\.[0-9]*\).*/\1/p').txt
[[ -f $ignore ]] || { echo "sanity_test: no $ignore for this ansible-core" >&2; exit 1; }

# The environments ansible-test made and left without its mark: made again from Debian's
# Python and its packages, without pip, and marked.
seed_environments() {
    local dir seeded=1
    for dir in "$HOME"/.ansible/test/venv/*/*/*; do
        [[ -d $dir && ! -e $dir/marker.txt ]] || continue
        rm -rf -- "$dir"
        /usr/bin/python3 -m venv --system-site-packages --without-pip "$dir" || return 1
        echo '[]' >"$dir/meta.install.json"
        echo true >"$dir/meta.yaml.json"
        echo "Debian's packages" >"$dir/marker.txt"
        seeded=0
    done
    return "$seeded"
}

# Python modules that a sanity test of some ansible-core imports and that no Debian release
# packages: ansible-core 2.19 (Debian 13) has validate-modules read the documentation's markup
# with antsibull_docs_parser. Such a test cannot run without a download; it is reported as not
# run, with the module it lacks. Any other missing module fails the test: scripts/lib.sh must
# install it.
unpackaged_modules=(antsibull_docs_parser)

# Prints the unpackaged module that the run logged in $1 stopped for want of, if any.
missing_unpackaged_module() {
    local module
    for module in "${unpackaged_modules[@]}"; do
        if grep -q "No module named '$module'" "$1"; then
            echo "$module"
            return 0
        fi
    done
    return 1
}

mapfile -t tests < <(ansible-test sanity --list-tests)
((${#tests[@]} > 0)) || { echo "sanity_test: ansible-test lists no sanity test" >&2; exit 1; }
failed=() not_run=()
for test in "${tests[@]}"; do
    log=$scratch/$test.log
    # Each environment a test asks for costs one run that stops for want of pip.
    passed=
    for _ in 1 2 3 4; do
        if ansible-test sanity --python "$python" --color no --test "$test" >"$log" 2>&1; then
            passed=1
            break
        fi
        grep -q 'does not have pip available' "$log" || break
        seed_environments || break
    done
    if [[ -z $passed ]] && module=$(missing_unpackaged_module "$log"); then
        echo "sanity_test: $test not run: it imports $module, which Debian does not package"
        not_run+=("$test")
    elif [[ -z $passed ]]; then
        echo "sanity_test: $test FAILED"
        cat "$log"
        failed+=("$test")
    elif grep -qi 'skipping' "$log"; then
        echo "sanity_test: $test skipped: $(grep -i skipping "$log" | head -n 1)"
    else
        echo "sanity_test: $test passed"
    fi
done
# The tarball ansible-galaxy builds carries the licence that galaxy.yml names.
checks_failed=0
if ! cmp -s "$source_dir/contrib/ansible/LICENSE" "$source_dir/LICENSE"; then
    echo "sanity_test: contrib/ansible/LICENSE is not the project's LICENSE"
    checks_failed=1
elif ! ansible-galaxy collection build --output-path "$scratch/built" . >"$scratch/build.log" 2>&1; then
    echo "sanity_test: ansible-galaxy collection build failed"
    cat "$scratch/build.log"
    checks_failed=1
elif ! tar -xzOf "$scratch"/built/lumoraconf-scanners-*.tar.gz LICENSE | cmp -s - "$source_dir/LICENSE"; then
    echo "sanity_test: the built collection has no LICENSE, or another one"
    checks_failed=1
else
    echo "sanity_test: ansible-galaxy collection build: $(basename "$scratch"/built/*.tar.gz) carries LICENSE"
fi
((checks_failed == 0)) || failed+=(galaxy-build)
echo "sanity_test: ${#tests[@]} sanity tests, ${#failed[@]} failed${failed[*]:+: ${failed[*]}}${not_run[*]:+, not run: ${not_run[*]}}"
((${#failed[@]} == 0))
