#!/usr/bin/env bash
# A manual page against its program: lint-free for groff and mandoc, its NAME section readable
# by lexgrog, every option of --help and every fault of the simulated instrument listed, and the
# program's version in its footer.
# usage: manpage_test.sh PROGRAM PAGE FAULT_NAMES_PROGRAM
set -uo pipefail
program=$1 page=$2 fault_names=$3
source "$(dirname "$0")/helpoptions.sh"
failures=0
fail() { echo "FAIL: $page: $*"; failures=$((failures + 1)); }

if [[ $page == *.gz ]]; then
    # A name that ends like a page's: mandoc reads the section from the file name.
    plain=$(mktemp --suffix=.1) && trap 'rm -f "$plain"' EXIT
    gzip -dc "$page" > "$plain" || fail "does not decompress"
else
    plain=$page
fi

warnings=$(groff -man -ww -z "$plain" 2>&1)
[ -z "$warnings" ] || fail "groff -ww warns: $warnings"
warnings=$(mandoc -T lint -W warning "$plain" 2>&1)
[ -z "$warnings" ] || fail "mandoc -T lint warns: $warnings"
lexgrog "$plain" > /dev/null || fail "lexgrog cannot read its NAME section"

# One long line per paragraph, so that no name is broken at a hyphen.
text=$(groff -man -T ascii -rLL=2000n -P -cbou "$plain" 2>/dev/null)
[ -n "$text" ] || fail "renders to nothing"
# A word of its own: not part of a longer option or fault name ("model=" runs on into its value).
mentions()
{
    local end='($|[^[:alnum:]-])'
    [[ $1 == *= ]] && end=''
    grep -qE -- "(^|[^[:alnum:]-])$1$end" <<< "$text"
}

options=$(help_options "$program")
[ -n "$options" ] || fail "$program --help lists no options"
for option in $options; do
    mentions "$option" || fail "does not list $option of $program --help"
done
faults=$("$fault_names")
[ -n "$faults" ] || fail "no fault names from $fault_names"
for fault in $faults; do
    mentions "$fault" || fail "does not list the fault $fault"
done

version=$("$program" --version) || fail "$program --version failed"
version=${version##* }
grep -qE "^qvscan $version[[:space:]]" <<< "$text" || fail "footer does not name qvscan $version"

[ "$failures" -eq 0 ] && echo "$page: lint-clean, lists $(wc -w <<< "$options") options and $(wc -w <<< "$faults") faults"
exit $((failures > 0))
