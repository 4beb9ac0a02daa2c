# bash completion for lumoraconf                              -*- shell-script -*-
#
# Installed as share/bash-completion/completions/lumoraconf and loaded on demand by
# bash-completion. Completes the option word, the key=value words of -a and the catalogue's
# model names after model=, the registered friendly names after -r and the saved labels after
# -l:, all of them as the companion lumoraconf-query reads them.

# Asks the companion lumoraconf-query, which reads the backend's files with the tool's own
# readers (descrambled catalogue lines included). Prints nothing when it is not installed or
# cannot read its input.
_lumoraconf_query()
{
    command lumoraconf-query "$@" 2>/dev/null
}

# Removes the shell quoting from the word being typed (backslashes, '...', "..." and $'...'
# parts, an unclosed quote included) into the variable REPLY, without evaluating anything in
# it: the word may hold $(...) or backquotes. Works on bytes, whatever the locale. Sets
# REPLY_QUOTE to the quote left open at the word's end (', " or $'), empty when none is.
_lumoraconf_dequote()
{
    local LC_ALL=C
    local word=$1 quote='' ch i
    REPLY=
    REPLY_QUOTE=
    for ((i = 0; i < ${#word}; i++)); do
        ch=${word:i:1}
        if [[ $quote == "'" ]]; then
            if [[ $ch == "'" ]]; then quote=; else REPLY+=$ch; fi
        elif [[ $quote == '"' ]]; then
            if [[ $ch == '"' ]]; then
                quote=
            elif [[ $ch == "\\" && ${word:i+1:1} == [\"\\\$\`] ]]; then
                REPLY+=${word:i+1:1}
                ((i++))
            else
                REPLY+=$ch
            fi
        elif [[ $ch == "\\" ]]; then
            REPLY+=${word:i+1:1}
            ((i++))
        elif [[ $ch == '$' && ${word:i+1:1} == "'" ]]; then
            # $'...', as printf %q writes bytes that are not printable: printf %b knows the
            # same backslash escapes but for \', \" and \?, which stand for themselves there.
            local ansi=
            for ((i += 2; i < ${#word}; i++)); do
                ch=${word:i:1}
                if [[ $ch == "'" ]]; then
                    break
                elif [[ $ch == "\\" ]]; then
                    case ${word:i+1:1} in
                        [\'\"?]) ansi+=${word:i+1:1} ;;
                        *) ansi+=$ch${word:i+1:1} ;;
                    esac
                    ((i++))
                else
                    ansi+=$ch
                fi
            done
            ((i >= ${#word})) && REPLY_QUOTE="\$'"
            printf -v ch %b "$ansi"
            REPLY+=$ch
        elif [[ $ch == "'" || $ch == '"' ]]; then
            quote=$ch
        else
            REPLY+=$ch
        fi
    done
    [[ -n $quote ]] && REPLY_QUOTE=$quote
    return 0
}

# Writes the text $1 into REPLY as it must stand inside the open quote $2 (', " or $') for
# the shell to read it back unchanged once readline has closed the quote: inside '...' a '
# becomes '\'' ; inside "..." \ " $ ` get a backslash and ! is put in single quotes ("'!'"),
# where history expansion does not reach it; inside $'...' \ and ' get a backslash and every
# byte that is not printable ASCII is written \ooo.
_lumoraconf_quote_within()
{
    local LC_ALL=C
    local text=$1 ch i code
    case $2 in
        "'")
            REPLY=${text//"'"/"'\\''"}
            ;;
        '"')
            text=${text//"\\"/"\\\\"}
            text=${text//'"'/'\"'}
            text=${text//'$'/'\$'}
            text=${text//'`'/'\`'}
            REPLY=${text//'!'/\"\'!\'\"}
            ;;
        *)
            REPLY=
            for ((i = 0; i < ${#text}; i++)); do
                ch=${text:i:1}
                case $ch in
                    "\\" | "'") REPLY+="\\$ch" ;;
                    [[:print:]]) REPLY+=$ch ;;
                    *)
                        printf -v code '\\%03o' "'$ch"
                        REPLY+=$code
                        ;;
                esac
            done
            ;;
    esac
}

# Sets the caller's array _lumoraconf_matches to the lines of the companion's answer (QUERY, a
# command and its words) that begin with PREFIX and are not keys of the associative array
# named SKIP (none when empty). Compares bytes, so a name that is not valid in the locale's
# character set, or a prefix that ends inside a character, still matches.
_lumoraconf_select()
{
    local LC_ALL=C
    local prefix=$1 skip=${2:-_lumoraconf_no_skip}
    shift 2
    local -A _lumoraconf_no_skip=()
    local -n _lumoraconf_skip=$skip
    local answer line
    local -a lines
    # A command substitution reads the answer in blocks; mapfile or read on a pipe would take
    # it a byte at a time, which costs more than the rest of a completion of 10,000 models.
    answer=$(_lumoraconf_query "$@")
    # Split at line feeds only and expand no pattern; the answer holds no empty line.
    local - IFS=$'\n'
    set -f
    # shellcheck disable=SC2206 # split on purpose, with globbing off
    lines=($answer)
    if [[ -z $prefix && ${#_lumoraconf_skip[@]} == 0 ]]; then
        _lumoraconf_matches=("${lines[@]}")
        return
    fi
    for line in "${lines[@]}"; do
        [[ $line == "$prefix"* && -z ${_lumoraconf_skip[$line]-} ]] && _lumoraconf_matches+=("$line")
    done
}

# Adds to COMPREPLY the companion's lines (QUERY, see _lumoraconf_select) that begin with
# PREFIX and are not in SKIP, each after LEAD and quoted so that the shell passes it on
# unchanged: quotes, blanks, glob characters and other bytes included. With a quote left open
# (OPEN_QUOTE, as _lumoraconf_dequote sets REPLY_QUOTE), readline replaces only the text after
# that quote and closes it itself: each line is then quoted for inside it, without LEAD.
_lumoraconf_add_matches()
{
    local prefix=$1 lead=$2 open_quote=$3 skip=$4
    shift 4
    local -a _lumoraconf_matches=()
    _lumoraconf_select "$prefix" "$skip" "$@"
    ((${#_lumoraconf_matches[@]} == 0)) && return
    local match
    if [[ -n $open_quote ]]; then
        for match in "${_lumoraconf_matches[@]}"; do
            _lumoraconf_quote_within "$match" "$open_quote"
            COMPREPLY+=("$REPLY")
        done
        return
    fi
    local quoted
    # printf %q never puts a line feed into its output, so the quoted words stay one a line.
    printf -v quoted -- "${lead//%/%%}%q\n" "${_lumoraconf_matches[@]}"
    local - IFS=$'\n'
    set -f
    # shellcheck disable=SC2206 # split on purpose, with globbing off
    COMPREPLY+=($quoted)
}

_lumoraconf()
{
    # shellcheck disable=SC2034 # prev is set by _init_completion and not needed here
    local cur prev words cword REPLY REPLY_QUOTE
    # Keep "-l:LABEL" and "key=value" whole, whatever COMP_WORDBREAKS says.
    _init_completion -n := || return

    local candidate
    local -a candidates=()

    if ((cword == 1)); then
        if [[ $cur == -s:* ]]; then
            # A new label: nothing to offer.
            return
        elif [[ $cur == -l:* ]]; then
            # With ':' a word break (the default), readline replaces only the text after it.
            local lead=-l:
            [[ $COMP_WORDBREAKS == *:* ]] && lead=
            _lumoraconf_dequote "${cur#-l:}"
            _lumoraconf_add_matches "$REPLY" "$lead" "$REPLY_QUOTE" "" labels
            return
        else
            candidates=(-a -r -q -d -p -s: -l: -h -D3 -LI -LO)
        fi
        for candidate in "${candidates[@]}"; do
            [[ $candidate == "$cur"* ]] && COMPREPLY+=("$candidate")
        done
        # A label follows "-s:" and "-l:" in the same word.
        if ((${#COMPREPLY[@]} == 1)) && [[ ${COMPREPLY[0]} == *: ]]; then
            compopt -o nospace
        fi
        __ltrim_colon_completions "$cur"
        return
    fi

    local i used
    case ${words[1]} in
        -a)
            # Only a first word with '=' makes -a register a device; after any other first
            # word the rest is not looked at.
            if ((cword > 2)) && [[ ${words[2]} != *=* ]]; then
                return
            fi
            if [[ $cur == model=* ]]; then
                local lead=model=
                [[ $COMP_WORDBREAKS == *=* ]] && lead=
                _lumoraconf_dequote "${cur#model=}"
                # The companion keeps the models that begin with the typed text: with a large
                # catalogue, comparing every name in bash would cost more than the query.
                _lumoraconf_add_matches "" "$lead" "$REPLY_QUOTE" "" models --prefix "$REPLY"
                return
            fi
            [[ $cur == *=* ]] && return
            for candidate in name= model= ip= nodename=; do
                # The first word with a key counts; a second one would be ignored.
                used=
                for ((i = 2; i < ${#words[@]}; i++)); do
                    ((i == cword)) && continue
                    [[ ${words[i]} == "$candidate"* ]] && used=1
                done
                [[ -z $used && $candidate == "$cur"* ]] && COMPREPLY+=("$candidate")
            done
            compopt -o nospace
            ;;
        -r)
            # A name already on the line is not offered again.
            local -A given=()
            for ((i = 2; i < ${#words[@]}; i++)); do
                ((i == cword)) && continue
                _lumoraconf_dequote "${words[i]}"
                # shellcheck disable=SC2034 # read by name in _lumoraconf_select
                [[ -n $REPLY ]] && given[$REPLY]=1
            done
            _lumoraconf_dequote "$cur"
            _lumoraconf_add_matches "$REPLY" "" "$REPLY_QUOTE" given names
            ;;
    esac
} &&
    complete -F _lumoraconf lumoraconf

# ex: filetype=sh
