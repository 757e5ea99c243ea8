#!/usr/bin/env bash
# The fixture workspace (tests/fixtures/make_workspace.apl) saved by the
# 32-bit Windows build under Wine is the one the Linux 32-bit build saves,
# byte for byte, apart from the save time. The bytes that hold the time are
# found, not assumed: those that differ between two saves of the Linux build
# a second apart, and their neighbours.
#   tests/wine/workspace_match.sh M32_BUILD WINDOWS_BUILD
# (The component and whole-file fixtures are compared by the unit tests,
# which the Windows build runs under Wine.)
set -euo pipefail
source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
m32=$(cd "$1" && pwd)
windows=$(cd "$2" && pwd)
work=$(mktemp -d)
export WINEPREFIX=$windows/wineprefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
trap 'rm -rf "$work"' EXIT
cd "$work"

save() {  # runner name
    sed "s|^)SAVE .*|)SAVE $2|" "$source_dir/tests/fixtures/make_workspace.apl" >"$2.apl"
    "$1" "$2.apl" >/dev/null
    [ -s "$2.kaz" ] || { echo "workspace_match: $1 saved no $2.kaz" >&2; exit 1; }
}
linux() { LD_LIBRARY_PATH=$m32 "$m32/host/orbax" -script "$1"; }
wine32() { WINEPATH=$(winepath -w "$windows") wine "$windows/host/orbax.exe" -script "$1"; }

save linux first
sleep 1.1
save linux second
save wine32 windows
# Each differing byte with its neighbours: the time is a word, and a later
# save may carry into a byte that these two saves share.
cmp -l first.kaz second.kaz | awk '{ for (i = $1 - 3; i <= $1 + 3; i++) print i }' | sort -nu >time_bytes || true
[ -s time_bytes ] || { echo "workspace_match: two saves a second apart are identical (no save time?)" >&2; exit 1; }
if [ "$(stat -c %s first.kaz)" != "$(stat -c %s windows.kaz)" ]; then
    echo "workspace_match: FAILED: $(stat -c %s windows.kaz) bytes from Windows, $(stat -c %s first.kaz) from Linux" >&2
    exit 1
fi
cmp -l first.kaz windows.kaz | awk '{ print $1 }' >differ || true
other=$(grep -vxF -f time_bytes differ || true)
if [ -n "$other" ]; then
    echo "workspace_match: FAILED: bytes that differ outside the save time (offsets from 1): $(echo $other | head -c 200)" >&2
    exit 1
fi
echo "workspace_match: $(stat -c %s first.kaz) bytes, identical but for $(wc -l <differ) of the save time"
