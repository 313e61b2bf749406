#!/usr/bin/env bash
# Runaway recursion of each kind ends in "recursion too deep", deep but
# finite recursion works, a chain of 200,000 lists, each quoting a call of
# the next, is freed at the end, and a chain of 200,000 words, each calling
# the one before, is compiled when it runs again, under an unlimited, an
# 8 MiB and a 1 MiB stack.
# Usage: limits.sh TOLVA [--measure]; --measure also holds each run to 256 MiB
# resident. A run that takes over 10 s is killed (status 137), or over 30 s
# without --measure, which instrumented builds run without: they are several
# times slower, and more so on a loaded machine. The first failure ends the
# test.
set -u
tolva=$1 measure=${2:-} err=$(mktemp) rss=$(mktemp) chain=$(mktemp) calls=$(mktemp)
seconds=10
[[ $measure == --measure ]] || seconds=30
trap 'rm -f "$err" "$rss" "$chain" "$calls"' EXIT
fail() { echo "FAIL (ulimit -s $stack): $*"; exit 1; }

# expect INPUT CODE ERRORS OUTPUT; an error means status 2.
expect() {
    local out status want=0 used
    out=$(ulimit -s $stack && exec timeout -s KILL $seconds /usr/bin/time -f %M -o "$rss" "$tolva" -e "$2" <<<"$1" 2>"$err")
    status=$?
    used=$(tail -n 1 "$rss")
    [[ -z $3 ]] || want=2
    [[ $out == "$4" && $(<"$err") == "$3" && $status == "$want" ]] ||
        fail "$2: status $status, output '$out', errors '$(<"$err")'; expected $want, '$4', '$3'"
    [[ $measure != --measure ]] || ((${used:-0} < 262144)) || fail "$2: used $used KiB"
}

too_deep='Runtime error: recursion too deep'
awk 'BEGIN { n = 200000
    for (i = 1; i < n; i++) printf ":b%d 1 { b%d } ;\n", i, i + 1
    printf ":b%d 1 ;\nb1\n", n
    for (i = 1; i < n; i++) print "execute clear" }' >"$chain"
awk 'BEGIN { n = 200000
    print ":w0 1 ;"
    for (i = 1; i < n; i++) printf ":w%d w%d ;\n", i, i - 1
    printf "w%d w%d + . cr\n", n - 1, n - 1 }' >"$calls"
for stack in unlimited 8192 1024; do
    (ulimit -s $stack && exec timeout -s KILL 60 "$tolva" "$chain") >/dev/null 2>"$err" ||
        fail "a chain of 200,000 lists: status $?, errors '$(<"$err")'"
    out=$(ulimit -s $stack && exec timeout -s KILL 60 "$tolva" "$calls" 2>"$err")
    status=$?
    [[ $out == '2 ' && $status == 0 ]] ||
        fail "a chain of 200,000 calls: status $status, output '$out', errors '$(<"$err")'"
    expect '' ':down 1- dup { down } iftrue ; 100000 down .s' '' '0 '
    expect '' ':cd 1- dup { cd } iftrue ; 0 cd' "$too_deep" ''
    expect '' ':f f ; f' "$too_deep" ''
    expect '' '[ execute ] execute' "$too_deep" ''
    expect 'interpret' 'accept interpret' "$too_deep" ''
    expect '' ':] ] ; [ 1 ]' "$too_deep" ''
done
