#!/usr/bin/env bash
# The installed system, as a user gets it: `cmake --install` into a fresh
# prefix, then the README's C host built with `pkg-config --cflags --libs
# orbaxdm` alone and run, and a ⎕ORBAX project made by the installed orbax
# with the installed setup file, built with its makefile and run.
#   install_check.sh BUILD SOURCE WORK LIBDIR [CFLAGS]
# CFLAGS are the build's own C flags (sanitizers, -m32): a program linked
# against the library must be built the way the library was.
set -uo pipefail
build=$1 source=$2 work=$3 libdir=$4 cflags=${5:-}
# A prefix as deep as some users install into (75 characters where the
# build's flags leave room): the data files' paths are then longer than the
# library's fixed buffers for them (80 and 96 characters) and must still be
# found, while the compiler's link command, which names the library's folder
# twice, must fit the 255 characters the compiler keeps of it.
link_text="cc $cflags -O2 -o \$(NAME)\$(EXEX) \$(OBJS) -L/$libdir -Wl,-rpath,/$libdir -lorbaxdm -ldl -lm"
depth=$(((255 - ${#link_text}) / 2 - 1))
[ $depth -gt 75 ] && depth=75
# A build folder that is itself deep (a clone far down a tree, a sanitizer
# build's long flags) leaves no room under it: install under /tmp instead.
rm -rf "$work" && mkdir -p "$work"
root=$work
if [ $((${#work} + 7)) -ge "$depth" ]; then
    root=$(mktemp -d /tmp/orbax-install.XXXXXX) || exit 1
    trap 'rm -rf "$root"' EXIT
fi
prefix=$root/prefix
while [ ${#prefix} -lt $((depth - 1)) ]; do prefix+=/d; done
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

if ! cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1; then
    cat "$work/install.log"
    echo "FAILED: cmake --install"
    exit 1
fi

for file in bin/orbax include/apl.h "$libdir/pkgconfig/orbaxdm.pc" "$libdir/orbax/liborbaxsample.so" \
            share/orbax/Standard.tok share/orbax/session.msg share/orbax/help.txt share/orbax/orbax.ini \
            share/orbax/orbax.c share/orbax/orbax.h share/man/man1/orbax.1; do
    [ -f "$prefix/$file" ] || fail "$file is not installed"
done
soname=$(readelf -d "$prefix/$libdir/liborbaxdm.so" | sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')
[[ $soname == liborbaxdm.so.[0-9]* && -e $prefix/$libdir/$soname ]] || fail "library soname '$soname'"

# The README's example host (its first C block), with nothing but pkg-config.
export PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig
awk '/^```c$/ { inside = 1; next } /^```$/ { if (inside) exit } inside' "$source/README.md" >"$work/host.c"
# shellcheck disable=SC2046,SC2086
if cc $cflags -o "$work/host" "$work/host.c" $(pkg-config --cflags --libs orbaxdm) >"$work/host.log" 2>&1; then
    LD_LIBRARY_PATH=$prefix/$libdir "$work/host" >"$work/host.out" 2>&1 || fail "the README host exits with $?"
    grep -qx 'hello' "$work/host.out" || { cat "$work/host.out"; fail "the README host does not print hello"; }
else
    cat "$work/host.log"
    fail "the README host does not build with pkg-config"
fi

# The installed program from another folder: keywords from its Standard.tok,
# help from its help.txt, the sample plug-in, and a compiled project.
cat >"$work/session.apl" <<'APL'
)MODE ASCII
2 RHO 7
)MODE ASCII
⎕GETENV 'ORBAX_CHECK'
)HELP ⍴
⎕FX 'Z←A HYPOT B;X;Y' 'X←⍎A ⋄ Y←⍎B' 'Z←((X*2)+Y*2)*0.5'
'HYPOT' ⎕ORBAX 'hypot'
APL
(cd "$work" && ORBAX_CHECK=plugged ORBAX_PLUGINS=$prefix/$libdir/orbax/liborbaxsample.so \
    "$prefix/bin/orbax" -script session.apl >session.out 2>&1) || fail "the installed session reports an error"
grep -qx 'ASCII KEYWORDS ON' "$work/session.out" && grep -qx '7 7' "$work/session.out" ||
    fail "keyword mode without the installed Standard.tok"
grep -qx 'plugged' "$work/session.out" || fail "the installed sample plug-in does not load"
grep -q '^X⍴Y  *reshape' "$work/session.out" || fail ")HELP without the installed help.txt"
grep -q -- "-I$prefix/include" "$work/hypot/makefile" 2>/dev/null || fail "the project is not set up by the installed orbax.ini"
if make -C "$work/hypot" >"$work/make.log" 2>&1; then
    answer=$("$work/hypot/hypot" 4 3 2>&1)
    [ "$answer" = 5 ] || fail "the compiled program answers '$answer', not 5"
else
    cat "$work/make.log"
    fail "the project does not build"
fi
[ $failures -eq 0 ] || { echo "--- session:"; cat "$work/session.out"; exit 1; }
echo "installed in $prefix: library, header, program, data, plug-in, pkg-config, compiler setup"
