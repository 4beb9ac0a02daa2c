#!/usr/bin/env bash
# Tests the bash completion of lumoraconf in a real bash with bash-completion loaded.
#
# Usage: completion_test.sh COMPLETION_FILE PRIVATE_NS
#
# Runs as root, with lumoraconf-query on PATH (the completion asks it). The script re-runs
# itself through PRIVATE_NS (the lumora_private_ns program of the test build: a private mount
# namespace, also inside a chroot whose / is not a mount point) and there bind-mounts a fresh
# directory under /var/tmp over /etc/opt, so the models, registered names and saved labels it
# completes come from files it writes there, never from the host's own /etc/opt.
# The odd names below hold $(...) and ${IFS} meant literally, in single quotes.
# shellcheck disable=SC2016
set -uo pipefail

completion_file=${1:?usage: completion_test.sh COMPLETION_FILE PRIVATE_NS}
completion_file=$(realpath "$completion_file")
private_ns=${2:?usage: completion_test.sh COMPLETION_FILE PRIVATE_NS}
bash_completion=/usr/share/bash-completion/bash_completion
# shellcheck source=tests/sandbox/sandbox.sh
source "$(dirname "$0")/../sandbox/sandbox.sh"

if [[ ${3-} != --in-namespace ]]; then
    [[ $(id -u) == 0 ]] || { echo "completion_test: must run as root (for the mount namespace)" >&2; exit 1; }
    [[ -f $bash_completion ]] || { echo "completion_test: $bash_completion missing (apt-get install bash-completion)" >&2; exit 1; }
    [[ -d /etc/opt ]] || { echo "completion_test: mount point /etc/opt is missing on this host" >&2; exit 1; }
    [[ -x $private_ns ]] || { echo "completion_test: $private_ns is not a program" >&2; exit 1; }
    sandbox_enter "$private_ns" bash "$0" "$completion_file" "$private_ns" --in-namespace
    exit
fi

# --- inside the private mount namespace -------------------------------------------------------

sandbox_private completion_test || exit 1
command -v lumoraconf-query >/dev/null ||
    { echo "completion_test: lumoraconf-query is not on PATH" >&2; exit 1; }
sandbox_make completion || exit 1
sandbox=$SANDBOX_ROOT
trap sandbox_remove EXIT
sandbox_mount completion_test /etc/opt || exit 1
config_dir=/etc/opt/kelvane/scanner/lumora
config_file=$config_dir//lumsanenetdevice.cfg
catalogue=$config_dir//Lumsane.ini
models_dir=$config_dir//models

# bash-completion is written for interactive shells; load it without -u.
set +u
# shellcheck source=/dev/null
source "$bash_completion"
# shellcheck source=/dev/null
source "$completion_file"
set -u

# compopt only works while readline runs a completion; record what the function asks for.
compopt_calls=()
compopt() { compopt_calls+=("$*"); }

failures=0
checks=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# Splits a command line (cursor at its end) into COMP_WORDS as bash does: blanks separate
# words, a backslash keeps the next character in the word, and each run of the word-break
# characters '=' and ':' that are in COMP_WORDBREAKS is a word of its own.
split_line() {
    local line=$1 word='' ch breaks='' i
    [[ $COMP_WORDBREAKS == *=* ]] && breaks+="="
    [[ $COMP_WORDBREAKS == *:* ]] && breaks+=":"
    local in_break=0
    COMP_WORDS=()
    for ((i = 0; i < ${#line}; i++)); do
        ch=${line:i:1}
        if [[ $ch == "\\" ]]; then
            if ((in_break)); then COMP_WORDS+=("$word"); word=; in_break=0; fi
            word+=${line:i:2}
            i=$((i + 1))
        elif [[ $ch == ' ' ]]; then
            [[ -n $word ]] && COMP_WORDS+=("$word")
            word=
            in_break=0
        elif [[ -n $breaks && $breaks == *"$ch"* ]]; then
            if ((!in_break)) && [[ -n $word ]]; then COMP_WORDS+=("$word"); word=; fi
            word+=$ch
            in_break=1
        else
            if ((in_break)); then COMP_WORDS+=("$word"); word=; in_break=0; fi
            word+=$ch
        fi
    done
    COMP_WORDS+=("$word")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
}

# complete LINE: runs the completion function for LINE with the cursor at its end and leaves
# the result in COMPREPLY (sorted into `got`) and compopt_calls.
complete_line() {
    COMP_LINE=$1
    COMP_POINT=${#COMP_LINE}
    split_line "$COMP_LINE"
    COMPREPLY=()
    compopt_calls=()
    local registration
    registration=$(complete -p lumoraconf 2>/dev/null) || { fail "no completion registered for lumoraconf"; return; }
    local func=${registration#*-F }
    func=${func%% *}
    "$func" lumoraconf "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]-}"
    mapfile -t got < <(printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort)
    [[ ${#COMPREPLY[@]} == 0 ]] && got=()
}

# expect LINE WORD...: the completions of LINE are exactly the WORDs (in any order).
expect() {
    local line=$1
    shift
    checks=$((checks + 1))
    complete_line "$line"
    local want
    mapfile -t want < <(printf '%s\n' "$@" | LC_ALL=C sort)
    (($# == 0)) && want=()
    if [[ "${got[*]-}" != "${want[*]-}" || ${#got[@]} != "${#want[@]}" ]]; then
        fail "[$line]: expected (${want[*]-}) got (${got[*]-})"
    fi
}

# expect_nospace LINE yes|no: whether the completion asked for no trailing space.
expect_nospace() {
    checks=$((checks + 1))
    complete_line "$1"
    local asked=no
    [[ " ${compopt_calls[*]-} " == *"-o nospace"* ]] && asked=yes
    [[ $asked == "$2" ]] || fail "[$1]: nospace expected $2, got $asked"
}

# expect_shell_word LINE LITERAL: LINE completes to a single word that the shell reads back
# as LITERAL, quotes, blanks and all.
expect_shell_word() {
    checks=$((checks + 1))
    complete_line "$1"
    if ((${#COMPREPLY[@]} != 1)); then
        fail "[$1]: expected one completion, got (${COMPREPLY[*]-})"
        return
    fi
    local -a parsed
    eval "parsed=(${COMPREPLY[0]})"
    if ((${#parsed[@]} != 1)) || [[ ${parsed[0]} != "$2" ]]; then
        fail "[$1]: completion ${COMPREPLY[0]} reads back as (${parsed[*]-}), not [$2]"
    fi
}

# expect_completed_line LINE LITERAL: LINE ends inside an open quote (', " or $'); readline
# replaces only the text after that quote with the single completion and closes the quote,
# and the last word of the line so made reads back as LITERAL.
expect_completed_line() {
    checks=$((checks + 1))
    complete_line "$1"
    if ((${#COMPREPLY[@]} != 1)); then
        fail "[$1]: expected one completion, got (${COMPREPLY[*]-})"
        return
    fi
    # Where readline starts the word: after a quote it finds open, scanning as it does (a
    # backslash outside single quotes keeps the next character).
    local line=$1 quote='' start=-1 i ch
    for ((i = 0; i < ${#line}; i++)); do
        ch=${line:i:1}
        if [[ $quote == "'" ]]; then
            [[ $ch == "'" ]] && quote=
        elif [[ $ch == "\\" ]]; then
            i=$((i + 1))
        elif [[ -n $quote ]]; then
            [[ $ch == "$quote" ]] && quote=
        elif [[ $ch == [\"\'] ]]; then
            quote=$ch
            start=$((i + 1))
        fi
    done
    if [[ -z $quote ]]; then
        fail "[$1]: the line does not end inside a quote"
        return
    fi
    local completed=${line:0:start}${COMPREPLY[0]}$quote
    local -a parsed=()
    eval "parsed=($completed)"
    if [[ ${parsed[${#parsed[@]} - 1]-} != "$2" ]]; then
        fail "[$1]: completed to [$completed], whose last word reads back as [${parsed[${#parsed[@]} - 1]-}], not [$2]"
    fi
}

all_options=(-a -r -q -d -p -s: -l: -h -D3 -LI -LO)

# --- option words -------------------------------------------------------------------------------
expect "lumoraconf " "${all_options[@]}"
expect "lumoraconf -" "${all_options[@]}"
expect "lumoraconf -L" -LI -LO
expect "lumoraconf -D" -D3
expect "lumoraconf -x"
expect "lumoraconf -s" -s:
expect_nospace "lumoraconf -s" yes
expect_nospace "lumoraconf -q" no
expect_nospace "lumoraconf -D" no
expect "lumoraconf -s:"
expect "lumoraconf -s:off"
expect "lumoraconf -d "
expect "lumoraconf -q "
expect "lumoraconf -p "

# --- key=value words of -a ----------------------------------------------------------------------
expect "lumoraconf -a " name= model= ip= nodename=
expect_nospace "lumoraconf -a " yes
expect "lumoraconf -a n" name= nodename=
expect "lumoraconf -a name=office mo" model=
expect "lumoraconf -a name=office model=MODEL-X " ip= nodename=
expect "lumoraconf -a model=MODEL-X name=office ip=1.2.3.4 " nodename=
expect "lumoraconf -a name="
expect "lumoraconf -a name=off"
# A first word without '=' hands over to the external tools; the rest is not looked at.
expect "lumoraconf -a 10.0.0.5 "
expect "lumoraconf -ab "
expect "lumoraconf -r name"

# --- registered names after -r ------------------------------------------------------------------
expect "lumoraconf -r "
printf '%s\n' \
    'log=/tmp/lum_sane.log , 1 , w' \
    '# DEVICE=commented , "X" , Unknown , IP-ADDRESS=1.2.3.4 ' \
    '[section]' \
    '' \
    'DEVICE=office , "MODEL-A" , 0x2e5a:0x1 , IP-ADDRESS=192.168.1.20 ' \
    'DEVICE=lab_2 , "MODEL-B" , Unknown , NODENAME=LQX_00123 ' \
    'DEVICE=scan1,"M",Unknown,IP-ADDRESS=1.2.3.4' \
    'DEVICE="MODEL-X" , "MODEL-X" , Unknown , IP-ADDRESS=10.0.0.7 ' \
    'DEVICE=noaddr , "M" , Unknown ' \
    ' DEVICE=indented , "M" , Unknown , IP-ADDRESS=1.2.3.5 ' \
    'foo=bar' \
    'DEVICE=office , "MODEL-A" , Unknown , IP-ADDRESS=192.168.1.21 ' \
    $'DEVICE=crlf , "M" , Unknown , IP-ADDRESS=1.2.3.6 \r' >"$config_file"
printf '%s' 'DEVICE=last , "M" , Unknown , NODENAME=n1' >>"$config_file"

expect "lumoraconf -r " office lab_2 scan1 '\"MODEL-X\"' crlf last
expect_nospace "lumoraconf -r " no
expect "lumoraconf -r o" office
expect "lumoraconf -r sc" scan1
expect "lumoraconf -r nomatch"
expect "lumoraconf -r office " lab_2 scan1 '\"MODEL-X\"' crlf last
expect "lumoraconf -r office crlf l" lab_2 last
expect "lumoraconf -r \\\"" '\"MODEL-X\"'
expect_shell_word "lumoraconf -r \\\"MO" '"MODEL-X"'
expect_shell_word "lumoraconf -r lab" 'lab_2'
# Only -r completes names.
expect "lumoraconf -d o"
expect "lumoraconf -p o"

chmod 000 "$config_file"
rm -f "$config_file"
expect "lumoraconf -r "

# --- saved labels after -l: ---------------------------------------------------------------------
expect "lumoraconf -l:"
touch "$config_dir/office.lumoraconf" "$config_dir/before move.lumoraconf" \
    "$config_dir/.lumoraconf" "$config_dir/.hidden.lumoraconf" "$config_dir/notes.txt" \
    "$config_dir/office.lumoraconf.bak"
mkdir "$config_dir/dir.lumoraconf"

# ':' is a word break by default: the part before it is trimmed from the completions.
expect "lumoraconf -l:" office 'before\ move' .hidden
expect "lumoraconf -l:of" office
expect "lumoraconf -l:b" 'before\ move'
expect "lumoraconf -l:x"
expect "lumoraconf -l" -l:
expect_nospace "lumoraconf -l" yes
expect "lumoraconf -l:office "
saved_breaks=$COMP_WORDBREAKS
COMP_WORDBREAKS=${COMP_WORDBREAKS//:/}
expect "lumoraconf -l:" -l:office '-l:before\ move' -l:.hidden
expect "lumoraconf -l:of" -l:office
expect_shell_word "lumoraconf -l:be" '-l:before move'
COMP_WORDBREAKS=$saved_breaks

# --- model names after model= (the catalogue, through lumoraconf-query) -------------------------
expect "lumoraconf -a name=office model="
mkdir -p "$models_dir"
# The scrambled line reads 0x2e5a:0x77,1,0,"LX-SECRET",1,1,a,b,c once descrambled.
printf '%s\n' '[Support Model]' '?#ARm%o8h<gm%jjqlqmq#QEpNX^OXI#qlqlq<q?q>' >"$models_dir/secret.ini"
printf '%s\n' \
    '[Support Model]' \
    '0x2e5a:0x1,1,0,"LX-500",1,1,a,b,c' \
    '0x2e5a:0x2,1,0,"LX-700 Series",1,1,a,b,c' \
    '0x2e5a:0x3,1,0,UNQUOTED,1,1,a,b,c' \
    '0x2e5a:0x1,1,0,"LX-500",1,1,a,b,c' \
    '0x2e5a:0x4,1,0,"Q"uo"te",1,1,a,b,c' \
    '0x2e5a:0x5,1,0,"G*?[x]",1,1,a,b,c' \
    $'0x2e5a:0x6,1,0,"caf\xc3\xa9",1,1,a,b,c' \
    $'0x2e5a:0x7,1,0,"caf\xe9-latin1",1,1,a,b,c' \
    '0x2e5a:0x8,1,0,"$(touch${IFS}'"$sandbox"'/pwned);`x`\a'"'"'b",1,1,a,b,c' \
    '0x2e5a:0x9,1,0,"LX-it'"'"'s",1,1,a,b,c' \
    $'0x2e5a:0xa,1,0,"LX-\xff\xfe",1,1,a,b,c' \
    '0x2e5a:0xb,1,0,"LX-wow!$x",1,1,a,b,c' >"$catalogue"

expect "lumoraconf -a name=office model=" LX-SECRET LX-500 LX-700Series 'Q\"uo\"te' \
    'G\*\?\[x\]' "$(printf %q $'caf\xc3\xa9')" "$(printf %q $'caf\xe9-latin1')" \
    "$(printf %q '$(touch${IFS}'"$sandbox"'/pwned);`x`\a'"'"'b')" "LX-it\\'s" \
    "$(printf %q $'LX-\xff\xfe')" 'LX-wow\!\$x'
expect "lumoraconf -a model=LX" LX-SECRET LX-500 LX-700Series "LX-it\\'s" \
    "$(printf %q $'LX-\xff\xfe')" 'LX-wow\!\$x'
expect "lumoraconf -a model=LX-S" LX-SECRET
expect "lumoraconf -a name=x ip=1.2.3.4 model=LX-7" LX-700Series
expect_nospace "lumoraconf -a model=LX-5" no
expect "lumoraconf -a model=UNQ"
expect "lumoraconf -a model=lx"
expect "lumoraconf -a model=\\\"LX"
expect "lumoraconf -a 10.0.0.5 model=LX"
expect_shell_word "lumoraconf -a model=LX-S" LX-SECRET
expect_shell_word "lumoraconf -a model=Q" 'Q"uo"te'
expect_shell_word "lumoraconf -a model=G" 'G*?[x]'
expect_shell_word "lumoraconf -a model=\\\$" '$(touch${IFS}'"$sandbox"'/pwned);`x`\a'"'"'b'
# Inside an open quote the completion is written for inside that quote: readline replaces
# only what follows the quote and closes it. No backslash may land inside "..." before a ',
# where the shell would keep it.
expect "lumoraconf -a model=\"LX-i" "LX-it's"
expect_completed_line "lumoraconf -a model=\"LX-i" "model=LX-it's"
expect "lumoraconf -a model='LX-i" "LX-it'\\''s"
expect_completed_line "lumoraconf -a model='LX-i" "model=LX-it's"
expect "lumoraconf -a model=\$'LX-i" "LX-it\\'s"
expect_completed_line "lumoraconf -a model=\$'LX-i" "model=LX-it's"
expect "lumoraconf -a model=\$'LX-\\377" 'LX-\377\376'
expect_completed_line "lumoraconf -a model=\$'LX-\\377" $'model=LX-\xff\xfe'
expect_completed_line $'lumoraconf -a model="LX-\xff' $'model=LX-\xff\xfe'
expect_completed_line $'lumoraconf -a model=\'LX-\xff' $'model=LX-\xff\xfe'
expect "lumoraconf -a model=\"LX-w" $'LX-wow"\'!\'"\\$x'
expect_completed_line "lumoraconf -a model=\"LX-w" 'model=LX-wow!$x'
expect_completed_line "lumoraconf -a model='LX-w" 'model=LX-wow!$x'
expect_completed_line "lumoraconf -a model=\"\\\$(t" 'model=$(touch${IFS}'"$sandbox"'/pwned);`x`\a'"'"'b'
expect_completed_line "lumoraconf -a model='\$(touch" 'model=$(touch${IFS}'"$sandbox"'/pwned);`x`\a'"'"'b'
expect_completed_line "lumoraconf -a model=\$'\$(touch" 'model=$(touch${IFS}'"$sandbox"'/pwned);`x`\a'"'"'b'
expect_shell_word "lumoraconf -a model=\"Q\\\"u" 'Q"uo"te'
# Non-ASCII bytes, valid UTF-8 or not, come back whole in either locale.
for locale in C C.UTF-8; do
    LC_ALL=$locale expect_shell_word $'lumoraconf -a model=caf\xc3' $'caf\xc3\xa9'
    LC_ALL=$locale expect_shell_word $'lumoraconf -a model=caf\xe9' $'caf\xe9-latin1'
done
# With '=' no word break, the key stays in front of each completion.
saved_breaks=$COMP_WORDBREAKS
COMP_WORDBREAKS=${COMP_WORDBREAKS//=/}
expect "lumoraconf -a name=office model=LX-" model=LX-SECRET model=LX-500 model=LX-700Series \
    "model=LX-it\\'s" "model=$(printf %q $'LX-\xff\xfe')" 'model=LX-wow\!\$x'
# An open quote is replaced from after it, so the key is not put in front there.
expect "lumoraconf -a name=office model=\"LX-i" "LX-it's"
expect_shell_word "lumoraconf -a model=G" 'model=G*?[x]'
COMP_WORDBREAKS=$saved_breaks

# --- odd names after -r and odd labels after -l: ------------------------------------------------
printf '%s\n' \
    'DEVICE=$(touch${IFS}'"$sandbox"'/pwned) , "M" , Unknown , IP-ADDRESS=1.2.3.4 ' \
    'DEVICE=semi;colon , "M" , Unknown , IP-ADDRESS=1.2.3.4 ' \
    "DEVICE=it's , \"M\" , Unknown , IP-ADDRESS=1.2.3.4 " \
    'DEVICE=glob*?[a] , "M" , Unknown , IP-ADDRESS=1.2.3.4 ' \
    'DEVICE=back\slash , "M" , Unknown , IP-ADDRESS=1.2.3.4 ' \
    $'DEVICE=caf\xc3\xa9 , "M" , Unknown , IP-ADDRESS=1.2.3.4 ' \
    $'DEVICE=caf\xe9 , "M" , Unknown , IP-ADDRESS=1.2.3.4 ' >"$config_file"
expect_shell_word "lumoraconf -r \\\$" '$(touch${IFS}'"$sandbox"'/pwned)'
expect_shell_word "lumoraconf -r sem" 'semi;colon'
# A hostile name already on the line is skipped, not run.
expect "lumoraconf -r $(printf %q '$(touch${IFS}'"$sandbox"'/pwned)') semi" 'semi\;colon'
expect "lumoraconf -r $(printf %q '$(touch${IFS}'"$sandbox"'/pwned)') \\\$"
expect_shell_word "lumoraconf -r it" "it's"
expect_completed_line "lumoraconf -r \"it'" "it's"
expect_completed_line "lumoraconf -r 'it" "it's"
expect_completed_line "lumoraconf -r \$'it" "it's"
expect_completed_line "lumoraconf -r \"\\\$(" '$(touch${IFS}'"$sandbox"'/pwned)'
expect_completed_line "lumoraconf -r \$'caf\\351" $'caf\xe9'
expect "lumoraconf -r \$'caf\\351" 'caf\351'
expect "lumoraconf -r \"caf" $'caf\xc3\xa9' $'caf\xe9'
expect_shell_word "lumoraconf -r gl" 'glob*?[a]'
expect_shell_word "lumoraconf -r back" 'back\slash'
expect_shell_word "lumoraconf -r back\\\\s" 'back\slash'
expect "lumoraconf -r caf" "$(printf %q $'caf\xc3\xa9')" "$(printf %q $'caf\xe9')"
expect "lumoraconf -r $(printf %q $'caf\xe9') caf" "$(printf %q $'caf\xc3\xa9')"
expect "lumoraconf -r 'caf'\$'\\351' caf" "$(printf %q $'caf\xc3\xa9')"
LC_ALL=C.UTF-8 expect_shell_word $'lumoraconf -r caf\xc3' $'caf\xc3\xa9'
# A label holds no '/': this one would touch "pwned" in the working directory, the sandbox.
cd "$sandbox" || exit 1
touch "$config_dir/"'$(touch${IFS}pwned)`touch${IFS}pwned`.lumoraconf' "$config_dir/"$'caf\xe9 *.lumoraconf'
expect_shell_word "lumoraconf -l:\\\$" '$(touch${IFS}pwned)`touch${IFS}pwned`'
expect_shell_word $'lumoraconf -l:caf\xe9' $'caf\xe9 *'
expect_completed_line $'lumoraconf -l:"caf\xe9' $'-l:caf\xe9 *'
expect_completed_line "lumoraconf -l:'\$(t" '-l:$(touch${IFS}pwned)`touch${IFS}pwned`'

# Nothing in a name, model or label was run along the way.
checks=$((checks + 1))
[[ ! -e $sandbox/pwned ]] || fail "a word of the files was run by the shell"

# Without the companion nothing is offered, and nothing fails.
hash -p /bin/false lumoraconf-query
expect "lumoraconf -a model=LX"
expect "lumoraconf -r "
expect "lumoraconf -l:"
hash -d lumoraconf-query

echo "completion_test: $checks checks, $failures failed"
((failures == 0))
