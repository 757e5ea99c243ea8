#!/usr/bin/env bash
# The general walk's cost per primitive call, in instructions (callgrind, exact
# from run to run): each line of execline_bench's walk table run TURNS times,
# only the evaluation of the line counted.
#   bench/walk_cost.sh [BUILD_DIR] [TURNS]     (default build/default, 20000)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=$(cd "${1:-$here/../build/default}" && pwd)
turns=${2:-20000}
bench=$build/bench/execline_bench
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '| line | calls | instructions per call |\n|---|---:|---:|\n'
for line in 0 1 2 3; do
    info=$(valgrind --tool=callgrind --toggle-collect='EvaluateStatementLine*' \
        --callgrind-out-file="$work/out" "$bench" --walk "$line" "$turns" 2>"$work/err")
    total=$(grep -o 'Collected : [0-9]*' "$work/err" | awk '{print $3}')
    name=${info%%: [0-9]* turns*}
    calls=$(sed -E 's/.* ([0-9]+) primitive calls.*/\1/' <<<"$info")
    case $info in *"NOT WALKED"*) name="$name (NOT WALKED)" ;; esac
    printf '| %s | %d | %d |\n' "$name" "$calls" $((total / turns / calls))
done
