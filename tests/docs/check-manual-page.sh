#!/usr/bin/env bash
# The manual page must pass `mandoc -T lint` without a single message, and
# the version in its title line must be the one the program prints.
set -uo pipefail
page=$1 tolva=$2 failed=0
messages=$(mandoc -T lint -W all "$page" 2>&1) status=$?
[[ $status -eq 0 && -z $messages ]] || { echo "FAIL: mandoc -T lint (status $status):"; echo "$messages"; failed=1; }
prog=$("$tolva" --version | sed -n 's/^Tolva v\([^ ]*\) .*/\1/p')
paged=$(sed -n 's/^\.TH TOLVA 1 [^ ]* "Tolva \([^"]*\)".*/\1/p' "$page")
[[ -n $prog && $paged == "$prog" ]] || { echo "FAIL: the page is for version '$paged', the program '$prog'"; failed=1; }
exit $failed
