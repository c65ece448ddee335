#!/usr/bin/env bash
# The bash completion of qvscan and qvscan-sim, driven as bash drives it: the line is split into
# words at COMP_WORDBREAKS, the completion function runs, and a single candidate replaces the
# text after the last word break, as readline does.
# usage: completion_test.sh COMPLETION_SCRIPT QVSCAN QVSCAN_SIM FAULT_NAMES_PROGRAM
set -uo pipefail
script=$1 qvscan=$2 qvscan_sim=$3 fault_names=$4
source "$(dirname "$0")/helpoptions.sh"
source /usr/share/bash-completion/bash_completion || { echo "FAIL: bash-completion is not installed"; exit 1; }
source "$script"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Outside a real completion compopt refuses; note what the function asks for instead.
nospace=0
compopt() { [[ " $* " == *" nospace "* ]] && nospace=1; return 0; }

# complete LINE: sets COMPREPLY for the cursor at the end of LINE.
complete_line()
{
    local line=$1 word="" ch kind last="" i
    COMP_WORDS=()
    for ((i = 0; i < ${#line}; i++)); do
        ch=${line:i:1}
        if [[ $ch == [[:blank:]] ]]; then
            [[ -n $word ]] && COMP_WORDS+=("$word")
            word="" last=""
            continue
        fi
        if [[ $COMP_WORDBREAKS == *"$ch"* ]]; then kind=break; else kind=text; fi
        if [[ -n $word && $kind != "$last" ]]; then
            COMP_WORDS+=("$word")
            word=""
        fi
        word+=$ch last=$kind
    done
    COMP_WORDS+=("$word")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE=$line COMP_POINT=${#line}
    COMPREPLY=() nospace=0
    local command=${COMP_WORDS[0]} current=${COMP_WORDS[COMP_CWORD]} previous=${COMP_WORDS[COMP_CWORD - 1]}
    local function
    function=$(complete -p "${command##*/}" 2>/dev/null | sed -n 's/.*-F \([^ ]*\).*/\1/p')
    [ -n "$function" ] || { fail "no completion registered for ${command##*/}"; return; }
    "$function" "$command" "$current" "$previous"
}

# completed_line LINE: sets completed to the line after the only candidate replaced the text
# behind the last word break.
completed_line()
{
    local line=$1 i
    complete_line "$line"
    if [ ${#COMPREPLY[@]} -ne 1 ]; then
        completed="<${#COMPREPLY[@]} candidates: ${COMPREPLY[*]}>"
        return
    fi
    for ((i = ${#line} - 1; i >= 0; i--)); do
        [[ $COMP_WORDBREAKS == *"${line:i:1}"* ]] && break
    done
    completed="${line:0:i+1}${COMPREPLY[0]}"
}

expect_words() # LINE EXPECTED...: the candidates, as a set
{
    local line=$1
    shift
    complete_line "$line"
    local got want
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort -u)
    want=$(printf '%s\n' "$@" | sed '/^$/d' | sort -u)
    [ "$got" == "$want" ] || fail "[$line] offers {$(echo $got)}, expected {$(echo $want)}"
}

expect_line() # LINE COMPLETED [nospace]
{
    completed_line "$1"
    local got="$completed nospace=$nospace" want="$2 nospace=${3:-0}"
    [ "$got" == "$want" ] || fail "[$1] completes to [$got], expected [$want]"
}

tmp=$(mktemp -d) && trap 'rm -rf "$tmp"' EXIT
touch "$tmp/ttyFAKE0" "$tmp/libfakevisa.so"

# Every option of each program's --help, long ones after "--", short ones too after "-".
for program in "$qvscan" "$qvscan_sim"; do
    options=$(help_options "$program")
    expect_words "$program --" $(grep -- '^--' <<< "$options")
    expect_words "$program -" $options
done
expect_line "$qvscan --simulate --tr" "$qvscan --simulate --trace"
expect_words "$qvscan --simulate " # no arguments of its own

# Fault names, for both programs; a name that takes a value stops before it.
faults=$("$fault_names")
[ -n "$faults" ] || fail "no fault names from $fault_names"
expect_words "$qvscan --simulate --sim-fault " $faults
expect_words "$qvscan_sim --fault " $("$fault_names" --instrument-only) # it refuses the others
expect_words "$qvscan --sim-fault=no-" $(grep '^no-' <<< "$faults")
expect_line "$qvscan --sim-fault stop-" "$qvscan --sim-fault stop-answering-after=" 1
expect_line "$qvscan_sim --fault=dmm" "$qvscan_sim --fault=dmm-off"
expect_words "$qvscan --sim-fault model=" # the value is the user's

# --port: an ASRL port, then the device after the "=".
expect_words "$qvscan --port " ASRL1= ASRL2= ASRL3= ASRL4=
[ "$nospace" -eq 1 ] || fail "--port ASRLn= is followed by a space"
expect_line "$qvscan --port ASRL3" "$qvscan --port ASRL3=" 1
expect_line "$qvscan --port ASRL1=$tmp/tty" "$qvscan --port ASRL1=$tmp/ttyFAKE0"
expect_line "$qvscan --port=ASRL2=$tmp/tty" "$qvscan --port=ASRL2=$tmp/ttyFAKE0"

# --address: the addresses the simulator answers at, colons and all; --visa-library and --link: files.
expect_line "$qvscan --address GPIB0:" "$qvscan --address GPIB0::9"
expect_line "$qvscan --address=GP" "$qvscan --address=GPIB0::9"
expect_line "$qvscan --visa-library $tmp/libf" "$qvscan --visa-library $tmp/libfakevisa.so"
expect_line "$qvscan_sim --link $tmp/tty" "$qvscan_sim --link $tmp/ttyFAKE0"

[ "$failures" -eq 0 ] && echo "completion: all cases pass"
exit $((failures > 0))
