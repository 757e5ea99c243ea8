#!/usr/bin/env bash
# shared_files: two console sessions working on one file at the same time:
# component files appended to by both (and read meanwhile by a third), native
# files appended to by name. Every append must arrive whole, once, under its
# own number. The sessions wait for a common start signal so that their work
# overlaps; nothing is timed.
#   shared_files.sh PATH-TO-ORBAX
set -u
orbax=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0
passes=0

# step NAME EXPECTED ACTUAL: the output must be exactly EXPECTED.
step() {
    if [[ "$3" == "$2" ]]; then
        passes=$((passes + 1)); echo "ok  : $1"
    else
        failures=$((failures + 1)); echo "FAIL: $1"
        printf '  expected: %q\n  actual:   %q\n' "$2" "$3"
    fi
}

# session SCRIPT-TEXT: runs the lines in the background; its output goes to
# the script's name with .out.
session() {
    printf '%s\n' "$2" >"$1.apl"
    "$orbax" -script "$1.apl" >"$1.out" 2>&1 &
}

# Lines every session starts with: WAIT F spins until the file F exists.
wait_fn="Z←⎕FX 'WAIT F' 'L:→(0=⎕NEXIST F)/L'"

# ---- Component files: 2 000 appends from each of two sessions -----------------
count=2000
for who in A B; do
    session "comp$who" "$wait_fn
Z←⎕FX 'R←ADD L;I' 'R←⍬' 'I←0' 'L1:→(I≥$count)/0' 'I←I+1' 'R←R,1↑(L I) ⎕IIO ''comp.cf'' 0' '→L1'
WAIT 'go'
R←ADD '$who'
R ⎕IIO '$who.res'"
done
# A reader meanwhile: every read gives a whole file of components, never fewer
# than the one before.
session compR "$wait_fn
Z←⎕FX 'R←READS;I' 'R←⍬' 'I←0' 'L1:→(I≥200)/0' 'I←I+1' 'R←R,⍴⎕IIO ''comp.cf''' '→L1'
WAIT 'go'
WAIT 'comp.cf'
S←READS
S ⎕IIO 'R.res'"
touch go
wait
step "component appenders ran without errors" "" "$(cat compA.out compB.out)"
step "component reader ran without errors" "" "$(cat compR.out)"
rm -f go
check=$("$orbax" 2>&1 <<EOF
C←⎕IIO 'comp.cf'
A←⎕IIO 'A.res'
B←⎕IIO 'B.res'
⍴C
(A,B)[⍋A,B]≡⍳2×$count
(∧/'A'=1⊃¨C[A]),(2⊃¨C[A])≡⍳$count
(∧/'B'=1⊃¨C[B]),(2⊃¨C[B])≡⍳$count
S←⎕IIO 'R.res'
(∧/0≤(1↓S)-¯1↓S),(∧/S≤2×$count),⍴S
EOF
)
step "every component once, under its own number" "$((2 * count))
1
1 1
1 1
1 1 200" "$check"

# ---- Native files: 5 000 ten-byte records from each of two sessions -------------
# One appends by name, the other through a tie.
records=5000
: >native.txt
for who in A B; do
    [[ $who == A ]] && file="'native.txt'" || file="⎕NTIE 'native.txt'"
    session "nat$who" "$wait_fn
Z←⎕FX 'F ADD L;I' 'I←0' 'L1:→(I≥$records)/0' 'I←I+1' '(10⍴L) ⎕NAPPEND F' '→L1'
WAIT 'go'
($file) ADD '$who'"
done
touch go
wait
step "native appenders ran without errors" "" "$(cat natA.out natB.out)"
check=$("$orbax" 2>&1 <<EOF
T←⎕NREAD 'native.txt'
⍴T
R←((⌊(⍴T)÷10),10)⍴T
R≡(⍴R)⍴10/R[;1]
+/R[;1]='A'
EOF
)
step "every record whole, none lost" "$((20 * records))
1
$records" "$check"

echo "$passes passed, $failures failed"
[[ $failures -eq 0 ]]
