# bash completion for quillmere                                   -*- shell-script -*-
#
# Installed as share/bash-completion/completions/quillmere; to try it from the source
# folder: source completions/quillmere.bash

# The options, one per line: short form (or .), long form, and what follows the option:
# - for nothing, a list of words separated by |, FILE for a file name (or - for standard
# input), or a word in capitals for a value that cannot be completed.
# The manual page (man/quillmere.1) lists the same options; tests/pkg checks that both
# and the program's --help agree.
_quillmere_option_table='
-h  --help                    -
-V  --version                 -
-s  --stages                  1|2|3|4|auto
-m  --mode                    minimal-sum|custom-limit|min-cost|best-accuracy
-l  --limit                   N
-a  --allow-first-decimation  -
.   --no-first-decimation     -
.   --tolerance               REL
-t  --target                  HZ
-p  --priority                strict|final|balanced|ignore
-f  --format                  text|json|csv
-b  --batch                   FILE
-c  --cost                    -
.   --passband                HZ
.   --stopband                HZ
.   --attenuation             DB
.   --ripple                  DB
.   --design                  -
.   --method                  auto|kaiser|equiripple
.   --quantize                BITS
.   --coefficients            FILE
.   --coefficients-format     json|csv|c|c-header
'

# Prints what follows OPTION (short or long) in the table; nothing for an unknown option.
_quillmere_option_value() {
    local short long value
    while read -r short long value; do
        [[ -n $long ]] || continue
        if [[ $1 == "$short" || $1 == "$long" ]]; then
            printf '%s\n' "$value"
            return
        fi
    done <<<"$_quillmere_option_table"
}

# Prints the options that the table lists, long forms first, one per line.
_quillmere_option_names() {
    local short long value
    while read -r short long value; do
        [[ -n $long ]] && printf '%s\n' "$long"
    done <<<"$_quillmere_option_table"
    while read -r short long value; do
        [[ -n $short && $short != . ]] && printf '%s\n' "$short"
    done <<<"$_quillmere_option_table"
}

# Completes the value of an option: a word of its list, or a file name.
_quillmere_complete_value() {
    local value=$1 cur=$2 prefix=$3 word
    case $value in
        FILE)
            compopt -o filenames 2>/dev/null
            while IFS= read -r word; do
                COMPREPLY+=("$prefix$word")
            done < <(compgen -f -- "$cur")
            ;;
        *'|'*)
            while IFS= read -r word; do
                COMPREPLY+=("$prefix$word")
            done < <(compgen -W "${value//|/ }" -- "$cur")
            ;;
    esac
}

_quillmere() {
    COMPREPLY=()
    local cword=$COMP_CWORD
    local cur=${COMP_WORDS[cword]}
    local option value i

    # After a bare --, every word is an operand: rates, nothing to complete.
    for ((i = 1; i < cword; i++)); do
        [[ ${COMP_WORDS[i]} == -- ]] && return 0
    done

    # --option=value: bash splits it at = (when = is one of COMP_WORDBREAKS) into
    # "--option" "=" "value"; otherwise the word holds all of it.
    if [[ $cur == = && $cword -ge 2 ]]; then
        value=$(_quillmere_option_value "${COMP_WORDS[cword - 1]}")
        [[ -n $value ]] && _quillmere_complete_value "$value" "" ""
        return 0
    fi
    if [[ $cword -ge 3 && ${COMP_WORDS[cword - 1]} == = ]]; then
        value=$(_quillmere_option_value "${COMP_WORDS[cword - 2]}")
        [[ -n $value ]] && _quillmere_complete_value "$value" "$cur" ""
        return 0
    fi
    if [[ $cur == --*=* ]]; then
        option=${cur%%=*}
        value=$(_quillmere_option_value "$option")
        [[ -n $value ]] && _quillmere_complete_value "$value" "${cur#*=}" "$option="
        return 0
    fi

    # The word after an option that takes a value is that value.
    if [[ $cword -ge 2 ]]; then
        value=$(_quillmere_option_value "${COMP_WORDS[cword - 1]}")
        if [[ -n $value && $value != - ]]; then
            _quillmere_complete_value "$value" "$cur" ""
            return 0
        fi
    fi

    if [[ $cur == -* ]]; then
        local -a names
        mapfile -t names < <(_quillmere_option_names)
        mapfile -t COMPREPLY < <(compgen -W "${names[*]}" -- "$cur")
    fi
    return 0
}

complete -F _quillmere quillmere
