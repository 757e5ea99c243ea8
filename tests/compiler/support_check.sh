#!/usr/bin/env bash
# The hand-compiled support_check program against the interpreter running the
# same function: the same output for the same arguments, status 0; a run-time
# error and a bad argument end with status 1 and their message.
#   support_check.sh ORBAX PROGRAM SOURCE_DIR [LAUNCHER]
set -uo pipefail
orbax=$1 program=$2 here=$3 launcher=${4:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

check() {  # name, expected file, actual file
    if ! diff -u "$2" "$3"; then
        echo "FAILED: $1"
        failed=1
    fi
}

# Arguments as the program gets them: B first, A second (UTF-8 on the command line).
for args in "2|ab⍴" "1|x" "7|⍳∆"; do
    b=${args%%|*} a=${args#*|}
    { cat "$here/support_check.apl"; printf "'%s' DEMO '%s'\n" "$a" "$b"; } | $launcher "$orbax" >"$work/expected"
    $launcher "$program" "$b" "$a" >"$work/actual"
    status=$?
    check "DEMO with $a and $b" "$work/expected" "$work/actual"
    [ $status -eq 0 ] || { echo "FAILED: status $status for $a and $b"; failed=1; }
done

# A run-time error (⍎'÷0' is DOMAIN ERROR on line 10) ends the program with status 1.
$launcher "$program" '÷0' 'ab' >"$work/actual"
status=$?
printf '%s\n' start 7 '7 2 8' '4 9 6' 'half line' 10 20 30 40 \
    "Run time error 11 in module $(grep -o '[^ ]*support_check.c' "$work/actual" | head -n 1)[10]" >"$work/expected"
check "run-time error" "$work/expected" "$work/actual"
[ $status -eq 1 ] || { echo "FAILED: status $status after a run-time error"; failed=1; }

# Arguments that are not UTF-8 of the APL character set are refused.
$launcher "$program" 2 $'\xff' >"$work/actual"
status=$?
echo 'ERROR: program argument: invalid UTF-8 byte 0xFF at byte offset 0' >"$work/expected"
check "bad argument" "$work/expected" "$work/actual"
[ $status -eq 1 ] || { echo "FAILED: status $status after a bad argument"; failed=1; }
$launcher "$program" 2 >"$work/actual"
status=$?
echo 'ERROR: Wrong number of arguments!' >"$work/expected"
check "argument count" "$work/expected" "$work/actual"
[ $status -eq 1 ] || { echo "FAILED: status $status for a wrong argument count"; failed=1; }

[ $failed -eq 0 ] && echo "support_check: all passed"
exit $failed
