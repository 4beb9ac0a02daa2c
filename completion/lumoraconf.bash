# bash completion for lumoraconf                              -*- shell-script -*-
#
# Installed as share/bash-completion/completions/lumoraconf and loaded on demand by
# bash-completion. Completes the option word, the key=value words of -a, the registered
# friendly names after -r and the saved labels after -l:.

# Prints the friendly names of the devices registered in the device configuration file, one
# a line, each quoted so that the shell passes it on unchanged (a name taken over from a
# model carries double quotes, as in "MODEL-X").
_lumoraconf_registered_names()
{
    local config=/etc/opt/kelvane/scanner/lumora//lumsanenetdevice.cfg
    [[ -r $config ]] || return 0

    local line rest name
    local -A seen=()
    while IFS= read -r line || [[ -n $line ]]; do
        # Only a device line that carries an address or a node name names a device.
        [[ $line == DEVICE=* ]] || continue
        [[ $line == *IP-ADDRESS=* || $line == *NODENAME=* ]] || continue
        rest=${line#DEVICE=}
        rest=${rest#"${rest%%[![:space:]]*}"}
        # The name ends at the first blank or comma: lines written by hand may leave out the
        # blanks around their commas.
        name=${rest%%[[:space:],]*}
        [[ -n $name && -z ${seen[$name]-} ]] || continue
        seen[$name]=1
        printf '%q\n' "$name"
    done <"$config"
}

# Prints the labels of the saved copies (LABEL.lumoraconf), one a line, quoted for the shell.
_lumoraconf_saved_labels()
{
    local dir=/etc/opt/kelvane/scanner/lumora
    local reset file label
    reset=$(shopt -p nullglob failglob)
    shopt -s nullglob
    shopt -u failglob
    for file in "$dir"/*.lumoraconf "$dir"/.?*.lumoraconf; do
        [[ -f $file ]] || continue
        label=${file##*/}
        label=${label%.lumoraconf}
        [[ -n $label ]] && printf '%q\n' "$label"
    done
    eval "$reset"
}

_lumoraconf()
{
    # shellcheck disable=SC2034 # prev is set by _init_completion and not needed here
    local cur prev words cword
    # Keep "-l:LABEL" and "key=value" whole, whatever COMP_WORDBREAKS says.
    _init_completion -n := || return

    local candidate
    local -a candidates=()

    if ((cword == 1)); then
        if [[ $cur == -s:* ]]; then
            # A new label: nothing to offer.
            return
        elif [[ $cur == -l:* ]]; then
            local label
            while IFS= read -r label; do
                candidates+=("-l:$label")
            done < <(_lumoraconf_saved_labels)
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
            while IFS= read -r candidate; do
                [[ $candidate == "$cur"* ]] || continue
                used=
                for ((i = 2; i < ${#words[@]}; i++)); do
                    ((i == cword)) && continue
                    [[ ${words[i]} == "$candidate" ]] && used=1
                done
                [[ -z $used ]] && COMPREPLY+=("$candidate")
            done < <(_lumoraconf_registered_names)
            ;;
    esac
} &&
    complete -F _lumoraconf lumoraconf

# ex: filetype=sh
