#!/usr/bin/env bash
# Build and run every test of one configuration (installing what is missing):
#   ./runtests.sh            the default build (RelWithDebInfo)
#   ./runtests.sh sanitize   Debug with AddressSanitizer + UndefinedBehaviorSanitizer
#   ./runtests.sh m32        32-bit build (-m32 -msse2 -mfpmath=sse)
#   ./runtests.sh windows    orbaxdm.dll, orbax.exe and the unit tests (32-bit, MinGW-w64),
#                            tests under Wine where a 32-bit Wine runs
#   ./runtests.sh windows64  the same for 64-bit Windows, tests under Wine
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
    windows|windows64) scripts/deps.sh --windows ;;
    *) echo "runtests.sh: unknown preset '$preset' (default, sanitize, m32, windows or windows64)" >&2; exit 2 ;;
esac

jobs=$(nproc)
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-$jobs}
export CTEST_PARALLEL_LEVEL=${CTEST_PARALLEL_LEVEL:-$jobs}

cmake --preset "$preset"
cmake --build --preset "$preset"

# Under Wine: one wineserver for the whole run (not one per test program),
# started and warmed up before the tests and ended afterwards, failures
# included.
if [[ $preset == windows* ]]; then
    export WINEPREFIX=$PWD/build/$preset/wineprefix
    if [ -d "$WINEPREFIX" ]; then
        trap 'wineserver -k 2>/dev/null || true' EXIT
        (unset DISPLAY; wineserver -p) 2>/dev/null || true   # one may be running already
        ORBAX_WINEPREFIX=$WINEPREFIX ORBAX_WINEARCH=$([ "$preset" = windows64 ] && echo win64 || echo win32) \
            bash tests/wine/wine_run.sh cmd /c exit >/dev/null 2>&1 || true
    fi
fi
ctest --preset "$preset" "$@"
