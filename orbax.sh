#!/usr/bin/env bash
# Build the runtime (installing what is missing) and start it:
#   ./orbax.sh [ARGUMENTS...]
# starts the console program build/default/host/orbax with ARGUMENTS, or,
# while there is no console program yet, the smoke program build/default/smoke.
# The build output goes to build/default/build.log and is shown on failure.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"

scripts/deps.sh

export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}
mkdir -p build/default
log=build/default/build.log
if [ ! -f build/default/CMakeCache.txt ]; then
    echo "orbax.sh: building (first time: this takes a while; log in $log)" >&2
fi
if ! { cmake --preset default && cmake --build --preset default; } >"$log" 2>&1; then
    cat "$log" >&2
    echo "orbax.sh: build failed (log in $log)" >&2
    exit 1
fi

if [ -x build/default/host/orbax ]; then
    exec build/default/host/orbax "$@"
elif [ -x build/default/smoke ]; then
    exec build/default/smoke "$@"
else
    echo "orbax.sh: neither build/default/host/orbax nor build/default/smoke was built" >&2
    exit 1
fi
