#!/usr/bin/env bash
# Checks what the documents say about the tree against the tree: the man pages carry one date,
# and the README's source layout names, for every source unit without a unit test file of its
# own, the end-to-end tests that prove it (files that exist), and no unit that has one.
# Usage: documents_test.sh SOURCE_DIR
# The README's code marks are backquotes, meant literally in single quotes.
# shellcheck disable=SC2016
set -uo pipefail
cd "${1:?usage: documents_test.sh SOURCE_DIR}" || exit 1
status=0
fail() {
    echo "FAIL: $*" >&2
    status=1
}

# The date is the third word of each page's .TH line.
mapfile -t dates < <(awk '$1 == ".TH" { print FILENAME ": " $4 }' doc/*.[0-9])
((${#dates[@]} >= 2)) || fail "expected at least two man pages with a .TH line, found: ${dates[*]-}"
if [[ $(printf '%s\n' "${dates[@]}" | sed 's/^.*: //' | sort -u | wc -l) != 1 ]]; then
    fail "the man pages carry different dates: ${dates[*]}"
fi

# The README's row for tests/ in the source layout table.
row=$(grep '^| `tests/` |' README.md)
[[ -n $row ]] || fail "README.md has no source layout row for tests/"
for unit in src/*/*.cc; do
    dir=${unit#src/}
    dir=${dir%%/*}
    test_file=tests/$dir/$(basename "$unit" .cc)_test.cc
    if [[ -f $test_file ]]; then
        [[ $row == *"\`$unit\`"* ]] && fail "README.md says $unit is proven only end to end, but $test_file exists"
    else
        [[ $row == *"\`$unit\`"* ]] || fail "$unit has no $test_file and README.md does not say which end-to-end tests prove it"
    fi
done
# Every test file the row names exists.
mapfile -t named < <(grep -o '`tests/[^`]*_test\.cc`' <<<"$row" | tr -d '`')
((${#named[@]} > 0)) || fail "README.md's tests/ row names no end-to-end test file"
for file in "${named[@]}"; do
    [[ -f $file ]] || fail "README.md names $file, which does not exist"
done

((status == 0)) && echo "documents_test: man page dates and the README's test layout agree with the tree"
exit "$status"
