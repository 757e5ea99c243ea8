#!/usr/bin/env bash
# Run every fuzz target of the fuzz preset for SECONDS seconds each,
# keeping its corpus in build/fuzz/corpus/NAME (seeded from tests/fuzz/seeds/NAME,
# which tests/fuzz/make_seeds.py regenerates from the transcripts, with the
# token dictionary tests/fuzz/apl.dict for the targets that read APL lines).
# Crashes are written to build/fuzz/crashes/.
#   tests/fuzz/run.sh 60
# The exit status is non-zero when any target found a fault.
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."

seconds=${1:-60}
out=build/fuzz
mkdir -p "$out/crashes"
status=0
found=0
for binary in "$out"/*_fuzz; do
    [ -x "$binary" ] || continue
    found=1
    name=$(basename "$binary")
    corpus="$out/corpus/$name"
    mkdir -p "$corpus"
    seeds=()
    [ -d "tests/fuzz/seeds/$name" ] && seeds=("tests/fuzz/seeds/$name")
    # Targets that read APL lines get the token dictionary.
    dict=()
    case $name in readarray_fuzz|wsload_fuzz) ;; *) dict=(-dict=tests/fuzz/apl.dict) ;; esac
    echo "======== $name for ${seconds}s ========"
    if "$binary" "${dict[@]}" -seed="${FUZZ_SEED:-1}" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=4096 -print_final_stats=1 \
        -artifact_prefix="$out/crashes/$name-" "$corpus" "${seeds[@]}" >"$out/$name.log" 2>&1; then
        echo "$name: no fault ($(ls "$corpus" | wc -l) corpus files)"
    else
        echo "$name: FAULT, see $out/$name.log and $out/crashes/"
        tail -n 40 "$out/$name.log"
        status=1
    fi
    grep -E '^stat::(number_of_executed_units|peak_rss_mb)' "$out/$name.log" || true
done
[ "$found" -eq 1 ] || { echo "fuzz/run.sh: nothing built; build them first: cmake --preset fuzz && cmake --build --preset fuzz" >&2; exit 1; }
exit $status
