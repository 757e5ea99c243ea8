#!/usr/bin/env bash
# End to end: one case of cases/ is fixed in a session, compiled with ⎕ORBAX
# into a fresh project, built with its makefile and run with the case's
# arguments; its output and exit status must be what the session gives for
# the same call.
#   e2e.sh ORBAX CASE WORK [LAUNCHER]
#
# A case is APL text: lines between ∇ and ∇ define a function, other lines
# run as they are (globals). Header comments:
#   ⍝ MAIN: NAME       the function compiled and called
#   ⍝ ARGS: a b        the program's arguments: the right argument first
#                      (as main passes argv[1]), then the left one
#   ⍝ STDIN: text      a line of input for ⎕ and ⍞ (repeatable)
#   ⍝ FAILS            the call ends in an error: the program prints the
#                      output before it, then "Run time error", status 1
# A program with arguments must also refuse one argument too few and an
# argument that is not UTF-8, with its message and status 1.
set -uo pipefail
orbax=$1 case=$2 work=$3 launcher=${4:-}
name=$(basename "$case" .apl)
project=$work/$name
rm -rf "$project" && mkdir -p "$work"
main=$(sed -n 's/^⍝ MAIN: *//p' "$case" | head -n 1)
[ -n "$main" ] || { echo "FAILED: $name: no '⍝ MAIN: NAME' line"; exit 1; }
args=$(sed -n 's/^⍝ ARGS: *//p' "$case" | head -n 1)
fails=$(grep -c '^⍝ FAILS' "$case")
sed -n 's/^⍝ STDIN: \{0,1\}//p' "$case" >"$work/$name.stdin"

# The case as session lines: ∇ blocks become ⎕FX calls, quotes doubled.
definitions() {
    awk '
        /^∇/ { if (open) { printf "\n"; open = 0; next }
               open = 1; sub(/^∇ */, ""); gsub(/\047/, "\047\047"); printf "R∆∆←⎕FX \047%s\047", $0; next }
        open { gsub(/\047/, "\047\047"); printf " \047%s\047", $0; next }
        /^⍝/ || /^ *$/ { next }
        { print }
    ' "$case"
}

# The call: quoted arguments, the left one (argv[2]) before the name.
call() {
    read -r -a words <<<"$args"
    local line=$main
    [ ${#words[@]} -ge 1 ] && line="$line '${words[0]}'"
    [ ${#words[@]} -ge 2 ] && line="'${words[1]}' $line"
    echo "$line"
}

{ definitions; echo "'$main' ⎕ORBAX '$project'"; echo ")OFF"; } >"$work/$name.compile"
if ! $launcher "$orbax" -script "$work/$name.compile" >"$work/$name.report" 2>&1 || [ ! -f "$project/makefile" ]; then
    echo "FAILED: $name: ⎕ORBAX wrote no project"
    cat "$work/$name.report"
    exit 1
fi
if ! make -C "$project" >"$work/$name.make" 2>&1; then
    echo "FAILED: $name: the project does not build"
    cat "$work/$name.make"
    exit 1
fi

{ definitions; call; cat "$work/$name.stdin"; echo ")OFF"; } >"$work/$name.session"
$launcher "$orbax" -script "$work/$name.session" >"$work/$name.expected" 2>&1
read -r -a words <<<"$args"
(cd "$project" && $launcher "./$name" "${words[@]}" <"$work/$name.stdin") >"$work/$name.actual" 2>&1
status=$?

failed=0
if [ "$fails" -gt 0 ]; then
    # The session's report of the error starts with its name; the program
    # stops at the same point with its own report.
    awk '/^[A-Z][A-Z ]* ERROR/ { exit } { print }' "$work/$name.expected" >"$work/$name.before"
    mv "$work/$name.before" "$work/$name.expected"
    error=$(awk '/^Run time error/ { exit } { print }' "$work/$name.actual")
    if ! grep -q '^Run time error [0-9]* in module' "$work/$name.actual"; then
        echo "FAILED: $name: no run-time error reported"
        failed=1
    fi
    printf '%s\n' "$error" | sed '/^$/d' >"$work/$name.actual.before"
    sed '/^$/d' "$work/$name.expected" >"$work/$name.expected.before"
    diff -u "$work/$name.expected.before" "$work/$name.actual.before" || failed=1
    [ $status -eq 1 ] || { echo "FAILED: $name: status $status after a run-time error"; failed=1; }
else
    diff -u "$work/$name.expected" "$work/$name.actual" || failed=1
    [ $status -eq 0 ] || { echo "FAILED: $name: status $status"; failed=1; }
fi
# The program's own checks of its arguments: one too few, and one not UTF-8.
refused() {  # what, message, arguments...
    local what=$1 message=$2 got status
    shift 2
    got=$(cd "$project" && $launcher "./$name" "$@" </dev/null 2>&1)
    status=$?
    [ "$got" = "$message" ] && [ $status -eq 1 ] || { echo "FAILED: $name: $what: status $status: $got"; failed=1; }
}
if [ ${#words[@]} -gt 0 ]; then
    refused "one argument too few" "ERROR: Wrong number of arguments!" "${words[@]:1}"
    refused "an argument not UTF-8" "ERROR: program argument: invalid UTF-8 byte 0xFF at byte offset 0" \
        "${words[@]:1}" $'\xff'
fi
[ $failed -eq 0 ] && echo "$name: passed"
exit $failed
