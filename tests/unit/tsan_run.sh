#!/bin/sh
# Runs a ThreadSanitizer test. Where the kernel maps memory with more
# random bits than the sanitizer's layout allows, it fails at start with
# "unexpected memory mapping"; it then runs again with address
# randomisation off for that process alone.
out=$(mktemp) || exit 1
trap 'rm -f "$out"' EXIT
"$@" >"$out" 2>&1
status=$?
if [ "$status" -ne 0 ] && grep -q "unexpected memory mapping" "$out"; then
    setarch "$(uname -m)" -R "$@" >"$out" 2>&1
    status=$?
fi
cat "$out"
exit "$status"
