#!/usr/bin/env bash
# Lints the man page of lumoraconf-query (groff -man -ww -z prints nothing, nor does
# mandoc -T lint) and checks that it documents every command and option of the usage.
# Usage: manpage_test.sh MANPAGE QUERY_BINARY
set -uo pipefail
page=${1:?usage: manpage_test.sh MANPAGE QUERY_BINARY}
query=${2:?usage: manpage_test.sh MANPAGE QUERY_BINARY}
status=0
fail() {
    echo "FAIL: $*" >&2
    status=1
}

if ! out=$(groff -man -ww -z "$page" 2>&1) || [[ -n $out ]]; then
    fail "groff -man -ww -z $page: $out"
fi
command -v mandoc >/dev/null || fail "mandoc is missing (apt-get install mandoc)"
if ! out=$(mandoc -T lint "$page" 2>&1) || [[ -n $out ]]; then
    fail "mandoc -T lint $page: $out"
fi

text=$(groff -man -Tascii -rLL=1000n -P-cbou "$page" 2>/dev/null | tr -s ' ')
usage=$("$query" --help)
# Every command and option the usage names (the words at the start of its lines).
mapfile -t words < <(sed -n 's/^  \([-a-z]*\) .*/\1/p' <<<"$usage")
((${#words[@]} >= 6)) || fail "the usage lists only ${#words[@]} commands and options: $usage"
for word in "${words[@]}" "EXIT STATUS" ENCODING surrogateescape \
    /etc/opt/kelvane/scanner/lumora//lumsanenetdevice.cfg; do
    [[ $text == *"$word"* ]] || fail "the man page does not mention $word"
done
((status == 0)) && echo "manpage_test: $page is fine"
exit "$status"
