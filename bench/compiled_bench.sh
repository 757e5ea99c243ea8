#!/usr/bin/env bash
# Compiled against interpreted, in one run: APL functions are compiled with
# ⎕ORBAX, built with their makefiles and timed against the same functions run
# by the session and against plain C loops doing the same arithmetic.
#   bench/compiled_bench.sh [BUILD_DIR]        (default build/default)
# Times are processor time (user + system) of whole processes, best of three;
# a run of one turn is subtracted, so that start-up and fixing do not count.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=$(cd "${1:-$here/../build/default}" && pwd)
orbax=${ORBAX:-$build/host/orbax}
turns=${ORBAX_TURNS:-10000000}
repeats=${ORBAX_REPEATS:-200}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# Seconds of processor time of a command (best of three).
cpu() {
    local best= t
    for _ in 1 2 3; do
        /usr/bin/time -o "$work/time" -f '%U %S' "$@" >/dev/null 2>&1 </dev/null || true
        t=$(awk '{ print $1 + $2 }' "$work/time")
        if [ -z "$best" ] || awk -v a="$t" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$t; fi
    done
    echo "$best"
}

# The functions, one per project (a project's main calls its first function).
cat >functions.apl <<'APL'
R←⎕FX 'Z←BRANCH S;N;I' 'N←⍎S ⋄ I←0' 'L:I←I+1' '→(I<N)⍴L' 'Z←I'
R←⎕FX 'Z←SCALAR S;N;I;T' 'N←⍎S ⋄ I←T←0' 'L:I←I+1' 'T←T+I×2' '→(I<N)⍴L' 'Z←T'
R←⎕FX 'Z←DOT S;R;X;Y' 'R←⍎S ⋄ X←(⍳1000000)÷7 ⋄ Y←X+1' '{⍺K←⍳R: Z←+/X×Y}'
APL
# A function of 200 lines of assorted statements, for the compile time.
{
    printf "R←⎕FX 'Z←LONG N;A;B;C;D;E'"
    for ((k = 1; k <= 200; k++)); do
        case $((k % 5)) in
            0) printf " 'A←A+%d'" "$k" ;;
            1) printf " 'B←(A×2)-⍳3 ⋄ C←+/B,A'" ;;
            2) printf " 'L%d:D←C⌈A'" "$k" ;;
            3) printf " '→(A>1E9)⍴L%d'" "$((k - 1))" ;;
            4) printf " 'E←''text'',⍕A ⋄ Z←D'" ;;
        esac
    done
    printf '\n'
} >long.apl

echo "A←0" >>long.apl
for f in BRANCH SCALAR DOT; do
    { cat functions.apl; echo "'$f' ⎕ORBAX '$work/${f,,}'"; } | "$orbax" >/dev/null
    make -s -C "${f,,}" >/dev/null
done
cat long.apl >long_fix.apl
# Ten compilations in one session, against the session that only fixes.
{ cat long.apl; for _ in 1 2 3 4 5 6 7 8 9 10; do echo "'LONG' ⎕ORBAX '$work/long'"; done; } >long_compile.apl

session() {  # function argument
    { cat functions.apl; echo "R←$1 '$2'"; } >"session_$1_$2.apl"
    cpu "$orbax" -script "session_$1_$2.apl"
}

# Plain C: the same arithmetic in doubles, kept from being folded away; it
# prints its own processor time per turn (too short for the process timer).
cat >plain.c <<'C'
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
int main(int argc, char **argv) {
    const double n = atof(argv[2]);
    double i = 0, t = 0;
    struct timespec a, b;
    (void)argc;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &a);
    if (argv[1][0] == 'b') {
        do { i = i + 1; __asm__ volatile("" : "+x"(i)); } while (i < n);
    } else {
        do { i = i + 1; t = t + i * 2; __asm__ volatile("" : "+x"(i), "+x"(t)); } while (i < n);
    }
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &b);
    printf("%.9f\n", (b.tv_sec - a.tv_sec) + (b.tv_nsec - a.tv_nsec) * 1e-9);
    return (int)(i + t) & 1;
}
C
cc -O2 -o plain plain.c

report() {  # name, lines per turn, turns, interpreted s, compiled s, plain s
    awk -v name="$1" -v lines="$2" -v n="$3" -v i="$4" -v c="$5" -v p="$6" 'BEGIN {
        scale = 1e9 / (n * lines)
        printf "%-8s %8.1f %8.1f %8s %8.2f\n", name, i * scale, c * scale, (p == "" ? "-" : sprintf("%.1f", p * scale)), i / c
    }'
}

printf '%-8s %8s %8s %8s %8s\n' "" "interp" "compiled" "plain C" "ratio"
printf '%-8s %8s %8s %8s %8s\n' "" "ns/line" "ns/line" "ns/line" "i/c"
one=$(session BRANCH 1); many=$(session BRANCH "$turns")
interp=$(awk -v a="$many" -v b="$one" 'BEGIN { print a - b }')
compiled=$(awk -v a="$(cpu ./branch/branch "$turns")" -v b="$(cpu ./branch/branch 1)" 'BEGIN { print a - b }')
plain=$(./plain b "$turns")
report branch 2 "$turns" "$interp" "$compiled" "$plain"

one=$(session SCALAR 1); many=$(session SCALAR "$turns")
interp=$(awk -v a="$many" -v b="$one" 'BEGIN { print a - b }')
compiled=$(awk -v a="$(cpu ./scalar/scalar "$turns")" -v b="$(cpu ./scalar/scalar 1)" 'BEGIN { print a - b }')
plain=$(./plain s "$turns")
report scalar 3 "$turns" "$interp" "$compiled" "$plain"

# The bulk line Z←+/X×Y on 1e6 REAL, repeated: time per line (µs shown as ns/1000).
one=$(session DOT 1); many=$(session DOT "$repeats")
interp=$(awk -v a="$many" -v b="$one" 'BEGIN { print a - b }')
compiled=$(awk -v a="$(cpu ./dot/dot "$repeats")" -v b="$(cpu ./dot/dot 1)" 'BEGIN { print a - b }')
report "+/X×Y" 1 "$((repeats - 1))" "$interp" "$compiled" ""

fix=$(cpu "$orbax" -script long_fix.apl)
compile=$(cpu "$orbax" -script long_compile.apl)
start=$(date +%s%N)
make -s -C long >/dev/null
end=$(date +%s%N)
awk -v f="$fix" -v c="$compile" -v m="$(( (end - start) / 1000000 ))" 'BEGIN {
    printf "200-line function: ⎕ORBAX %.1f ms (processor), make %d ms (wall)\n", (c - f) * 100, m
}'
