#!/usr/bin/env bash
# Install what building and testing the project needs on Debian 12, as root.
# Only missing packages are installed; prints nothing when all are present.
#
#   scripts/deps.sh          native build and tests
#   scripts/deps.sh --all    also the 32-bit (-m32) build: multilib compiler,
#                            i386 GoogleTest, and qemu-user where the kernel
#                            cannot run 32-bit programs itself
#   scripts/deps.sh --fuzz   also clang 16 with libFuzzer (the fuzz preset;
#                            clang 14 cannot parse g++ 12's C++20 headers)
#   scripts/deps.sh --python also the Python package's needs, all Debian's and
#                            for /usr/bin/python3: NumPy, IPython, the Jupyter
#                            kernel and client, nbclient, pytest, build
#   scripts/deps.sh --browser also what the notebook's browser check runs:
#                            Jupyter Notebook, Chromium and its WebDriver, Selenium
#   scripts/deps.sh --windows   also the Windows builds: MinGW-w64 (32 and
#                            64 bit), Wine and the GoogleTest sources; the
#                            32-bit Wine only where the kernel runs 32-bit
#                            programs
set -euo pipefail

all=0
fuzz=0
python=0
browser=0
windows=0
for arg in "$@"; do
    case $arg in
        --all) all=1 ;;
        --fuzz) fuzz=1 ;;
        --windows) windows=1 ;;
        --python) python=1 ;;
        --browser) python=1 browser=1 ;;
        -h|--help) sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "deps.sh: unknown argument $arg" >&2; exit 2 ;;
    esac
done

export DEBIAN_FRONTEND=noninteractive
native_arch=$(dpkg --print-architecture)

# installed PKG  -- true if PKG is installed. A name without ":ARCH" means
# the native architecture (or an architecture-independent package), so an
# i386 copy alone does not count for the native one.
installed() {
    local name=${1%%:*} arch=${native_arch} line
    [[ $1 == *:* ]] && arch=${1#*:}
    while IFS= read -r line; do
        # line: "<status abbrev> <architecture>", e.g. "ii  amd64"
        case $line in
            "ii "*" $arch"|"ii "*" all") return 0 ;;
        esac
    done < <(dpkg-query -W -f='${db:Status-Abbrev} ${Architecture}\n' "$name" 2>/dev/null || true)
    return 1
}

missing=()
want() {
    local p
    for p in "$@"; do
        installed "$p" || missing+=("$p")
    done
}

updated=0
apt_install() {
    [ $# -gt 0 ] || return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "deps.sh: missing packages: $*" >&2
        echo "deps.sh: run this script as root to install them" >&2
        exit 1
    fi
    echo "deps.sh: installing $*"
    if [ $updated -eq 0 ]; then
        apt-get update -qq || true    # the mirror can fail; try anyway
        updated=1
    fi
    # Another installation may hold the lock for a while: wait for it.
    apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends --no-remove "$@" >/dev/null
}

add_i386() {
    if [ "$native_arch" != i386 ] &&
       ! dpkg --print-foreign-architectures | grep -qx i386; then
        [ "$(id -u)" -eq 0 ] || { echo "deps.sh: run as root to add the i386 architecture" >&2; exit 1; }
        echo "deps.sh: adding the i386 architecture"
        dpkg --add-architecture i386
        updated=0    # the package lists must be read again
    fi
}

want cmake g++ make libgtest-dev libgmock-dev googletest libbenchmark-dev \
     libedit-dev pkg-config

if [ $all -eq 1 ]; then
    want g++-multilib
    add_i386
    want libgtest-dev:i386
fi

[ $fuzz -eq 1 ] && want clang-16 libclang-rt-16-dev
if [ $python -eq 1 ]; then
    want python3-dev python3-numpy python3-pytest python3-ipython python3-ipykernel \
         python3-jupyter-client python3-nbclient python3-nbformat python3-build \
         python3-setuptools python3-wheel python3-venv python3-pip
fi
[ $browser -eq 1 ] && want python3-notebook chromium chromium-driver python3-selenium

if [ $windows -eq 1 ]; then
    add_i386
    # googletest: the GoogleTest sources, built for Windows with the unit tests
    want g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine wine64 libc6:i386 googletest
fi

if [ ${#missing[@]} -gt 0 ]; then
    apt_install "${missing[@]}"
fi

# The 32-bit Wine runs only where the kernel runs 32-bit programs: the i386
# loader, itself a program, tells.
if [ $windows -eq 1 ] && ! installed wine32:i386; then
    if /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
        apt_install wine32:i386 || apt_install -t bookworm wine32:i386
    else
        echo "deps.sh: this kernel runs no 32-bit programs: no 32-bit Wine (the windows preset is built, not run)"
    fi
fi

# A 64-bit kernel without 32-bit support runs -m32 programs under qemu-user.
if [ $all -eq 1 ] && ! installed qemu-user && ! installed qemu-user-static; then
    probe=$(mktemp -d)
    trap 'rm -rf "$probe"' EXIT
    echo 'int main(void) { return 0; }' >"$probe/p.c"
    if ! gcc -m32 -o "$probe/p" "$probe/p.c" 2>"$probe/err"; then
        cat "$probe/err" >&2
        echo "deps.sh: gcc -m32 cannot build a program" >&2
        exit 1
    fi
    if ! "$probe/p" 2>/dev/null; then
        apt_install qemu-user
    fi
fi
exit 0
