#!/usr/bin/env bash
# Build every fuzz target tests/fuzz/*_fuzz.cpp with libFuzzer, AddressSanitizer
# and UndefinedBehaviorSanitizer, linked with all runtime sources.
#   tests/fuzz/build.sh            targets go to build/fuzz/
# clang-14 cannot parse the C++20 library headers of g++ 12; clang-16 is then
# used, and installed from Debian when it is missing (as root).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."

out=build/fuzz
mkdir -p "$out/obj"

probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT
printf '#include <string>\n#include <span>\n#include <vector>\nextern "C" int LLVMFuzzerTestOneInput(const unsigned char *, unsigned long) { return std::vector<std::string>{}.size(); }\n' >"$probe/p.cpp"
usable() {
    command -v "$1" >/dev/null &&
        "$1" -std=c++20 -fsanitize=fuzzer,address,undefined "$probe/p.cpp" -o "$probe/p" 2>/dev/null
}
cxx=""
for candidate in clang++-16 clang++-17 clang++-18 clang++ clang++-14; do
    if usable "$candidate"; then cxx=$candidate; break; fi
done
if [ -z "$cxx" ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "fuzz/build.sh: no clang that builds C++20 fuzz targets; install clang-16 (as root)" >&2
        exit 1
    fi
    echo "fuzz/build.sh: installing clang-16"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq || true    # the mirror can fail; try anyway
    apt-get install -y -qq --no-install-recommends clang-16 libclang-rt-16-dev >/dev/null
    usable clang++-16 || { echo "fuzz/build.sh: clang++-16 cannot build fuzz targets" >&2; exit 1; }
    cxx=clang++-16
fi
echo "fuzz/build.sh: using $cxx"

flags=(-std=c++20 -g -O1 -fno-omit-frame-pointer -Iinclude -I.
       -fsanitize=address,undefined -fno-sanitize-recover=all)

# The runtime once, instrumented for coverage but without libFuzzer's main.
objects=()
sources=()
for dir in core scalar structural interpreter system compiler; do
    for source in "$dir"/*.cpp; do
        [ -e "$source" ] && sources+=("$source")
    done
done
pids=()
for source in "${sources[@]}"; do
    object="$out/obj/$(echo "$source" | tr / _).o"
    objects+=("$object")
    if [ ! -e "$object" ] || [ "$source" -nt "$object" ] || [ include/apl.h -nt "$object" ] ||
       [ -n "$(find "$(dirname "$source")" -name '*.h' -newer "$object" -print -quit)" ]; then
        "$cxx" "${flags[@]}" -fsanitize=fuzzer-no-link -c "$source" -o "$object" &
        pids+=($!)
        if [ ${#pids[@]} -ge "$(nproc)" ]; then wait "${pids[0]}"; pids=("${pids[@]:1}"); fi
    fi
done
for pid in "${pids[@]}"; do wait "$pid"; done

built=0
for target in tests/fuzz/*_fuzz.cpp; do
    [ -e "$target" ] || continue
    name=$(basename "$target" .cpp)
    "$cxx" "${flags[@]}" -fsanitize=fuzzer "$target" "${objects[@]}" -lm -o "$out/$name"
    echo "fuzz/build.sh: built $out/$name"
    built=$((built + 1))
done
[ "$built" -gt 0 ] || { echo "fuzz/build.sh: no fuzz targets" >&2; exit 1; }
