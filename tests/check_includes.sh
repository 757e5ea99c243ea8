#!/usr/bin/env bash
# Check the layering of the sources through their #include "..." lines. Each
# folder has an allow list of the folders it may include from (apl.h, the
# public interface, is open to all):
#   core/                 core/
#   structural/           core/
#   scalar/               core/, structural/
#   system/               core/, structural/
#   interpreter/          everything but host/
#   compiler/             core/, interpreter/, system/
#   host/, plugins/,      their own folder (by bare name or folder name)
#   python/
#   support/              its own files by bare name (copied into projects)
# A folder that is missing is skipped; a source folder without an allow list
# is an error, so a new layer cannot go unchecked.
#
#   tests/check_includes.sh SOURCE_DIR
# Prints every include that breaks a rule; exit status 1 when there is one.
set -euo pipefail

if [ $# -ne 1 ] || [ ! -d "$1" ]; then
    echo "usage: $0 SOURCE_DIR" >&2
    exit 2
fi
cd "$1"

# The folders each folder may include from, itself named too; "own" stands for
# includes by bare name from the folder itself, "!host" for every folder but host/.
declare -A allow=(
    [core]="core"
    [structural]="core structural"
    [scalar]="core structural scalar"
    [system]="core structural system"
    [interpreter]="!host"
    [compiler]="core interpreter system compiler"
    [host]="own host"
    [plugins]="own plugins"
    [python]="own python"
    [support]="own"
)
# Folders at the top of the tree that hold no product sources.
not_sources=" include tests bench docs scripts share build "

# allowed DIR INCLUDED: true when a file under DIR may include INCLUDED.
allowed() {
    local dir=$1 included=$2 folder
    [[ $included == apl.h ]] && return 0
    if [[ $included != */* ]]; then
        folder=own
    else
        folder=${included%%/*}
    fi
    [[ " ${allow[$dir]} " == *" $folder "* ]] && return 0
    [[ ${allow[$dir]} == "!host" && $folder != host && $folder != own ]]
}

status=0
for dir in */; do
    dir=${dir%/}
    [[ $not_sources == *" $dir "* || -n ${allow[$dir]+set} ]] && continue
    if [ -n "$(find "$dir" -type f \( -name '*.c' -o -name '*.cpp' -o -name '*.h' \) -print -quit)" ]; then
        echo "$dir/: a source folder without an allow list in $0"
        status=1
    fi
done

# One grep over every file ("file:line"); the include is cut out with a bash
# pattern, so the check forks no process per line.
checked=0
pattern='^([^:]+):[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]+)"'
while IFS= read -r hit; do
    [[ $hit =~ $pattern ]] || continue
    file=${BASH_REMATCH[1]} included=${BASH_REMATCH[2]}
    dir=${file%%/*}
    checked=$((checked + 1))
    if ! allowed "$dir" "$included"; then
        echo "$file: includes \"$included\", which $dir/ may not"
        status=1
    fi
done < <(find "${!allow[@]}" -type f \( -name '*.c' -o -name '*.cpp' -o -name '*.h' -o -name '*.inc' \) 2>/dev/null | sort |
         xargs -r grep -HE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' || true)

if [ "$checked" -eq 0 ]; then
    echo "check_includes: no includes found under $1" >&2
    exit 2
fi
[ "$status" -eq 0 ] && echo "check_includes: $checked includes follow the layer rules"
exit "$status"
