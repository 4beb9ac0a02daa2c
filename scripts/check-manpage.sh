#!/usr/bin/env bash
# Checks the man page: groff -man -ww -z, and groff at 80 columns, must succeed without printing
# anything, mandoc's lint must be clean when mandoc is installed, and the rendered page must
# document every option word, every file and every message a script may match, exactly as the
# tool prints them.
# Usage: scripts/check-manpage.sh [MANPAGE]   (default doc/lumoraconf.8)
set -euo pipefail
cd "$(dirname "$0")/.."
page=${1:-doc/lumoraconf.8}
status=0

command -v groff >/dev/null || { echo "check-manpage: groff is missing (apt-get install groff-base)" >&2; exit 1; }

if ! out=$(groff -man -ww -z "$page" 2>&1) || [[ -n $out ]]; then
  echo "check-manpage: groff -man -ww -z $page reports:" >&2
  printf '%s\n' "$out" >&2
  status=1
fi

# man formats for the terminal, 80 columns being the usual width: no line it cannot adjust or
# break there either.
if ! out=$(groff -man -ww -Tutf8 -rLL=80n "$page" 2>&1 >/dev/null) || [[ -n $out ]]; then
  echo "check-manpage: groff -man -ww -Tutf8 -rLL=80n $page reports:" >&2
  printf '%s\n' "$out" >&2
  status=1
fi

if command -v mandoc >/dev/null; then
  if ! out=$(mandoc -T lint "$page" 2>&1) || [[ -n $out ]]; then
    echo "check-manpage: mandoc -T lint $page reports:" >&2
    printf '%s\n' "$out" >&2
    status=1
  fi
else
  echo "check-manpage: mandoc not installed, its lint was not run"
fi

# Rendered on very long lines, so that no text is broken, with runs of blanks squeezed (the
# adjustment may widen them).
text=$(groff -man -Tascii -rLL=1000n -P-cbou "$page" 2>/dev/null | tr -s ' ')
required=(
  # sections
  NAME SYNOPSIS DESCRIPTION OPTIONS FILES "EXIT STATUS" EXAMPLES SAFETY
  # option words, the unlisted ones included
  "-a name=FRIENDLY-NAME model=MODEL-NAME ip=A.B.C.D"
  "-a name=FRIENDLY-NAME model=MODEL-NAME nodename=NODENAME"
  "-r FRIENDLY-NAME" "-q" "-d" "-D3" "-p" "-s:LABEL" "-l:LABEL" "-LI" "-LO" "-h"
  "name=" "model=" "ip=" "nodename="
  # files
  "/etc/opt/kelvane/scanner/lumora//lumsanenetdevice.cfg"
  "/etc/opt/kelvane/scanner/lumora/LABEL.lumoraconf"
  "/etc/opt/kelvane/scanner/lumora//models/*.ini"
  "/etc/opt/kelvane/scanner/lumora//Lumsane.ini"
  "/tmp/lumsane_tempfile5_XXXXXX"
  "/opt/kelvane/scanner/lumora/lumora_gnetconfig"
  "/opt/kelvane/scanner/lumora/lumora_cnetconfig"
  "/opt/kelvane/scanner/lumora/lumora_cnetconfig --query-network-scanner"
  # formats
  'DEVICE=NAME , "MODEL" , ID , IP-ADDRESS=A.B.C.D'
  'DEVICE=NAME , "MODEL" , ID , NODENAME=NODENAME'
  "log=PATH , LEVEL , MODE"
  "log=/tmp/lum_sane.log , 1 , w"
  "0xVENDOR:0xPRODUCT" "Unknown" "[Support Model]" "?#"
  # messages
  "Invalid name"
  '"NAME" is already registered.'
  "Invalid IP address or NODENAME"
  "Invalid IP address (IP)"
  "Invalid parameter"
  "Cannot write /etc/opt/kelvane/scanner/lumora//lumsanenetdevice.cfg"
  "Cannot write /tmp/lumsane_tempfile5_XXXXXX"
  "exits with status 0"
)
for want in "${required[@]}"; do
  if ! grep -qF -- "$want" <<<"$text"; then
    echo "check-manpage: the rendered page lacks: $want" >&2
    status=1
  fi
done

((status == 0)) && echo "check-manpage: $page is clean"
exit "$status"
