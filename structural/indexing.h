// indexing: the one engine behind A[I], A[I]←V, squad, take and the other
// cross-section users (indexing.cpp), the index (position) arrays of selective
// assignment and the assignments built on them (selective.cpp).
#pragma once

#include "apl.h"

#include "core/arrays.h"
#include "core/errors.h"

#include <cstdint>
#include <cstring>

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

// ---- Shared by indexing and selective assignment ---------------------------------

// Element i of data that may belong to a static record (only 4-byte aligned).
template <class T>
inline T Load(const void *data, int64_t i) {
    T value;
    memcpy(&value, static_cast<const char *>(data) + i * static_cast<int64_t>(sizeof(T)), sizeof(T));
    return value;
}
inline aplarray *ItemAt(const aplarray *a, int64_t i) { return Load<aplarray *>(DataOf(a), i); }

inline bool SameShape(const aplarray *a, int rank, const int32_t *shape) {
    return a->rank == rank && (rank == 0 || memcmp(a->shape, shape, 4 * static_cast<size_t>(rank)) == 0);
}

// A new temporary of the same shape and type whose data are those of `a`
// (items linked, not copied: the items themselves are never changed).
aplarray *ShallowCopy(const aplarray *a);

// Replaces `x` by conv(x). `owned` holds x when x is a temporary of ours; the
// converters release their argument, so the guard lets go of it first.
template <class Convert>
inline bool Replace(aplarray *&x, TempGuard &owned, Convert convert) {
    const bool ours = owned.get() == x;
    if (ours) owned.release();
    aplarray *y = convert(x);
    if (aplerrno || !y) {
        if (!aplerrno) SetError(APL_ERR_WSFULL);
        // APL_MakeNested hands its argument back when it fails.
        if (y && y != x) APL_UnLinkTempEx(y, HERE);
        if (ours && y == x) APL_UnLinkTempEx(x, HERE);
        return false;
    }
    owned.reset(y);
    x = y;
    return true;
}

// The type BOOL and SHORT data are read as.
int WidenedType(int eltype);
// BOOL and SHORT data are widened to INTG (x then names a temporary held by
// `owned`); other types are kept. False with DOMAIN for other types.
bool Widen(aplarray *&x, TempGuard &owned);

// The array a name holds (not linked) for indexed or selective assignment, or
// null with the error set: SYNTAX for labels, functions and (in a selective
// assignment) system variables, VALUE for a name without a value.
aplarray *AssignableValue(uint16_t symbol, bool selective);

// The value survives the assignment (it may be the old value of the name, or
// an item of it) and is handed back with the links it came with.
void HoldValue(aplarray *value);
void UnholdValue(aplarray *value);
