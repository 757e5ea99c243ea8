#!/usr/bin/env bash
# Index of and membership of REAL, integral REAL, INTG and mixed data against
# A+ in one run: each interpreter makes the same kind of data (1e5 values
# drawn from 0 to 2e5-1, divided by 7 for REAL) and times a number of calls of
# each search with its own processor clock (⎕AI in orbax, time{} in A+).
#   bench/peers_search.sh [BUILD_DIR]          (default build/default)
# A+ comes from Debian's aplus-fsf, installed here when missing. Prints the
# processor milliseconds of one call, per search and interpreter.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=$(cd "${1:-$here/../build/default}" && pwd)
orbax=${ORBAX:-$build/host/orbax}
n=${SEARCH_LENGTH:-100000}
calls=${SEARCH_CALLS:-20}
if ! command -v a+ >/dev/null; then
    apt-get install -y aplus-fsf >/dev/null
fi
work=$(mktemp -d)
trap "rm -rf $work" EXIT

# name | orbax expression | A+ expression (X, Y, I, J, M defined as below)
searches='X⍳Y REAL|X⍳Y|x iota y
Y∊X REAL|Y∊X|y in x
X⍳Y integral REAL|I⍳J|i iota j
Y∊X integral REAL|J∊I|j in i
X⍳Y INTG|K⍳L|k iota l
Y∊X INTG|L∊K|l in k
X⍳Y INTG table, REAL keys|K⍳M|k iota m
((X⍳X)=⍳⍴X)/X REAL|((X⍳X)=⍳⍴X)/X|((x iota x) = iota # x) / x'

{
    # 2×N is REAL (the product of two INTG is): the INTG rows draw from the
    # written bound, an INTG constant.
    echo "N←$n ⋄ B←$((2 * n))"
    echo 'X←(?N⍴2×N)÷7 ⋄ Y←(?N⍴2×N)÷7 ⋄ I←2×0.5×?N⍴2×N ⋄ J←2×0.5×?N⍴2×N'
    echo 'K←?N⍴B ⋄ L←?N⍴B ⋄ M←(?N⍴2×N)÷2'
    while IFS='|' read -r name expression _; do
        echo "T←⎕AI ⋄ {⍺C←⍳$calls: R←$expression} ⋄ (1↑⎕AI-T)÷$calls"
    done <<<"$searches"
    echo ')OFF'
} >"$work/search.apl"
{
    echo '$mode ascii'
    echo "n := $n"
    echo 'x := (rand n rho 2 * n) % 7; y := (rand n rho 2 * n) % 7'
    echo 'i := 1.0 * rand n rho 2 * n; j := 1.0 * rand n rho 2 * n'
    echo 'k := rand n rho 2 * n; l := rand n rho 2 * n; m := (rand n rho 2 * n) % 2'
    while IFS='|' read -r name _ expression; do
        echo "t := time{}; $calls do r := $expression; (1 take time{} - t) % $calls"
    done <<<"$searches"
    echo '$off'
} >"$work/search.a"

"$orbax" -script "$work/search.apl" </dev/null >"$work/orbax.out" 2>&1
a+ "$work/search.a" </dev/null 2>&1 | tail -n "$(wc -l <<<"$searches")" >"$work/aplus.out"
printf '| search, %s values | orbax ms | A+ ms |\n|---|---:|---:|\n' "$n"
paste -d'|' <(cut -d'|' -f1 <<<"$searches") <(tail -n "$(wc -l <<<"$searches")" "$work/orbax.out") "$work/aplus.out" |
    awk -F'|' '{ printf "| %s | %s | %s |\n", $1, $2, $3 }'
