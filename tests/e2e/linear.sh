#!/usr/bin/env bash
# Inputs that once took time in the square of their size, each at a size
# where that took over a minute and a linear reading takes well under a
# second: aliases added one by one, and closers with nothing open after a
# long string, on one line and on lines of their own. Each must give its
# output within 20 s, even in an instrumented build on a loaded machine.
# Usage: linear.sh TOLVA
set -u
tolva=$1 program=$(mktemp)
trap 'rm -f "$program"' EXIT
status=0

# expect NAME OUTPUT: runs the program just written.
expect() {
    local out code
    out=$(timeout -s KILL 20 "$tolva" "$program" 2>/dev/null)
    code=$?
    if [[ $code -ne 0 || $out != "$2" ]]; then
        echo "FAIL $1: status $code, output '${out:0:80}'"
        status=1
    fi
}

awk 'BEGIN { for (i = 0; i < 100000; i++) printf "( %d ) @a%d\n", i, i; print "a0 a99999 + . cr" }' >"$program"
expect aliases "99999 "

awk 'BEGIN { printf "( "; for (i = 0; i < 700000; i++) printf "x "; printf ")\n"
    for (i = 0; i < 700000; i++) printf ") "; print ""
    for (i = 0; i < 700000; i++) print ")"
    print "( short ) ) .. cr" }' >"$program"
expect closers "short "

exit $status
