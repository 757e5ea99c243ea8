// iota: the index generator (monadic interval), index-of to come, and the
// empty vector, the one niladic primitive.
// Relies on the array core, the standard wrapper and IO in the symbol table.
#include "apl.h"
#include "core/arrays.h"
#include "core/eltypes.h"
#include "core/errors.h"
#include "core/symtab.h"
#include "core/wrapper.h"

namespace {

// Interval: an array of the shape given by `right` holding IO, IO+1, ... in
// ravel order. Returns a new array or null with the error set.
aplarray *Interval(aplarray *right) {
    if (right->rank >= 2) {
        SetError(APL_ERR_RANK);
        return nullptr;
    }
    if (right->number == 0) {
        SetError(APL_ERR_LENGTH);
        return nullptr;
    }
    if (right->eltype != APL_INTG && right->eltype != APL_REAL) {
        SetError(APL_ERR_DOMAIN);
        return nullptr;
    }
    if (right->number > kMaxRank) {
        SetError(APL_ERR_LIMIT);
        return nullptr;
    }
    int32_t *lengths = nullptr;
    const bool owned = IntegerData(right, &lengths);
    if (!lengths) {
        if (!aplerrno) SetError(APL_ERR_DOMAIN);
        return nullptr;
    }
    int32_t shape[kMaxRank];
    const int rank = right->number;
    bool negative = false;
    for (int i = 0; i < rank; ++i) {
        shape[i] = lengths[i];
        negative = negative || lengths[i] < 0;
    }
    if (owned) FreeBlock(lengths, HERE);
    if (negative) {
        SetError(APL_ERR_DOMAIN);
        return nullptr;
    }
    // Too many elements for one array is WS FULL, not the DOMAIN that the
    // allocator reports for a count that does not fit.
    double count = 1;
    for (int i = 0; i < rank; ++i) count *= shape[i];
    if (count > INT32_MAX) {
        SetError(APL_ERR_WSFULL);
        return nullptr;
    }
    aplarray *result = AllocArray(APL_SIMPLE | APL_TEMP, rank, APL_INTG, shape, HERE);
    if (!result) return nullptr;
    const int32_t origin = IndexOrigin();
    int32_t *out = DataOf<int32_t>(result);
    const bool filled = ForEachStride(result->number, [&](int64_t begin, int64_t end) {
        for (int64_t i = begin; i < end; ++i) out[i] = origin + static_cast<int32_t>(i);
    });
    if (filled) return result;
    APL_UnLinkTempEx(result, HERE);
    return nullptr;
}

}  // namespace

// Returns a temporary INTG array. Consumes temporary arguments; linked ones are
// left as they were.
extern "C" aplarray *APL_Interval(aplarray *axis, aplarray *left, aplarray *right) {
    // BOOL and SHORT lengths arrive as INTG; characters and nested data are
    // refused by the kernel with a plain DOMAIN.
    constexpr Signature kSignature{Optional(kAnyType), Optional(kAnyType),
                                   Required(APL_CHAR | APL_INTG | APL_REAL | APL_NESTED)};
    return StandardCall(kSignature, axis, left, right, [](CallArgs &args) -> aplarray * {
        if (args.axis) {
            SetError(APL_ERR_AXIS);
            return nullptr;
        }
        if (args.left) {
            SetError(APL_ERR_NONCE);  // index-of is not there yet
            return nullptr;
        }
        return Interval(args.right);
    });
}

// Returns a new temporary empty INTG vector. Takes no argument: any given is
// VALENCE, and temporaries given are released.
extern "C" aplarray *APL_EmptyVector(aplarray *axis, aplarray *left, aplarray *right) {
    if (!aplerrno && (axis || left || right)) SetError(APL_ERR_VALENCE);
    // The same temporary may stand in two places: release it once.
    APL_UnLinkTempEx(axis, HERE);
    if (left != axis) APL_UnLinkTempEx(left, HERE);
    if (right != axis && right != left) APL_UnLinkTempEx(right, HERE);
    if (aplerrno) return nullptr;
    const int32_t length = 0;
    return AllocArray(APL_SIMPLE | APL_TEMP, 1, APL_INTG, &length, HERE);
}
