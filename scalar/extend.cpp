// extend: the axis form of the scalar functions, which stretches the lower-rank
// argument along the axes it does not name. Relies on the array core, eltypes,
// IO in the symbol table and the stretch of structural/cells.
#include "core/arrays.h"
#include "core/eltypes.h"
#include "core/errors.h"
#include "core/symtab.h"
#include "scalar/scllib.h"
#include "structural/cells.h"

#include <algorithm>
#include <cstring>

namespace {

// Item slot i of a record that may be static (only 4-byte aligned).
aplarray *ItemAt(const aplarray *array, int64_t i) {
    aplarray *item;
    memcpy(&item, DataOf<const char>(array) + i * static_cast<int64_t>(sizeof item), sizeof item);
    return item;
}

int NewFlags(const aplarray *like) { return APL_TEMP | (IsNested(like) ? APL_NESTEDARRAY : APL_SIMPLE); }

uint32_t BitAt(const char *words, int64_t rowLength, int64_t i) {
    const int64_t row = i / rowLength, column = i % rowLength;
    uint32_t word;
    memcpy(&word, words + 4 * (row * ((rowLength + 31) / 32) + column / 32), 4);
    return (word >> (column % 32)) & 1u;
}

// Copies the elements of `from` in ravel order into `to`, which has as many
// elements but possibly another shape. Only BOOL data changes its layout with
// the shape; nested items are linked. False on interrupt (the items copied
// so far linked, the other slots empty).
bool CopyElements(aplarray *to, const aplarray *from) {
    const int64_t n = ElementCount(from);
    if (from->eltype == APL_BOOL) {
        uint32_t *out = DataOf<uint32_t>(to);
        memset(out, 0, 4 * static_cast<size_t>(to->number));
        const int64_t fromRow = RowLength(from), toRow = RowLength(to);
        const int64_t toWords = (toRow + 31) / 32;
        return ForEachStride(n, [&](int64_t begin, int64_t end) {
            for (int64_t i = begin; i < end; ++i) {
                const int64_t row = i / toRow, column = i % toRow;
                out[row * toWords + column / 32] |= BitAt(DataOf<const char>(from), fromRow, i) << (column % 32);
            }
        });
    }
    if (IsNested(from)) {
        return ForEachStride(n, [&](int64_t begin, int64_t end) {
            for (int64_t i = begin; i < end; ++i) ItemsOf(to)[i] = APL_LinkEx(ItemAt(from, i), HERE);
        });
    }
    StrideClock clock;
    int64_t done = 0;
    const size_t size = ElementSize(from->eltype);
    return CopyInPieces(DataOf<char>(to), DataOf<const char>(from), size * static_cast<size_t>(n), size, clock, done);
}

// The axis as 0-based axis numbers of `higher`, in increasing order; false
// with the error set.
bool NamedAxes(const aplarray *axis, const aplarray *lower, const aplarray *higher, int32_t *named) {
    if (IsNested(axis)) {
        if (ElementCount(axis) != 1) {
            SetError(APL_ERR_AXIS);
            return false;
        }
        axis = ItemAt(axis, 0);
        if (!axis || IsNested(axis)) {
            SetError(APL_ERR_DOMAIN);
            return false;
        }
    }
    const int64_t count = ElementCount(axis);
    if (axis->rank > 1 || count > higher->rank) {
        SetError(APL_ERR_AXIS);
        return false;
    }
    // A managed INTG copy: the axis may be BOOL, SHORT or REAL, or static.
    aplarray *values = CopyArray(axis, HERE);
    if (values) values = ConvertType(values, APL_INTG | APL_REAL);
    if (!values || aplerrno) {
        APL_UnLinkTempEx(values, HERE);
        return false;
    }
    int32_t *numbers = nullptr;
    const bool ownBlock = IntegerData(values, &numbers);
    bool ok = count == 0 || numbers != nullptr;
    const int32_t origin = IndexOrigin();
    for (int64_t i = 0; ok && i < count; ++i) {
        const int64_t d = static_cast<int64_t>(numbers[i]) - origin;
        if (d < 0 || d >= higher->rank) {
            SetError(APL_ERR_INDEX);
            ok = false;
        }
        if (ok) named[i] = static_cast<int32_t>(d);
    }
    if (ownBlock) FreeBlock(numbers, HERE);
    APL_UnLinkTempEx(values, HERE);
    if (!ok) {
        if (!aplerrno) SetError(APL_ERR_DOMAIN);
        return false;
    }
    std::sort(named, named + count);
    // Each of lower's axes must be named exactly once: anything else would
    // stretch data that is not there.
    if (count != lower->rank || std::adjacent_find(named, named + count) != named + count) {
        SetError(APL_ERR_AXIS);
        return false;
    }
    for (int64_t i = 0; i < count; ++i) {
        if (higher->shape[named[i]] != lower->shape[i]) {
            SetError(APL_ERR_LENGTH);
            return false;
        }
    }
    return true;
}

}  // namespace

// Returns a temporary; borrows all three.
aplarray *ExtendAlongAxes(const aplarray *lower, const aplarray *axis, const aplarray *higher) {
    int32_t named[kMaxRank];
    if (!NamedAxes(axis, lower, higher, named)) return nullptr;
    // lower's data under higher's rank: named axes keep their lengths, the
    // others have length 1, so the ravel order is unchanged.
    int32_t shape[kMaxRank];
    bool isNamed[kMaxRank] = {};
    for (int i = 0; i < higher->rank; ++i) shape[i] = 1;
    for (int i = 0; i < lower->rank; ++i) {
        shape[named[i]] = lower->shape[i];
        isNamed[named[i]] = true;
    }
    aplarray *result = AllocArray(NewFlags(lower), higher->rank, lower->eltype, shape, HERE);
    if (!result) return nullptr;
    if (!CopyElements(result, lower)) {
        APL_UnLinkTempEx(result, HERE);
        return nullptr;
    }
    if (IsNested(result) && ElementCount(lower) == 0) ItemsOf(result)[0] = APL_LinkEx(ItemAt(lower, 0), HERE);
    for (int j = higher->rank - 1; j >= 0 && result; --j) {
        if (isNamed[j] || higher->shape[j] == 1) continue;
        aplarray *stretched = StretchAxis(result, j, higher->shape[j]);
        APL_UnLinkTempEx(result, HERE);
        result = stretched;
    }
    return result;
}
