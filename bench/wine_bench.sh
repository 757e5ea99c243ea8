#!/usr/bin/env bash
# The Windows build under Wine against the Linux 32-bit build, in one run:
# X+Y on 1e6 REAL and the branch loop, each run by orbax -script.
#   bench/wine_bench.sh [M32_BUILD [WINDOWS_BUILD]]
#                          (default build/m32 and build/windows)
# Times are wall-clock seconds of whole processes (under Wine the work is
# shared with wineserver, which the processor time of the process leaves
# out), best of three; a run of one turn is subtracted, so that start-up and
# fixing do not count. A wineserver is kept running for the whole run.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
m32=$(cd "${1:-$here/../build/m32}" && pwd)
windows=$(cd "${2:-$here/../build/windows}" && pwd)
turns=${ORBAX_TURNS:-1000000}
repeats=${ORBAX_REPEATS:-200}
work=$(mktemp -d)
export WINEPREFIX=$windows/wineprefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
trap 'wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
wineserver -p 2>/dev/null || true
wine cmd /c exit >/dev/null 2>&1 || true
cd "$work"

# orbax.exe finds orbaxdm.dll through WINEPATH (it is built one folder up).
run_linux() { LD_LIBRARY_PATH=$m32 "$m32/host/orbax" -script "$1"; }
run_wine() { WINEPATH=$(winepath -w "$windows") wine "$windows/host/orbax.exe" -script "$1"; }

# Seconds of wall-clock time of a command (best of three).
wall() {
    local best= t0 t
    for _ in 1 2 3; do
        t0=$(date +%s.%N)
        "$@" >/dev/null 2>&1 </dev/null || true
        t=$(echo "$(date +%s.%N) - $t0" | bc)
        if [ -z "$best" ] || [ "$(echo "$t < $best" | bc)" = 1 ]; then best=$t; fi
    done
    echo "$best"
}

script() {  # name work-line
    printf '%s\n' "X←(⍳1000000)÷7 ⋄ Y←X+1" \
        "R←⎕FX 'Z←ADD N' 'Z←0' 'L:→(N=0)⍴0' 'Z←X+Y' 'N←N-1' '→L'" \
        "R←⎕FX 'Z←BRANCH N;I' 'I←0' 'L:I←I+1' '→(I<N)⍴L' 'Z←I'" \
        "$2" ")OFF" >"$1.apl"
}
script add "R←ADD $repeats"
script add1 "R←ADD 1"
script branch "R←BRANCH $turns"
script branch1 "R←BRANCH 1"

# Time of the work alone: the full run less the one-turn run.
net() {  # runner name
    echo "$(wall "$1" "$2.apl") - $(wall "$1" "${2}1.apl")" | bc
}
printf '%-34s %12s %12s %8s\n' case "Linux m32" "Wine win32" ratio
report() {  # label name per
    local linux wine
    linux=$(net run_linux "$2")
    wine=$(net run_wine "$2")
    printf '%-34s %10.1f %s %10.1f %s %7.2fx\n' "$1" \
        "$(echo "$linux * 1000000000 / ($3)" | bc -l)" "$4" \
        "$(echo "$wine * 1000000000 / ($3)" | bc -l)" "$4" \
        "$(echo "$wine / $linux" | bc -l)"
}
report "Z←X+Y, 1e6 REAL (a line)" add "$repeats * 1000" "µs"
report "branch loop (a turn)" branch "$turns" "ns"
