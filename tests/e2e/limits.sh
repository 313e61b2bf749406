#!/usr/bin/env bash
# Runaway recursion of each kind ends in "recursion too deep", and deep but
# finite recursion works, whatever the stack limit: unlimited, the usual
# 8 MiB, or 1 MiB. Usage: limits.sh TOLVA [--measure], where --measure also
# holds each run to 256 MiB resident and 1 GiB of address space (not for
# sanitizer builds). A run that takes over 10 s is killed (status 137).
set -u
tolva=$1
measure=${2:-}
failed=0

fail() {
    echo "FAIL (ulimit -s $stack): $*"
    failed=1
}

# expect STDIN CODE ERRORS OUTPUT
expect() {
    local input=$1 code=$2 errors=$3 output=$4 out err status rss
    out=$(mktemp) err=$(mktemp)
    (ulimit -s "$stack" && { [[ $measure != --measure ]] || ulimit -v 1048576; } &&
        exec timeout -s KILL 10 /usr/bin/time -f '%M' -o "$err.rss" "$tolva" -e "$code") \
        <<<"$input" >"$out" 2>"$err"
    status=$?
    rss=$(tail -n 1 "$err.rss" 2>/dev/null || echo 0)
    [[ $(cat "$out") == "$output" ]] || fail "$code: output '$(cat "$out")', expected '$output'"
    [[ $(cat "$err") == "$errors" ]] || fail "$code: errors '$(cat "$err")', expected '$errors'"
    if [[ -n $errors && $status -ne 2 ]] || [[ -z $errors && $status -ne 0 ]]; then fail "$code: status $status"; fi
    if [[ $measure == --measure ]]; then
        ((rss < 262144)) || fail "$code: used $rss KiB"
    fi
    rm -f "$out" "$err" "$err.rss"
}

too_deep='Runtime error: recursion too deep'
for stack in unlimited 8192 1024; do
    expect '' ':down 1- dup { down } iftrue ; 100000 down .s' '' '0 '
    expect '' ':cd 1- dup { cd } iftrue ; 0 cd' "$too_deep" ''
    expect '' ':f f ; f' "$too_deep" ''
    expect '' '[ execute ] execute' "$too_deep" ''
    expect 'interpret' 'accept interpret' "$too_deep" ''
    expect '' ':] ] ; [ 1 ]' "$too_deep" ''
done
exit $failed
