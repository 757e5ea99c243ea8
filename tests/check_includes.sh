#!/usr/bin/env bash
# Check the layering of the sources through their #include "..." lines:
#   core/                 includes only core/ and apl.h
#   scalar/, structural/  include neither interpreter/ nor host/
#   host/, plugins/       include only apl.h and files of their own directory
#   compiler/             includes core/, interpreter/, system/ and its own files
#
#   tests/check_includes.sh SOURCE_DIR
# Prints every include that breaks a rule; exit status 1 when there is one.
set -euo pipefail

if [ $# -ne 1 ] || [ ! -d "$1" ]; then
    echo "usage: $0 SOURCE_DIR" >&2
    exit 2
fi
cd "$1"

# allowed DIR INCLUDED: true when a file under DIR may include INCLUDED.
allowed() {
    local dir=$1 included=$2
    case $dir in
    core) [[ $included == apl.h || $included == core/* ]] ;;
    scalar|structural) [[ $included != interpreter/* && $included != host/* ]] ;;
    host|plugins) [[ $included == apl.h || $included != */* ]] ;;
    compiler) [[ $included == apl.h || $included == core/* || $included == interpreter/* || $included == system/* ||
                 $included == compiler/* ]] ;;
    *) true ;;
    esac
}

broken=0
checked=0
while IFS= read -r file; do
    dir=${file%%/*}
    while IFS= read -r line; do
        included=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]+)".*/\1/' <<<"$line")
        checked=$((checked + 1))
        if ! allowed "$dir" "$included"; then
            echo "$file: includes \"$included\", which $dir/ may not"
            broken=1
        fi
    done < <(grep -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" || true)
done < <(find core scalar structural host plugins compiler -type f \( -name '*.c' -o -name '*.cpp' -o -name '*.h' \) 2>/dev/null | sort)

if [ "$checked" -eq 0 ]; then
    echo "check_includes: no includes found under $1" >&2
    exit 2
fi
[ "$broken" -eq 0 ] && echo "check_includes: $checked includes follow the layer rules"
exit "$broken"
