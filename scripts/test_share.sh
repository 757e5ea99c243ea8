#!/usr/bin/env bash
# The size of the tests against the size of the product, in lines:
#   scripts/test_share.sh
# Product: the .cpp, .h and .c files of the runtime, host, plug-ins and
# compiler folders and the public header, and the Python package's sources.
# Tests: the source files under tests/ and python/tests/ (transcripts,
# scripts, C, C++ and Python sources and headers, the fixture and seed
# generators), not the data they read (binary fixtures, transfer files, fuzz
# seeds and dictionaries, and the compiler's expected output: C text that
# the tests compare byte for byte, never compile).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

count_lines() {
    # Reads NUL-separated names; prints the total number of lines (0 if none).
    xargs -0 -r cat | wc -l
}

product_dirs=()
for dir in core scalar structural system interpreter host plugins compiler support include; do
    [ -d "$dir" ] && product_dirs+=("$dir")
done

product=$( (find "${product_dirs[@]}" -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.c' \) -print0
           [ -d python ] && find python -path python/tests -prune -o -type f \
               \( -name '*.cpp' -o -name '*.h' -o -name '*.py' \) -print0) | count_lines)
test_dirs=(tests)
[ -d python/tests ] && test_dirs+=(python/tests)
tests=$(find "${test_dirs[@]}" -path tests/compiler/expected -prune -o -type f \( -name '*.tr' -o -name '*.sh' -o -name '*.c' -o -name '*.cpp' \
        -o -name '*.h' -o -name '*.py' -o -name '*.apl' \) -print0 | count_lines)

echo "product: $product lines"
echo "tests:   $tests lines"
awk -v t="$tests" -v p="$product" 'BEGIN { printf "ratio:   %.1f%% (tests / product)\n", p ? 100 * t / p : 0 }'
