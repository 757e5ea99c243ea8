#!/usr/bin/env bash
# The console program as a user meets it: the start-up of the installed orbax
# (piped, and at a terminal where it loads a full history file), and the del
# editor fixing a function of 1000 lines and changing one line of it.
#   bench/session_bench.sh [BUILD_DIR]        (default build/default; ORBAX_RUNS)
# Start-up is wall and processor time per run, the mean of ORBAX_RUNS runs of
# a loop that feeds each run ")OFF", less the same loop of `head -n1`, so that
# the loop's own cost does not count; at a terminal the loop runs inside one
# script(1) session. The editor times are processor time of
# sessions that fix the function ten times, best of three, less a session
# that only starts and ends, per fix.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=$(cd "${1:-$here/../build/default}" && pwd)
runs=${ORBAX_RUNS:-200}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
orbax=$work/prefix/bin/orbax
export HOME=$work/home
mkdir -p "$HOME"
for ((k = 1; k <= 1000; k++)); do echo "X$k←$k×⍳10"; done >"$HOME/.orbax_history"

# "WALL CPU": milliseconds of wall and of processor time (user + system, the
# program and all it starts) of `runs` runs of a command line.
measure() {
    local start=$EPOCHREALTIME
    /usr/bin/time -o "$work/time" -f '%U %S' bash -c "$1" >/dev/null 2>"$work/errors" || cat "$work/errors" >&2
    awk -v a="$start" -v b="$EPOCHREALTIME" '{ printf "%.2f %.2f", (b - a) * 1000, ($1 + $2) * 1000 }' "$work/time"
}

# Per run, the difference of two measures: "WALL ms wall, CPU ms processor".
per_run() {
    awk -v a="$1" -v b="$2" -v n="$runs" 'BEGIN {
        split(a, x, " "); split(b, y, " ")
        printf "%.2f ms wall, %.2f ms processor", (x[1] - y[1]) / n, (x[2] - y[2]) / n }'
}

# Milliseconds of processor time of a script (best of three).
cpu() {
    local best= t
    for _ in 1 2 3; do
        /usr/bin/time -o "$work/time" -f '%U %S' "$orbax" -script "$1" >/dev/null 2>&1 || true
        t=$(awk '{ print ($1 + $2) * 1000 }' "$work/time")
        if [ -z "$best" ] || awk -v a="$t" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$t; fi
    done
    echo "$best"
}

loop="for k in \$(seq $runs); do PROGRAM <<<')OFF' >/dev/null; done"
piped=$(measure "${loop//PROGRAM/$orbax}")
bare=$(measure "${loop//PROGRAM/head -n1}")
echo "start-up, piped:                      $(per_run "$piped" "$bare")"
for ((k = 0; k < runs; k++)); do echo ')OFF'; done >"$work/typed"
loop="script -qec 'for k in \$(seq $runs); do PROGRAM >/dev/null; done' /dev/null <'$work/typed'"
bare=$(measure "${loop//PROGRAM/head -n1}")
terminal=$(measure "${loop//PROGRAM/$orbax}")
echo "start-up, terminal with 1000 history: $(per_run "$terminal" "$bare")"
: >"$HOME/.orbax_history"
terminal=$(measure "${loop//PROGRAM/$orbax}")
echo "start-up, terminal, empty history:    $(per_run "$terminal" "$bare")"

for ((k = 1; k <= 1000; k++)); do echo "A←N+$k ⋄ B←A×2 ⋄ Z←+/B,⍳3"; done >"$work/lines"
for ((k = 0; k < 10; k++)); do
    echo "∇Z←LONG N;A;B"
    cat "$work/lines"
    echo "∇"
done >"$work/define.apl"
{
    cat "$work/define.apl"
    for ((k = 0; k < 10; k++)); do printf '∇LONG\n[500] Z←N+%d\n∇\n' "$k"; done
} >"$work/edit.apl"
echo ")OFF" >"$work/empty.apl"
empty=$(cpu "$work/empty.apl")
define=$(cpu "$work/define.apl")
edit=$(cpu "$work/edit.apl")
echo "fix 1000 lines through the editor:    $(awk -v a="$define" -v b="$empty" 'BEGIN { printf "%.1f", (a - b) / 10 }') ms"
echo "then replace one line and fix again:  $(awk -v a="$edit" -v b="$define" 'BEGIN { printf "%.1f", (a - b) / 10 }') ms"
