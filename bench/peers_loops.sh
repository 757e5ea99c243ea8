#!/usr/bin/env bash
# Loops, calls and appends as users write them, against A+ in one run: each
# form runs inside a defined function (A+: its while loop or recursion) and is
# timed with the interpreter's own processor clock (⎕AI in orbax, time{} in
# A+). Prints nanoseconds per turn, and orbax's ratio against its first row
# per statement a turn holds.
#   bench/peers_loops.sh [BUILD_DIR]          (default build/default)
# A+ comes from Debian's aplus-fsf, installed here when missing. Its clock
# ticks in hundredths of a second, hence the long runs.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=$(cd "${1:-$here/../build/default}" && pwd)
orbax=${ORBAX:-$build/host/orbax}
n=${LOOP_TURNS:-1000000}
appends=${APPENDS:-40000}
if ! command -v a+ >/dev/null; then
    apt-get install -y aplus-fsf >/dev/null
fi
work=$(mktemp -d)
trap "rm -rf $work" EXIT

# name % statements a turn % turns % orbax function (⎕FX argument, called with
# the turns as N) % A+ function f{n}, lines split at @@ (- when A+ has no
# such form)
forms="L:I←I+1 / →(I<N)⍴L%2%$n%'Z←F N;I' 'I←0' 'L:I←I+1' '→(I<N)⍴L' 'Z←I'%f{n}: { i := 0; while (i < n) i := i + 1; i }
L:I←I+1 / →(I<N)/L%2%$n%'Z←F N;I' 'I←0' 'L:I←I+1' '→(I<N)/L' 'Z←I'%-
L:R←R+I ⋄ I←I+1 / →(I<N)⍴L%3%$n%'Z←F N;I;R' 'I←R←0' 'L:R←R+I ⋄ I←I+1' '→(I<N)⍴L' 'Z←R'%-
L:R←R+I / I←I+1 / →(I<N)⍴L%3%$n%'Z←F N;I;R' 'I←R←0' 'L:R←R+I' 'I←I+1' '→(I<N)⍴L' 'Z←R'%-
L:I←I+1 / →L×⍳I<N%2%$n%'Z←F N;I' 'I←0' 'L:I←I+1' '→L×⍳I<N' 'Z←I'%-
L:V[1+10|I]←I / I←I+1 / →(I<N)⍴L%3%$n%'Z←F N;I;V' 'I←0 ⋄ V←10⍴0' 'L:V[1+10|I]←I' 'I←I+1' '→(I<N)⍴L' 'Z←V'%f{n}: { i := 0; v := 10 rho 0; while (i < n) { v[10 | i] := i; i := i + 1 }; v }
L:Q←SQ I / I←I+1 / →(I<N)⍴L%3%$n%'Z←F N;I;Q' 'I←0' 'L:Q←SQ I' 'I←I+1' '→(I<N)⍴L' 'Z←Q' ⋄ ⎕FX 'Z←SQ X' 'Z←X×X'%sq{x}: x * x @@ f{n}: { i := 0; while (i < n) { q := sq{i}; i := i + 1 }; q }
new user: L:R←R+I ⋄ I←I+1 / →(I<N)/L%3%$n%'Z←F N;I;R' 'I←R←0' 'L:R←R+I ⋄ I←I+1' '→(I<N)/L' 'Z←R'%f{n}: { i := 0; r := 0; while (i < n) { r := r + i; i := i + 1 }; r }
FIB 20 (per call of FIB)%1%218910%'Z←F N;K' 'K←0' 'L:Z←FIB 20 ⋄ K←K+1' '→(K<10)⍴L' ⋄ ⎕FX 'Z←FIB N' '→(N<2)/E' 'Z←(FIB N-1)+FIB N-2' '→0' 'E:Z←N'%fib{n}: if (n < 2) n else (fib{n - 1}) + fib{n - 2} @@ f{n}: { k := 0; while (k < 10) { z := fib{20}; k := k + 1 }; z }
R←R,I (append)%3%$appends%'Z←F N;I;R' 'I←0 ⋄ R←⍳0' 'L:R←R,I' 'I←I+1' '→(I<N)⍴L' 'Z←⍴R'%f{n}: { i := 0; r := (); while (i < n) { r := r, i; i := i + 1 }; # r }"

{
    while IFS='%' read -r name _ turns fx _; do
        echo "⎕FX $fx"
        echo "T←⎕AI ⋄ Q←F $turns ⋄ ⌊0.5+1E6×(1↑⎕AI-T)÷$turns"
    done <<<"$forms"
    echo ')OFF'
} >"$work/loops.apl"
{
    echo '$mode ascii'
    while IFS='%' read -r name _ turns _ aplus; do
        if [ "$aplus" = - ]; then
            echo '0'
        else
            echo "${aplus// @@ /$'\n'}"
            echo "t := time{}; q := f{$turns}; 1e6 * (1 take time{} - t) % $turns"
        fi
    done <<<"$forms"
    echo '$off'
} >"$work/loops.a"

"$orbax" -script "$work/loops.apl" </dev/null 2>&1 | grep -E '^ *[0-9]+$' >"$work/orbax.out" || true
a+ "$work/loops.a" </dev/null 2>&1 | grep -E '^ *[0-9.e+]+$' >"$work/aplus.out" || true
printf '| form, ns per turn | orbax | orbax / first row per statement | A+ |\n|---|---:|---:|---:|\n'
paste -d'%' <(cut -d'%' -f1,2 --output-delimiter='%' <<<"$forms") "$work/orbax.out" "$work/aplus.out" |
    awk -F'%' 'NR == 1 { base = $3 / $2 }
        { aplus = $4 + 0 == 0 ? "-" : sprintf("%d", $4 + 0.5)
          printf "| %s | %d | %.2f | %s |\n", $1, $3, ($3 / $2) / base, aplus }'
