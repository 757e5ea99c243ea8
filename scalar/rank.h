// rank: the operator ⍤ (its function applied to cells of given ranks) and the
// companion apl_RANK that runs the cells through enclose with axis, each and mix.
// Relies on the operator wrapper and the exported runtime interface.
#pragma once

#include "apl.h"

// Z←⊃ f¨ ⊂[(-X)↑⍳⍴⍴R] R, or with a left argument
// Z←⊃ (⊂[(-↑X)↑⍳⍴⍴L] L) f¨ ⊂[(-¯1↑X)↑⍳⍴⍴R] R, run through the line machinery
// as a compiled function with IO 1; axis holds X (SYNTAX when it is null).
// Borrows its arguments (the caller holds them); returns a temporary (or a
// value some variable also holds), or null with the error set.
aplarray *apl_RANK(aplarray *axis, aplarray *left, aplfnc *fn, aplarray *fnAxis, aplfnc *second, aplarray *secondAxis,
                   aplarray *right);
