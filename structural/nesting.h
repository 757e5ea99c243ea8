// nesting: the small pieces of enclose, disclose and depth that function
// definition needs (rows of a matrix as items, text rows as a matrix, depth).
// Relies on the array core only; the nested-array primitives may take them over.
#pragma once

#include "apl.h"
#include "core/errors.h"

#include <cstdint>

// Nesting deeper than this is LIMIT for ArrayDepth.
constexpr int kMaxDepthWalk = kMaxNestingDepth;

// The rows along the last axis of a simple array of rank 1 or more, as a
// nested array of the leading shape whose items are vectors (the split of a
// matrix into its rows). Returns a new temporary; borrows the argument.
// RANK for a scalar, DOMAIN for a nested argument, WS FULL.
aplarray *SplitRows(const aplarray *array);

// The CHAR matrix of a vector (or scalar) whose items are CHAR scalars or
// vectors, one row per item, short rows padded with blanks. Returns a new
// temporary; borrows the argument. RANK for an item of rank 2 or more or an
// argument of rank 2 or more, DOMAIN for an item that is not CHAR (an empty
// item of any simple type is an empty row), WS FULL.
aplarray *MixTextRows(const aplarray *vector);

// Depth: 0 for a simple scalar, 1 for another simple array, 1 + the deepest
// item for a nested array. -1 with LIMIT beyond kMaxDepthWalk levels.
// Only reads the array.
int32_t ArrayDepth(const aplarray *array);
