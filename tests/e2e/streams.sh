#!/usr/bin/env bash
# Output that cannot be written: a full disk, a pipe closed with SIGPIPE
# ignored, a closed stream. Whatever runs stops at the failed write, says so
# once on standard error, and ends with status 2; a run that writes nothing
# still succeeds. Usage: streams.sh TOLVA
set -u
tolva=$1 err=$(mktemp) lib=$(mktemp -d)
trap 'rm -rf "$err" "$lib"' EXIT
failures=0
full="Error: can't write standard output: No space left on device"
pipe="Error: can't write standard output: Broken pipe"

# check WHAT STATUS WANTED-STATUS ERRORS WANTED-ERRORS
check() {
    if [[ $2 != "$3" || $4 != "$5" ]]; then
        echo "FAIL $1: status $2, errors '$4'; expected $3, '$5'"
        failures=$((failures + 1))
    fi
}

# full WANTED-STATUS WANTED-ERRORS ARGS...: standard output on a full disk
full() {
    local want=$1 errors=$2
    shift 2
    timeout 10 "$tolva" "$@" >/dev/full 2>"$err" </dev/null
    check "$* >/dev/full" $? "$want" "$(<"$err")" "$errors"
}
printf '1 . cr\n2 . cr\n' >"$lib/prog.tv"
printf '1 .\nbye\n' >"$lib/bye.tv"
full 2 "$full" -e '1 . cr 2 . cr'
full 2 "$full" -e '1 .'                    # lost at the exit's flush
full 2 "$full" "$lib/prog.tv"
full 2 "$full" "$lib/bye.tv"
full 2 "$full" -i "$lib/prog.tv"
full 2 "$full" -t
full 2 "$full" -v
full 2 "$full" -h
full 0 "" -e '1 2 + drop'                  # nothing written: a success

# The interactive loop on pipes, and the first report on standard error.
timeout 10 "$tolva" >/dev/full 2>"$err" <<<'1 . cr'
check "interactive >/dev/full" $? 2 "$(<"$err")" "$full"
timeout 10 "$tolva" -e 'nosuch' 2>/dev/full
check "-e nosuch 2>/dev/full" $? 2 "" ""
TOLVA_TRACE=1 timeout 10 "$tolva" -e '1 2 +' 2>/dev/full
check "-e '1 2 +' traced 2>/dev/full" $? 2 "" ""

# A closed pipe with SIGPIPE ignored, as some shells and services run their
# children: an endless printer ends at once.
closed() {
    local program=$1
    (trap '' PIPE; timeout 10 "$tolva" -e "$program" 2>"$err" | head -c 1 >/dev/null; exit "${PIPESTATUS[0]}")
    check "-e '$program' | head -c 1" $? 2 "$(<"$err")" "$pipe"
}
closed '{ 1 . cr } while { 1 } repeat'
closed '{ 1 . } while { 1 } repeat'
closed '[ 1 emit ] 2147483647 times'
closed '2147483647 spaces'
(trap '' PIPE; yes '1 . cr' 2>/dev/null | timeout 10 "$tolva" 2>"$err" | head -c 1 >/dev/null; exit "${PIPESTATUS[1]}")
check "interactive | head -c 1" $? 2 "$(<"$err")" "$pipe"

# A closed standard output: nothing to write is no failure.
timeout 10 "$tolva" -e '1 2 +' >&- 2>"$err"
check "-e '1 2 +' >&-" $? 0 "$(<"$err")" ""
timeout 10 "$tolva" -e '1 . cr' >&- 2>"$err"
check "-e '1 . cr' >&-" $? 2 "$(<"$err")" "Error: can't write standard output: Bad file descriptor"
exit $((failures > 0))
