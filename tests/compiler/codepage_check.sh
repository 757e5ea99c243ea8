#!/usr/bin/env bash
# The character table that support/orbax.c carries (a generated program has
# no other) equals share/codepage.tsv, code for code.
#   codepage_check.sh SOURCE_DIR
set -euo pipefail
root=$1
table=$(awk '/kUnicode\[256\] = \{/ { on = 1; next } on && /^\};/ { exit }
             on { n = split($0, f, /[ ,]+/); for (i = 1; i <= n; i++) if (f[i] ~ /^0x/) print toupper(substr(f[i], 3)) }' \
            "$root/support/orbax.c")
page=$(awk -F'\t' 'NR > 1 { print toupper(substr($2, 3)) }' "$root/share/codepage.tsv")
count=$(printf '%s\n' "$table" | wc -l)
if [ "$count" -ne 256 ]; then
    echo "FAILED: support/orbax.c lists $count codes instead of 256"
    exit 1
fi
if ! diff <(printf '%s\n' "$page" | sed 's/^0*\(.\)/\1/') <(printf '%s\n' "$table" | sed 's/^0*\(.\)/\1/') >/dev/null; then
    echo "FAILED: the table of support/orbax.c differs from share/codepage.tsv:"
    diff <(printf '%s\n' "$page" | sed 's/^0*\(.\)/\1/' | nl -v0) <(printf '%s\n' "$table" | sed 's/^0*\(.\)/\1/' | nl -v0) | head
    exit 1
fi
echo "codepage: support/orbax.c matches share/codepage.tsv"
