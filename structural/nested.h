// nested: what the nested-array primitives (enclose, disclose, element, match)
// share with the rest of the system: enclosure along axes, the mix of items,
// depth, match and the integer reading of axes and paths. Relies on the array core.
#pragma once

#include "apl.h"

#include <cstdint>
#include <vector>

// ---- Element types of joined items ----------------------------------------------------

// BOOL and SHORT count as INTG when items or leaves are joined.
inline int TypeClass(int eltype) { return eltype == APL_BOOL || eltype == APL_SHORT ? int{APL_INTG} : eltype; }

// The element type that holds items of the union `types` of their classes:
// nested for nested items or characters beside numbers, else REAL, CHAR or INTG.
inline int JoinedType(int types) {
    if ((types & APL_NESTED) || ((types & APL_CHAR) && (types & (APL_INTG | APL_REAL)))) return APL_NESTED;
    if (types & APL_REAL) return APL_REAL;
    if (types & APL_CHAR) return APL_CHAR;
    return APL_INTG;
}

// ---- Reading arguments --------------------------------------------------------------

// The elements of a simple numeric array as integers (REAL values must be
// near-integers). False with DOMAIN for characters, nested data, fractions
// and values beyond ±2^53; WS FULL. Only reads the array.
bool ReadIntegers(const aplarray *array, std::vector<int64_t> &values);

// ---- Enclose ------------------------------------------------------------------------

// The items of `array` along the 0-based, distinct `axes` (in the order
// given): a nested array of the shape of the other axes whose items have the
// shape of `axes`; the array is first transposed so that those axes come
// last. Returns a new temporary (or the simple argument itself for no axes);
// borrows the argument, links its items.
aplarray *EncloseAxes(aplarray *array, const int32_t *axes, int count);

// The array with axis i moved to position targets[i] (0-based; a
// permutation other than the identity), through APL_Transpose. Returns a new
// temporary; borrows the array, links its items.
aplarray *TransposeBorrowed(aplarray *array, const std::vector<int32_t> &targets);

// The rows along the last axis of a simple array of rank 1 or more (⎕CR's
// lines): RANK for a scalar, DOMAIN for a nested argument, WS FULL. Returns a
// new temporary; borrows the argument.
aplarray *SplitRows(aplarray *array);

// ---- Disclose -----------------------------------------------------------------------

// Mix: a nested array's items as one array of shape (shape of array), (largest
// item shape), padded with the fill; scalar items land in the first position.
// RANK for items of different non-zero ranks, WS FULL. A simple argument is
// returned itself; otherwise a new temporary. Borrows the argument, links items.
aplarray *MixItems(aplarray *array);

// The CHAR matrix of a vector (or scalar) whose items are CHAR scalars or
// vectors, one row per item, short rows padded with blanks (⎕FX's lines).
// RANK for an item or argument of rank 2 or more, DOMAIN for an item that is
// not CHAR (an empty item of any simple type is an empty row), WS FULL.
// Returns a new temporary; borrows the argument.
aplarray *MixTextRows(aplarray *vector);

// ---- Depth and match ----------------------------------------------------------------

// Depth: 0 for a simple scalar, 1 for another simple array, 1 + the deepest
// item (prototype included) for a nested array. -1 with LIMIT beyond
// kMaxNestingDepth levels. Only reads the array.
int32_t ArrayDepth(const aplarray *array);

// Match: 1 when the arrays have the same structure and tolerantly equal
// elements (INTG, BOOL and SHORT compare exactly among themselves, REAL
// tolerantly with ⎕CT, a character never equals a number), else 0; -1 with
// LIMIT beyond kMaxNestingDepth levels. Only reads the arrays.
int MatchArrays(const aplarray *a, const aplarray *b);

// The tolerant equality of two numbers of which at least one is REAL:
// |a - b| ≤ ct × max(|a|, |b|).
inline bool TolerantlyEqual(double a, double b, double ct) {
    const double x = a < 0 ? -a : a, y = b < 0 ? -b : b;
    const double d = a - b;
    return (d < 0 ? -d : d) <= ct * (x > y ? x : y);
}
