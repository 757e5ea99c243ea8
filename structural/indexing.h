// indexing: the one engine behind A[I], A[I]←V, squad, take and the other
// cross-section users, the index (position) arrays of selective assignment
// and the assignments built on them. Relies on arrays, eltypes, rho and symtab.
#pragma once

#include "apl.h"

#include <cstdint>

// Positions in the arrays that selective assignment runs on count from 1,
// so that a fill element brought in by overtake or expand (a zero) can never
// be taken for the position of a real element.
constexpr int32_t kFirstPosition = 1;

// True for the elided-index marker (the value of EL, or anything carrying its flag).
inline bool IsElided(const aplarray *item) { return item && (item->type & APL_FLAG10); }

// The engine of APL_IndexData. `holderLinks` is the number of links that the
// caller itself holds on `array` (1 for a variable's value, 0 otherwise): the
// array is changed in place only when nobody else holds it, that is when its
// link count is at most holderLinks, it is not static and it is not the value.
// Selection (value null): returns a new temporary; consumes a temporary array
// and index list. Assignment: returns the updated array (the array itself when
// changed in place, else a new temporary that replaces it); consumes a
// temporary index list and value, and a temporary array (updated and returned,
// or released). Null with the error set on failure, the same arrays consumed.
aplarray *IndexEngine(aplarray *array, aplarray *indices, aplarray *value, int32_t holderLinks);

// The position array of a value for selective assignment: its index array
// counted from kFirstPosition, flagged APL_INDEXPOS. Returns a new temporary;
// borrows the value.
aplarray *MakePositionArray(const aplarray *value);

// The final step of a selective assignment: every element (or, for nested
// positions, every item) of the variable that `positions` names receives the
// corresponding element of `value` (all of them the one element of a scalar
// value). `positions` is what the selection expression made of the variable's
// position array and must carry APL_INDEXPOS.
// Consumes a temporary `positions`. Returns `value` with the links it came
// with (a temporary stays a temporary, for the caller to release), or null with
// the error set and a temporary value released.
aplarray *AssignSelective(uint16_t symbol, aplarray *positions, aplarray *value);
