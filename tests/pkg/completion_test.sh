#!/usr/bin/env bash
# The bash completion, asked for completions as bash asks for them, and its option table
# against the manual page and the program's --help.
# Usage: completion_test.sh complete COMPLETION
#        completion_test.sh man COMPLETION MANPAGE
#        completion_test.sh help COMPLETION PROGRAM
set -u

mode=$1
completion=$2
# shellcheck source=../../completions/quillmere.bash
source "$completion" || { echo "FAIL: $completion cannot be sourced"; exit 1; }

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# Words, sorted and separated by single blanks.
sorted() { printf '%s\n' "$@" | sed '/^$/d' | sort -u | tr '\n' ' ' | sed 's/ $//'; }

# expect "EXPECTED WORDS" WORD... : completes the last word of the command line WORD...
# (already split into words as bash splits them) and compares the candidates.
expect() {
    local expected=$1
    shift
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    COMP_LINE="$*"
    COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    _quillmere quillmere "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}" 2>/dev/null
    local got want
    got=$(sorted "${COMPREPLY[@]}")
    # shellcheck disable=SC2086  # the expected words are blank-separated on purpose
    want=$(sorted $expected)
    [[ $got == "$want" ]] || fail "'$*|': expected [$want], got [$got]"
}

# The table's long options, short options and fixed values ("--mode minimal-sum|...").
table_longs() { _quillmere_option_names | grep -- '^--' | sort; }
table_shorts() { _quillmere_option_names | grep -v -- '^--' | sort; }
table_values() {
    local short long value
    while read -r short long value; do
        [[ $value == *'|'* ]] && printf '%s %s\n' "$long" "$(sorted ${value//|/ })"
    done <<<"$_quillmere_option_table"
}

case $mode in
complete)
    all_longs=$(table_longs | tr '\n' ' ')
    complete -p quillmere 2>/dev/null | grep -q -- '-F _quillmere' ||
        fail "sourcing does not register _quillmere for quillmere"

    # Options.
    expect "$all_longs" quillmere --
    expect "$all_longs" quillmere 44100 --
    expect "--mode" quillmere --mo
    expect "--passband --priority" quillmere --p
    expect "$all_longs $(table_shorts | tr '\n' ' ')" quillmere -
    expect "$all_longs" quillmere --allow-first-decimation --
    expect "$all_longs" quillmere --cost --
    expect "" quillmere --nothing-like-this

    # Fixed values, after the option as the next word.
    expect "minimal-sum custom-limit min-cost best-accuracy" quillmere --mode ""
    expect "minimal-sum min-cost" quillmere --mode mi
    expect "custom-limit" quillmere -m c
    expect "strict final balanced ignore" quillmere --priority ""
    expect "balanced" quillmere -p b
    expect "text json csv" quillmere --format ""
    expect "json" quillmere -f j
    expect "1 2 3 4 auto" quillmere --stages ""
    expect "2" quillmere -s 2
    expect "" quillmere --stages 5
    expect "auto" quillmere --stages a
    expect "" quillmere --mode --
    # The word after a value is an option or a rate again.
    expect "--format" quillmere --mode min-cost --for

    # --option=value, split at = as bash does by default, and whole.
    expect "minimal-sum custom-limit min-cost best-accuracy" quillmere --mode =
    expect "min-cost" quillmere --mode = min-
    expect "ignore" quillmere --priority = i
    expect "--format=csv" quillmere --format=c
    expect "--stages=1 --stages=2 --stages=3 --stages=4 --stages=auto" quillmere --stages=

    # Values that cannot be completed get nothing, not options or files.
    expect "" quillmere --limit ""
    expect "" quillmere -l ""
    expect "" quillmere --target ""
    expect "" quillmere --attenuation ""
    expect "" quillmere --tolerance ""
    expect "" quillmere --passband = ""

    # After --, every word is an operand.
    expect "" quillmere -- --
    expect "" quillmere -- --mode ""

    # --batch completes file names, blanks in them included, one candidate per name.
    dir=$(mktemp -d)
    trap 'rm -rf "$dir"' EXIT
    mkdir "$dir/tables"
    touch "$dir/rates.txt" "$dir/rates two.txt" "$dir/other.csv" "$dir/tables/hifi.txt"
    cd "$dir" || exit 1
    candidates() { # candidates WORD... : the candidates, sorted, joined with /
        COMP_WORDS=("$@")
        COMP_CWORD=$(($# - 1))
        COMPREPLY=()
        _quillmere 2>/dev/null
        printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd '/'
    }
    [[ $(candidates quillmere --batch rat) == "rates two.txt/rates.txt" ]] ||
        fail "--batch rat: expected the two rates files, got [$(candidates quillmere --batch rat)]"
    [[ $(candidates quillmere -b "") == "other.csv/rates two.txt/rates.txt/tables" ]] ||
        fail "-b with nothing typed: expected the folder's entries, got [$(candidates quillmere -b "")]"
    [[ $(candidates quillmere -b tables/) == "tables/hifi.txt" ]] ||
        fail "-b tables/: expected tables/hifi.txt, got [$(candidates quillmere -b tables/)]"
    [[ $(candidates quillmere --batch=o) == "--batch=other.csv" ]] ||
        fail "--batch=o: expected --batch=other.csv, got [$(candidates quillmere --batch=o)]"
    [[ $(candidates quillmere --batch = o) == "other.csv" ]] ||
        fail "--batch = o: expected other.csv, got [$(candidates quillmere --batch = o)]"
    cd / || exit 1
    ;;

man)
    manpage=$3
    # The Options list of the manual page: from ".Ss Options" to the end of its list.
    options=$(sed -n '/^\.Ss Options$/,/^\.El$/p' "$manpage")
    [[ -n $options ]] || fail "no Options subsection in $manpage"
    man_longs=$(grep '^\.It Fl' <<<"$options" | grep -o 'Fl \\-[a-z-]*' | sed 's/Fl \\-/--/' | sort)
    man_shorts=$(grep '^\.It Fl [A-Za-z] ' <<<"$options" | sed 's/^\.It Fl \([A-Za-z]\) .*/-\1/' | sort)
    [[ $man_longs == "$(table_longs)" ]] ||
        fail "long options: manual page [$(echo $man_longs)], completion [$(table_longs | tr '\n' ' ')]"
    [[ $man_shorts == "$(table_shorts)" ]] ||
        fail "short options: manual page [$(echo $man_shorts)], completion [$(table_shorts | tr '\n' ' ')]"
    # Each option with fixed values: the words the manual page marks up with .Cm in its item.
    while read -r long values; do
        item=$(awk -v opt="Fl \\\\${long#-}" '
            /^\.It / { inside = index($0, opt " ") > 0 || substr($0, length($0) - length(opt) + 1) == opt }
            inside && /^\.Cm / { print $2 }' <<<"$options")
        # shellcheck disable=SC2086
        [[ $(sorted $item) == "$values" ]] ||
            fail "$long: manual page lists [$(sorted $item)], completion [$values]"
    done < <(table_values)
    ;;

help)
    program=$3
    help=$("$program" --help 2>&1 </dev/null)
    status=$?
    [[ $status -eq 0 ]] || fail "quillmere --help exits $status"
    # The option list of --help: lines that start, after blanks, with "-x, --long" or
    # "--long"; examples and prose elsewhere in the text do not count.
    option_lines=$(grep -E -- '^ +(-[A-Za-z], +)?--[a-z]' <<<"$help")
    help_longs=$(sed -E 's/^ +(-[A-Za-z], +)?(--[a-z][a-z-]*).*/\2/' <<<"$option_lines" | sort -u)
    help_shorts=$(grep -oE -- '^ +-[A-Za-z],' <<<"$option_lines" | grep -oE -- '-[A-Za-z]' | sort -u)
    [[ $help_longs == "$(table_longs)" ]] ||
        fail "long options: --help [$(echo $help_longs)], completion [$(table_longs | tr '\n' ' ')]"
    [[ $help_shorts == "$(table_shorts)" ]] ||
        fail "short options: --help [$(echo $help_shorts)], completion [$(table_shorts | tr '\n' ' ')]"
    while read -r long values; do
        for value in $values; do
            grep -qw -- "$value" <<<"$help" || fail "$long $value: not in --help"
        done
    done < <(table_values)
    ;;

*)
    echo "usage: $0 complete|man|help COMPLETION [MANPAGE|PROGRAM]"
    exit 2
    ;;
esac

if [[ $failures -gt 0 ]]; then
    echo "$failures failure(s)"
    exit 1
fi
echo "ok"
