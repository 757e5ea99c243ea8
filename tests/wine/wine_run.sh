#!/usr/bin/env bash
# Runs a Windows program of the windows build under Wine, quietly and without
# a display: the emulator that CMake puts before every test command there.
#   tests/wine/wine_run.sh PROGRAM.exe ARGS...
# The prefix lives in the build folder (ORBAX_WINEPREFIX), so that it never
# meets one of the user's; ORBAX_WINEARCH is win32 (the default) or win64.
unset DISPLAY WAYLAND_DISPLAY
export WINEDEBUG=-all WINEARCH=${ORBAX_WINEARCH:-win32} WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX=${ORBAX_WINEPREFIX:?set ORBAX_WINEPREFIX to the prefix folder}
# A 64-bit prefix needs the 64-bit loader itself: "wine" may choose the 32-bit
# one whenever that is installed.
if [ "$WINEARCH" = win64 ]; then
    loader=/usr/lib/wine/wine64
    [ -x "$loader" ] || loader=$(command -v wine64 || echo wine)
    export WINELOADER=$loader
    exec "$loader" "$@"
fi
exec wine "$@"
