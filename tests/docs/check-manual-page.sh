#!/usr/bin/env bash
# The manual page must pass `mandoc -T lint` without a single message, and
# the version in its title line must be the one the program prints.
# Usage: check-manual-page.sh PAGE TOLVA
set -uo pipefail
page=$1 tolva=$2
command -v mandoc >/dev/null || { echo "FAIL: mandoc is missing (tools/install-deps installs it)"; exit 1; }
failed=0

messages=$(mandoc -T lint -W all "$page" 2>&1)
status=$?
if [[ $status -ne 0 || -n $messages ]]; then
    echo "FAIL: mandoc -T lint (status $status):"
    echo "$messages"
    failed=1
fi

program_version=$("$tolva" --version | sed -n 's/^Tolva v\([^ ]*\) .*/\1/p')
page_version=$(sed -n 's/^\.TH TOLVA 1 [^ ]* "Tolva \([^"]*\)".*/\1/p' "$page")
if [[ -z $program_version || $page_version != "$program_version" ]]; then
    echo "FAIL: the page is for version '$page_version', the program is '$program_version'"
    failed=1
fi
exit $failed
