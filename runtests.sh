#!/usr/bin/env bash
# Build and run every test of one configuration (installing what is missing):
#   ./runtests.sh            the default build (RelWithDebInfo)
#   ./runtests.sh sanitize   Debug with AddressSanitizer + UndefinedBehaviorSanitizer
#   ./runtests.sh m32        32-bit build (-m32 -msse2 -mfpmath=sse)
# Extra arguments after the preset name go to ctest (e.g. -R exports).
# The exit status is non-zero when the build or any test fails.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"

preset=${1:-default}
[ $# -gt 0 ] && shift
case $preset in
    default) scripts/deps.sh --python ;;
    sanitize) scripts/deps.sh ;;
    m32) scripts/deps.sh --all ;;
    *) echo "runtests.sh: unknown preset '$preset' (default, sanitize or m32)" >&2; exit 2 ;;
esac

jobs=$(nproc)
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-$jobs}
export CTEST_PARALLEL_LEVEL=${CTEST_PARALLEL_LEVEL:-$jobs}

cmake --preset "$preset"
cmake --build --preset "$preset"
ctest --preset "$preset" "$@"
