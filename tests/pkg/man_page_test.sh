#!/usr/bin/env bash
# The manual page: no message at all from mandoc's lint (warnings and style notes alike),
# no warning from groff as man renders it, and the sections a reader looks for.
# Usage: man_page_test.sh MANPAGE
set -u
page=$1
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

if ! command -v mandoc >/dev/null; then
    echo "FAIL: mandoc is missing; scripts/install-deps.sh test installs it"
    exit 1
fi
lint=$(mandoc -T lint -W all "$page" 2>&1)
status=$?
[[ $status -eq 0 && -z $lint ]] || fail "mandoc -T lint (exit $status):
$lint"

if command -v man >/dev/null; then
    # man hands groff's warnings to standard error; the text goes to standard output.
    warnings=$(MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
    [[ -z $warnings ]] || fail "man --warnings:
$warnings"
    text=$(MANWIDTH=80 LC_ALL=C.UTF-8 MAN_KEEP_FORMATTING=0 man -l "$page" 2>/dev/null | sed 's/.\x08//g')
else
    text=$(mandoc -T utf8 "$page" | sed 's/.\x08//g')
fi
for heading in NAME SYNOPSIS DESCRIPTION "EXIT STATUS" EXAMPLES; do
    grep -q "^$heading\$" <<<"$text" || fail "no $heading section in the rendered page"
done
for subject in "Ctrl+C" "terminal" "--batch file" "--format format" "JSON" "RFC 4180" "130"; do
    grep -qF -- "$subject" <<<"$text" || fail "the rendered page never mentions $subject"
done
# Lines that run past the width man was given show a rendering fault.
long=$(LC_ALL=C.UTF-8 grep -E '^.{81,}' <<<"$text")
[[ -z $long ]] || fail "rendered lines wider than 80 columns:
$long"

if [[ $failures -gt 0 ]]; then
    echo "$failures failure(s)"
    exit 1
fi
echo "ok"
