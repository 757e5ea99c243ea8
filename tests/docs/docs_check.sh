#!/usr/bin/env bash
# The reference pages' examples are true: the ```apl blocks of each page (the
# pages of docs/ and the README), taken together in order, form a transcript
# that the session must reproduce (the same checker as tests/transcripts/).
# Pages that show )HELP this way agree with the help file by construction.
# Each page runs in a folder of its own, since the file examples leave files
# behind.
#   docs_check.sh ORBAX WORK LAUNCHER PAGE...   (LAUNCHER may be empty)
set -uo pipefail
orbax=$1 work=$2 launcher=$3
shift 3
rm -rf "$work" && mkdir -p "$work"
failed=0 pages=0
for page in "$@"; do
    name=$(basename "$page" .md)
    transcript=$work/$name.tr
    awk '/^```apl$/ { inside = 1; next } /^```$/ { inside = 0 } inside' "$page" >"$transcript"
    [ -s "$transcript" ] || { rm -f "$transcript"; continue; }
    pages=$((pages + 1))
    mkdir -p "$work/$name"
    (cd "$work/$name" && $launcher "$orbax" --check "../$name.tr") || { echo "FAILED: $page"; failed=1; }
done
[ $pages -gt 0 ] || { echo "FAILED: no page has an apl example"; exit 1; }
exit $failed
