#!/usr/bin/env bash
# Every transcript checked twice by the console program of each build given:
# once with compiled lines, once with every line taking the general walk
# (--no-plans). Both runs must pass and report the same.
#
#   tests/plans_both_ways.sh BUILD_DIR...
# Prints one line per build and run; exit status 1 when a run fails or the two
# reports differ.
set -euo pipefail

if [ $# -lt 1 ]; then
    echo "usage: $0 BUILD_DIR..." >&2
    exit 2
fi
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
transcripts=("$root"/tests/transcripts/*.tr)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

status=0
for build in "$@"; do
    orbax=$(cd "$build" && pwd)/host/orbax
    if [ ! -x "$orbax" ]; then
        echo "$build: no host/orbax"
        status=1
        continue
    fi
    for plans in on off; do
        option=()
        [ "$plans" = off ] && option=(--no-plans)
        # Transcripts run where ctest runs them: in the build folder.
        if (cd "$build" && env -u ORBAX_PLANS "$orbax" "${option[@]}" --check "${transcripts[@]}") \
            >"$scratch/$plans" 2>&1 </dev/null; then
            result=passed
        else
            result=FAILED
            status=1
            cat "$scratch/$plans"
        fi
        echo "$build, plans $plans: $result ($(tail -n 1 "$scratch/$plans"))"
    done
    if ! cmp -s "$scratch/on" "$scratch/off"; then
        echo "$build: the reports with and without plans differ:"
        diff "$scratch/on" "$scratch/off" || true
        status=1
    fi
done
exit "$status"
