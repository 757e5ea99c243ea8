// extend: the axis form of the scalar functions, which stretches the lower-rank
// argument along the axes it does not name, and the stretch itself (shared
// with replicate). Relies on the array core, eltypes and IO in the symbol table.
#include "core/arrays.h"
#include "core/eltypes.h"
#include "core/errors.h"
#include "core/symtab.h"
#include "scalar/scllib.h"

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

// Copies `bytes` from `source` in pieces, looking at the interrupt flag by
// the elements (of `size` bytes) done so far; false on interrupt.
bool CopyInPieces(char *to, const char *source, size_t bytes, size_t size, StrideClock &clock, int64_t &done) {
    const size_t piece = size * static_cast<size_t>(kInterruptStride);
    for (size_t at = 0; at < bytes; at += piece) {
        const size_t n = std::min(piece, bytes - at);
        memcpy(to + at, source + at, n);
        done += static_cast<int64_t>(n / size);
        if (clock.passed(done)) return false;
    }
    return true;
}

// Links the items that a raw copy put into the `n` slots of a new result;
// after an interrupt the slots not yet linked are cleared (their items belong
// to someone else) and the result is released. Returns the result or null.
aplarray *LinkCopiedSlots(aplarray *result, int64_t n, bool copied) {
    aplarray **items = ItemsOf(result);
    int64_t linked = 0;
    // Linking a static item yields a managed copy, which takes its slot.
    if (copied)
        copied = ForEachStride(n, [&](int64_t begin, int64_t end) {
            for (int64_t i = begin; i < end; ++i) items[i] = APL_LinkEx(items[i], HERE);
            linked = end;
        });
    if (copied) return result;
    memset(static_cast<void *>(items + linked), 0, sizeof(aplarray *) * static_cast<size_t>(n - linked));
    APL_UnLinkTempEx(result, HERE);
    return nullptr;
}

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

// Returns a temporary; borrows the array.
aplarray *StretchAxis(const aplarray *array, int axis, int32_t count) {
    if (axis < 0 || axis >= array->rank || count < 0) {
        SetError(APL_ERR_AXIS);
        return nullptr;
    }
    int32_t shape[kMaxRank];
    memcpy(shape, array->shape, 4 * static_cast<size_t>(array->rank));
    const int64_t length = shape[axis];
    const int64_t stretched = length * count;
    if (stretched > INT32_MAX) {
        SetError(APL_ERR_DOMAIN);
        return nullptr;
    }
    shape[axis] = static_cast<int32_t>(stretched);
    aplarray *result = AllocArray(NewFlags(array), array->rank, array->eltype, shape, HERE);
    if (!result) return nullptr;

    int64_t outer = 1, inner = 1;
    for (int i = 0; i < axis; ++i) outer *= array->shape[i];
    for (int i = axis + 1; i < array->rank; ++i) inner *= array->shape[i];

    if (ElementCount(result) == 0) {
        // An empty nested result keeps a fill item: the source's first item,
        // or its own prototype when it is empty itself.
        if (IsNested(result)) ItemsOf(result)[0] = APL_LinkEx(ItemAt(array, 0), HERE);
        return result;
    }
    const char *from = DataOf<const char>(array);
    char *to = DataOf<char>(result);
    if (array->eltype == APL_BOOL && axis == array->rank - 1) {
        // Stretching the rows themselves: bit by bit, each row into its own words.
        const int64_t rowLength = length * count;
        const int64_t words = (rowLength + 31) / 32, fromWords = (length + 31) / 32;
        uint32_t *out = reinterpret_cast<uint32_t *>(to);
        memset(out, 0, 4 * static_cast<size_t>(result->number));
        StrideClock clock;  // by bits written: one row may be long
        for (int64_t r = 0; r < outer; ++r) {
            for (int64_t c = 0; c < rowLength; ++c) {
                if ((c & (kInterruptStride - 1)) == 0 && clock.passed(r * rowLength + c)) {
                    APL_UnLinkTempEx(result, HERE);
                    return nullptr;
                }
                uint32_t word;
                memcpy(&word, from + 4 * (r * fromWords + (c / count) / 32), 4);
                out[r * words + c / 32] |= ((word >> ((c / count) % 32)) & 1u) << (c % 32);
            }
        }
        return result;
    }
    // Blocks of `inner` elements (for BOOL, of whole rows of words) repeated.
    size_t block;
    if (array->eltype == APL_BOOL) {
        const int64_t rowLength = RowLength(array);
        block = 4 * static_cast<size_t>(inner / rowLength * ((rowLength + 31) / 32));
    } else {
        block = ElementSize(array->eltype) * static_cast<size_t>(inner);
    }
    // The flag is looked at by the elements written: the blocks may be long
    // (a matrix of one row) or short and many.
    const size_t size = array->eltype == APL_BOOL ? 4 : ElementSize(array->eltype);
    StrideClock clock;
    int64_t done = 0;
    bool copied = true;
    for (int64_t o = 0; o < outer && copied; ++o) {
        for (int64_t l = 0; l < length && copied; ++l) {
            const char *source = from + block * static_cast<size_t>(o * length + l);
            for (int64_t c = 0; c < count && copied; ++c, to += block)
                copied = CopyInPieces(to, source, block, size, clock, done);
        }
    }
    if (IsNested(result)) return LinkCopiedSlots(result, ElementCount(result), copied);
    if (copied) return result;
    APL_UnLinkTempEx(result, HERE);
    return nullptr;
}
