#!/usr/bin/env bash
# Check that the dynamic symbols defined by liborbaxdm.so are exactly the
# functions and variables that apl.h declares with APL_EXPORT.
#
#   tests/check_exports.sh path/to/liborbaxdm.so path/to/apl.h
#
# Every export is declared on one line that starts with APL_EXPORT, e.g.
#   APL_EXPORT aplarray *APL_LinkEx(aplarray *a, const char *file, int32_t line);
#   APL_EXPORT extern int32_t aplerrno;
#   APL_EXPORT extern char APL_error_message[256];
# The declared name is the identifier just before the first "(" (functions),
# or the one inside "(*name)" (function pointer variables), else the last
# identifier before the first "[" or ";" (variables).
set -euo pipefail

if [ $# -ne 2 ]; then
    echo "usage: $0 LIBRARY.so HEADER.h" >&2
    exit 2
fi
lib=$1
header=$2
[ -f "$lib" ] || { echo "check_exports: no library $lib" >&2; exit 2; }
[ -f "$header" ] || { echo "check_exports: no header $header" >&2; exit 2; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# The header with comments and GNU attributes (which are not names) blanked
# out, line by line, in one pass.
without_comments_and_attributes() {
    sed -E 's://.*$::; s:/\*([^*]|\*+[^*/])*\*+/: :g;
            s/__attribute__[[:space:]]*\(\(([^()]|\([^()]*\))*\)\)/ /g' "$1"
}

# Names declared in the header.
extract_declared() {
    local line rest name status=0
    while IFS= read -r line || [ -n "$line" ]; do
        # Only lines that start with the marker (leading blanks allowed).
        [[ $line =~ ^[[:space:]]*APL_EXPORT[[:space:]] ]] || continue
        rest=${line#*APL_EXPORT}
        name=""
        if [[ $rest =~ ^[^\(]*\([[:space:]]*\*[[:space:]]*([A-Za-z_][A-Za-z0-9_]*) ]]; then
            # Function pointer variable "type (*name)(args);" (or a function
            # returning a function pointer "type (*name(args))(args);").
            name=${BASH_REMATCH[1]}
        elif [[ ${rest%%[\[;]*} == *"("* ]]; then
            # Function: the identifier right before the first "(".
            local before=${rest%%\(*}
            if [[ $before =~ ([A-Za-z_][A-Za-z0-9_]*)[[:space:]]*$ ]]; then
                name=${BASH_REMATCH[1]}
            fi
        else
            # Variable: the last identifier before the first "[" or ";".
            local decl=${rest%%[\[;]*}
            if [[ $decl =~ ([A-Za-z_][A-Za-z0-9_]*)[[:space:]]*$ ]]; then
                name=${BASH_REMATCH[1]}
            fi
        fi
        if [ -z "$name" ]; then
            echo "check_exports: cannot find the declared name in: $line" >&2
            status=1
            continue
        fi
        echo "$name"
    done < <(without_comments_and_attributes "$header")
    return $status
}

if ! extract_declared | LC_ALL=C sort -u >"$tmp/declared"; then
    exit 1
fi
if [ ! -s "$tmp/declared" ]; then
    echo "check_exports: $header declares nothing with APL_EXPORT" >&2
    exit 1
fi

# Names the library exports: every defined dynamic symbol except the
# absolute ones (version nodes); drop any @VERSION suffix.
nm -D --defined-only "$lib" >"$tmp/nm"
awk 'NF >= 3 && $2 != "A" { print $3 } NF == 2 && $1 != "A" { print $2 }' "$tmp/nm" |
    sed 's/@.*//' | LC_ALL=C sort -u >"$tmp/exported"

missing=$(LC_ALL=C comm -23 "$tmp/declared" "$tmp/exported")
extra=$(LC_ALL=C comm -13 "$tmp/declared" "$tmp/exported")

if [ -n "$missing" ] || [ -n "$extra" ]; then
    echo "check_exports: exported symbols of $lib differ from the APL_EXPORT declarations of $header"
    if [ -n "$missing" ]; then
        echo "declared in the header but not exported:"
        sed 's/^/  - /' <<<"$missing"
    fi
    if [ -n "$extra" ]; then
        echo "exported but not declared with APL_EXPORT:"
        sed 's/^/  + /' <<<"$extra"
    fi
    exit 1
fi

echo "check_exports: $(wc -l <"$tmp/declared") exported names match the header"
