// rho: the primitive shape/reshape (APL_Shape) and prototype, the fill element
// of an array. Relies on the array core, the element conversions (IntegerData,
// BoolToInt, APL_ToBool, SimplifyArray) and the standard wrapper.
#include "structural/rho.h"

#include "core/arrays.h"
#include "core/callbacks.h"
#include "core/eltypes.h"
#include "core/errors.h"
#include "core/wrapper.h"

#include <algorithm>
#include <cstring>

namespace {

// Nesting deeper than this cannot come from real data; prototype refuses it
// instead of running off the end of the C stack.
constexpr int kMaxPrototypeDepth = kMaxNestingDepth;

constexpr int kInteger = APL_INTG;

// Item slot i; the record may be a static one, which is only 4-byte aligned.
aplarray *ItemAt(const aplarray *array, int64_t i) {
    aplarray *item;
    memcpy(&item, DataOf<const char>(array) + i * static_cast<int64_t>(sizeof item), sizeof item);
    return item;
}

aplarray *NewArray(int rank, int eltype, const int32_t *shape) {
    const int kind = eltype == APL_NESTED ? APL_NESTEDARRAY : APL_SIMPLE;
    return AllocArray(kind | APL_TEMP, rank, eltype, shape, HERE);
}

// ---- Fill elements -------------------------------------------------------------

// A blank for CHAR, else a zero of the type (BOOL and SHORT items keep their
// own type, so that the fill converts back to exactly what was there).
void FillData(aplarray *a) {
    const size_t bytes = ElementSize(a->eltype) * static_cast<size_t>(a->number);
    memset(DataOf(a), a->eltype == APL_CHAR ? ' ' : 0, bytes);  // 0.0 is all bits zero
}

aplarray *FillScalarLike(const aplarray *item) {
    aplarray *scalar = NewArray(0, item ? item->eltype : kInteger, nullptr);
    if (scalar) FillData(scalar);
    return scalar;
}

bool HasStructuredItem(const aplarray *array) {
    for (int32_t i = 0; i < ItemSlots(array); ++i) {
        const aplarray *item = ItemAt(array, i);
        if (item && (IsNested(item) || item->rank > 0)) return true;
    }
    return false;
}

bool KnownType(int eltype) { return ElementSize(eltype) != 0; }

aplarray *Prototype(const aplarray *array, int mode, int depth) {
    if (depth > kMaxPrototypeDepth) {
        SetError(APL_ERR_LIMIT);
        return nullptr;
    }
    if (IsNested(array) && HasStructuredItem(array)) {
        if (mode == kPrototypeTypical) {
            const aplarray *first = ItemAt(array, 0);
            return first ? Prototype(first, kPrototypeWhole, depth + 1) : FillScalarLike(nullptr);
        }
        aplarray *result = NewArray(array->rank, APL_NESTED, array->shape);
        if (!result) return nullptr;
        aplarray **slots = ItemsOf(result);
        for (int32_t i = 0; i < ItemSlots(array); ++i) {
            const aplarray *item = ItemAt(array, i);
            if (!item) continue;  // an empty array made from nothing has no prototype item
            aplarray *fill = Prototype(item, mode, depth + 1);
            if (!fill) {
                APL_UnLinkEx(result, HERE);
                return nullptr;
            }
            slots[i] = APL_LinkEx(fill, HERE);
        }
        return result;
    }
    // A simple array, or a nested one whose items are all simple scalars.
    int eltype = mode == kPrototypeZeros ? kInteger : array->eltype;
    if (mode == kPrototypeTypical && IsNested(array)) {
        const aplarray *first = ItemAt(array, 0);
        eltype = first ? first->eltype : kInteger;
    }
    if (!KnownType(eltype)) {
        WriteText("unknown type in function 'prototype' !", true);
        eltype = APL_INTG;
    }
    aplarray *result =
        mode == kPrototypeTypical ? NewArray(0, eltype, nullptr) : NewArray(array->rank, eltype, array->shape);
    if (!result) return nullptr;
    if (eltype != APL_NESTED) {
        FillData(result);
        return result;
    }
    aplarray **slots = ItemsOf(result);
    for (int32_t i = 0; i < ItemSlots(array); ++i) {
        const aplarray *item = ItemAt(array, i);
        if (!item) continue;
        aplarray *fill = FillScalarLike(item);
        if (!fill) {
            APL_UnLinkEx(result, HERE);
            return nullptr;
        }
        slots[i] = APL_LinkEx(fill, HERE);
    }
    return result;
}

// ---- Reshape ---------------------------------------------------------------------

// The left argument as axis lengths. False with the error set: RANK for a
// matrix or more, DOMAIN for non-integers or a negative length, LIMIT for more
// axes than an array can have.
bool ReadAxes(aplarray *left, int32_t *axes, int &count) {
    if (left->rank >= 2) {
        SetError(APL_ERR_RANK);
        return false;
    }
    int32_t *values = nullptr;
    const bool owned = IntegerData(left, &values);
    if (aplerrno) return false;
    if (!values) {
        SetError(APL_ERR_DOMAIN);
        return false;
    }
    const int64_t n = ElementCount(left);
    bool ok = true;
    if (n > kMaxRank) {
        SetError(APL_ERR_LIMIT);
        ok = false;
    }
    for (int64_t i = 0; ok && i < n; ++i) {
        if (values[i] < 0) {
            SetError(APL_ERR_DOMAIN);
            ok = false;
        }
        axes[i] = values[i];
    }
    if (owned) FreeBlock(values, HERE);
    count = static_cast<int>(n);
    return ok;
}

// Fills `total` units of `out` with the `available` units of `in`, cycled:
// one copy of what is there, then the filled prefix is copied after itself,
// doubling while the prefix is shorter than a stride (it is always a whole
// number of cycles), then a stride at a time from that prefix. False, with
// INTERRUPT ERROR set, when the host asked to stop.
bool FillCyclic(char *out, const char *in, size_t unit, int64_t total, int64_t available) {
    const int64_t first = std::min(total, available);
    if (!ForEachStride(first, [&](int64_t begin, int64_t end) {
            memcpy(out + begin * unit, in + begin * unit, static_cast<size_t>(end - begin) * unit);
        }))
        return false;
    int64_t filled = first;
    while (filled < total && filled < kInterruptStride) {
        const int64_t block = std::min(filled, total - filled);
        memcpy(out + static_cast<size_t>(filled) * unit, out, static_cast<size_t>(block) * unit);
        filled += block;
    }
    // Element k repeats element k - period, so each piece may come from the
    // same place a period back, which never overlaps it.
    const int64_t period = filled;
    return ForEachStride(total - filled, [&](int64_t begin, int64_t end) {
        const int64_t at = filled + begin;
        memcpy(out + static_cast<size_t>(at) * unit, out + static_cast<size_t>(at - period) * unit,
               static_cast<size_t>(end - begin) * unit);
    });
}

aplarray *ReshapeNonEmpty(const int32_t *axes, int count, aplarray *right);

// BOOL rows that do not start on word boundaries on both sides: by way of INTG.
aplarray *ReshapeBoolByIntegers(const int32_t *axes, int count, aplarray *right) {
    TempGuard wide(BoolToInt(right));
    if (!wide.get()) return nullptr;
    aplarray *integers = ReshapeNonEmpty(axes, count, wide.get());
    if (!integers) return nullptr;
    return APL_ToBool(nullptr, nullptr, integers);
}

// Borrows `right` (not empty); returns a new temporary.
aplarray *ReshapeNonEmpty(const int32_t *axes, int count, aplarray *right) {
    if (right->eltype == APL_BOOL) {
        // Cycling whole words equals cycling bits only when no row is padded.
        const bool wordAligned =
            right->rank >= 1 && count >= 1 && axes[count - 1] % 32 == 0 && RowLength(right) % 32 == 0;
        if (!wordAligned) return ReshapeBoolByIntegers(axes, count, right);
    }
    aplarray *result = NewArray(count, right->eltype, axes);
    if (!result) return nullptr;
    if (!IsNested(right)) {
        if (FillCyclic(DataOf<char>(result), DataOf<const char>(right), ElementSize(right->eltype), result->number,
                       right->number))
            return result;
        APL_UnLinkTempEx(result, HERE);
        return nullptr;
    }
    // A result of no elements still gets the first item, as its prototype.
    aplarray **slots = ItemsOf(result);
    const int64_t available = right->number;
    for (int64_t i = 0; i < ItemSlots(result); ++i) {
        if (InterruptAt(i)) {
            APL_UnLinkTempEx(result, HERE);  // the slots not reached are still empty
            return nullptr;
        }
        slots[i] = APL_LinkEx(ItemAt(right, i % available), HERE);
    }
    return SimplifyArray(result);
}

// Borrows `right` (empty); returns a new temporary.
aplarray *ReshapeEmpty(const int32_t *axes, int count, aplarray *right) {
    for (int i = 0; i < count; ++i)
        if (axes[i] == 0) {
            aplarray *result = NewArray(count, right->eltype, axes);
            if (!result || !IsNested(result)) return result;
            aplarray *fill = Prototype(right, kPrototypeTypical, 0);
            if (!fill) {
                APL_UnLinkEx(result, HERE);
                return nullptr;
            }
            ItemsOf(result)[0] = APL_LinkEx(fill, HERE);
            return SimplifyArray(result);
        }
    SetError(APL_ERR_DOMAIN);  // nothing to fill a non-empty array with
    return nullptr;
}

aplarray *ShapeKernel(CallArgs &args) {
    if (args.axis) {
        SetError(APL_ERR_AXIS);
        return nullptr;
    }
    aplarray *left = args.left, *right = args.right;
    if (!right) {
        SetError(APL_ERR_SYNTAX);
        return nullptr;
    }
    if (!left) return MakeIntVector(right->shape, right->rank);

    const bool leftEmpty = ElementCount(left) == 0;
    const bool rightEmpty = right->number == 0;
    if (leftEmpty) {
        if (rightEmpty) {
            SetError(APL_ERR_DOMAIN);
            return nullptr;
        }
        // The first element as a scalar, whatever the rank of the empty left.
        aplarray *first = ItemScalar(right, 0);
        return first && IsNested(first) ? SimplifyArray(first) : first;
    }
    int32_t axes[kMaxRank];
    int count = 0;
    if (!ReadAxes(left, axes, count)) return nullptr;
    return rightEmpty ? ReshapeEmpty(axes, count, right) : ReshapeNonEmpty(axes, count, right);
}

}  // namespace

aplarray *prototype(const aplarray *array, int mode) {
    if (!array) return nullptr;
    return Prototype(array, mode, 0);
}

// Returns a temporary (lnkcnt 0). Consumes temporary arguments; linked ones are
// left as they were.
extern "C" aplarray *APL_Shape(aplarray *axis, aplarray *left, aplarray *right) {
    // The axis and a missing right argument are refused by the kernel, so that
    // they give AXIS and SYNTAX in that order. The kernel only reads its
    // arguments: a constant or a label (→(I<N)⍴L) is used where it lies.
    return StandardCall({Optional(kAnyType), Borrowed(Optional(kNumeric)), Borrowed(Optional(kAnyType))}, axis, left,
                        right, ShapeKernel);
}
