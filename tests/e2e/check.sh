#!/usr/bin/env bash
# Runs one end-to-end case against the real binary and compares standard
# output, standard error, the two merged (2>&1) and the exit status, byte for
# byte. Usage: check.sh TOLVA CASE, where CASE names files side by side:
#   CASE.tv       a program, run as `tolva CASE.tv` ...
#   CASE.args     ... or else the arguments, one per line
#   CASE.in       standard input (default: empty)
#   CASE.out      expected standard output         (default: empty)
#   CASE.err      expected standard error          (default: empty)
#   CASE.merged   expected merged stream; with CASE.err it fixes standard
#                 output too, so CASE.out may then be left out
#   CASE.status   expected exit status             (default: 0)
# The case runs in its own directory, with argv[0] set to "tolva".
set -u
tolva=$1
cd "$(dirname "$2")" || exit 1
name=$(basename "$2")

args=()
if [[ -f $name.args ]]; then
    mapfile -t args <"$name.args"
elif [[ -f $name.tv ]]; then
    args=("$name.tv")
fi
input=/dev/null
[[ -f $name.in ]] && input=$name.in

actual=$(mktemp -d)
trap 'rm -rf "$actual"' EXIT
(exec -a tolva "$tolva" "${args[@]}" <"$input" >"$actual/out" 2>"$actual/err")
echo $? >"$actual/status"
(exec -a tolva "$tolva" "${args[@]}" <"$input" >"$actual/merged" 2>&1)

expected() {
    if [[ -f $name.$1 ]]; then cat "$name.$1"; elif [[ $1 == status ]]; then echo 0; fi
}

failed=0
for part in out err merged status; do
    [[ $part == merged && ! -f $name.merged ]] && continue
    [[ $part == out && ! -f $name.out && -f $name.merged ]] && continue
    diff -u --label "expected $part" --label "actual $part" <(expected $part) "$actual/$part" || failed=1
done
exit $failed
