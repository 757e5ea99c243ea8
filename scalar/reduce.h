// reduce: the entry that folds a function along one axis (used by reduce,
// scan and inner product) and the N-wise companion apl_REDUCE.
// Relies on the one call path of core/call and the structural primitives.
#pragma once

#include "apl.h"

#include <cstdint>

// An argument seen along the axis of a fold or scan: L vectors before the
// axis, each of n positions that are T elements apart.
struct FoldLayout {
    int64_t L, n, T;
};

// f/ and f\ with an array operand: the structural primitive (replicate or
// expand) with the array as its left argument. The array is borrowed from
// whoever built the descriptor and held only for the call; the other
// arguments are passed on as the primitive takes them.
aplarray *CallWithArrayOperand(aplfunction primitive, aplarray *axis, aplarray *array, aplarray *right);

// f/ of `right` along axis d (0-based, below the rank) with every vector folded
// from the right. The function descriptor is a function, not an array; fnAxis
// (may be null) is given to every call and must be held by the caller for the
// whole call. Borrows right and fnAxis. Returns a temporary (or right itself
// when it is a scalar), or null with the error set.
aplarray *ReduceAlongAxis(aplfnc *fn, aplarray *fnAxis, aplarray *right, int d);

// The items first, first+stride, ... (count of them, at least one) of right
// folded from the right through the call path. Borrows right and fnAxis.
// Returns a temporary, an item of right (linked by right), or null.
aplarray *FoldItems(aplfnc *fn, aplarray *fnAxis, aplarray *right, int64_t first, int64_t stride, int64_t count);
// Puts a fold's result into a slot of a new nested array with its link; false
// (error set) when there is none or a static one cannot be copied.
bool StoreItem(aplarray **slot, aplarray *item);

// The axis of a reduction or scan written as an index: one integral value
// within the axes (AXIS, DOMAIN, INDEX otherwise). d is left alone without one.
bool ReductionAxis(const aplarray *axis, int rank, int &d);

// N-wise reduction N f/[K] R, run through the line machinery as a compiled
// function: K is the axis as a scalar counted from IO. Borrows its arguments
// (the caller holds them); returns a temporary or null with the error set.
aplarray *apl_REDUCE(aplarray *axis, aplarray *left, aplfnc *fn, aplarray *fnAxis, aplfnc *second, aplarray *secondAxis,
                     aplarray *right);

// True when the descriptor stands for a primitive function (not derived, not
// user-defined); its character code is then `fn->code & 0xff`.
inline bool IsPrimitiveOperand(const aplfnc *fn) {
    return fn && (fn->flags & APL_FN_PRIMITIVE) && !(fn->flags & (APL_FN_DEFINED | APL_FN_DERIVED));
}
