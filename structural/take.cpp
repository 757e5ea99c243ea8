// take: the take engine and the primitives built on it, APL_Take (take and
// first) and APL_Drop (a drop is a take of what remains). Relies on the array
// core, prototype (rho), the shared cells and IO in the symbol table.
#include "structural/take.h"

#include "core/arrays.h"
#include "core/eltypes.h"
#include "core/errors.h"
#include "core/symtab.h"
#include "core/wrapper.h"
#include "structural/cells.h"
#include "structural/rho.h"

#include <algorithm>

namespace {

// Where the part of the argument that survives lies, per axis.
struct TakeBox {
    int rank = 0;
    int32_t shape[kMaxRank];  // result lengths
    int64_t kept[kMaxRank];   // elements of the argument kept along the axis
    int64_t from[kMaxRank];   // first kept index in the argument
    int64_t to[kMaxRank];     // its position in the result
    bool overtake = false;    // some result position lies beyond the argument
};

bool PlanBox(const aplarray *array, const int64_t *lengths, int count, TakeBox &box) {
    box.rank = count;
    for (int j = 0; j < count; ++j) {
        const int64_t n = array->rank ? array->shape[j] : 1;
        const int64_t wanted = lengths[j] < 0 ? -lengths[j] : lengths[j];
        if (wanted > INT32_MAX) {
            SetError(APL_ERR_DOMAIN);
            return false;
        }
        const int64_t kept = std::min(wanted, n);
        box.shape[j] = static_cast<int32_t>(wanted);
        box.kept[j] = kept;
        box.from[j] = lengths[j] >= 0 ? 0 : n - kept;
        box.to[j] = lengths[j] >= 0 ? 0 : wanted - kept;
        box.overtake = box.overtake || kept < wanted;
    }
    return true;
}

// Copies the kept box of `array` into `result`: one run of the last axis at a
// time, the runs walked with an odometer over the other axes.
bool CopyBox(aplarray *result, const aplarray *array, const TakeBox &box) {
    const int r = box.rank;
    if (r == 0) return CopyRun(result, 0, array, 0, 1);
    for (int j = 0; j < r; ++j)
        if (box.kept[j] == 0) return true;
    int64_t srcStride[kMaxRank], dstStride[kMaxRank];
    int64_t s = 1, d = 1;
    for (int j = r - 1; j >= 0; --j) {
        srcStride[j] = s;
        dstStride[j] = d;
        s *= array->rank ? array->shape[j] : 1;
        d *= box.shape[j];
    }
    int64_t src = 0, dst = 0;
    for (int j = 0; j < r; ++j) {
        src += box.from[j] * srcStride[j];
        dst += box.to[j] * dstStride[j];
    }
    const int64_t run = box.kept[r - 1];
    int64_t counter[kMaxRank] = {};
    for (;;) {
        if (!CopyRun(result, dst, array, src, run)) return false;
        int j = r - 2;
        for (; j >= 0; --j) {
            src += srcStride[j];
            dst += dstStride[j];
            if (++counter[j] < box.kept[j]) break;
            src -= box.kept[j] * srcStride[j];
            dst -= box.kept[j] * dstStride[j];
            counter[j] = 0;
        }
        if (j < 0) return true;
    }
}

// The slots of a nested overtake that the copy left empty receive the fill.
bool FillEmptySlots(aplarray *result, aplarray *fill) {
    aplarray **slots = ItemsOf(result);
    return ForEachStride(result->number, [slots, fill](int64_t begin, int64_t end) {
        for (int64_t i = begin; i < end; ++i)
            if (!slots[i]) slots[i] = APL_LinkEx(fill, HERE);
    });
}

aplarray *TakeWide(const aplarray *array, const int64_t *lengths, int count, aplarray *fill) {
    if (count > kMaxRank) {
        SetError(APL_ERR_LIMIT);
        return nullptr;
    }
    if (array->rank != 0 && array->rank != count) {
        SetError(APL_ERR_LENGTH);
        return nullptr;
    }
    TakeBox box;
    if (!PlanBox(array, lengths, count, box)) return nullptr;
    TempGuard result(NewResult(count, array->eltype, box.shape));
    if (!result.get()) return nullptr;
    const int64_t total = ElementCount(result.get());
    if (total == 0) {
        if (IsNested(result.get())) ItemsOf(result.get())[0] = APL_LinkEx(fill, HERE);
        return SimplifyArray(result.release());
    }
    // Simple data: the fill everywhere, then the kept part over it. Nested data
    // must not link a slot twice: the copy first, then the fill in the gaps.
    if (box.overtake && !IsNested(array) && !StoreFill(result.get(), 0, total, fill)) return nullptr;
    if (!CopyBox(result.get(), array, box)) return nullptr;
    if (box.overtake && IsNested(array) && !FillEmptySlots(result.get(), fill)) return nullptr;
    return IsNested(array) ? SimplifyArray(result.release()) : result.release();
}

// ---- Arguments of take and drop --------------------------------------------------

// The axes that the lengths of `left` apply to (0-based), for an axis written
// on take or drop. `rankError` is the error for an axis of two or more simple
// values (drop refuses those; take reads them as INDEX).
bool ReadNamedAxes(aplarray *axis, int rank, int64_t wanted, int rankError, int *named) {
    AxisArgument a;
    if (!ReadAxisArgument(axis, a)) {
        SetError(APL_ERR_INDEX);
        return false;
    }
    if (!a.nested && a.count != 1) {
        SetError(rankError);
        return false;
    }
    if (a.count != wanted) {
        SetError(APL_ERR_LENGTH);
        return false;
    }
    if (!a.integral) {
        SetError(APL_ERR_INDEX);
        return false;
    }
    const int64_t origin = IndexOrigin();
    bool seen[kMaxRank] = {};
    for (int64_t i = 0; i < a.count; ++i) {
        const int64_t k = NearInteger(NumberAt(a.values, i)) - origin;
        if (k < 0 || k >= rank || seen[k]) {
            SetError(APL_ERR_INDEX);
            return false;
        }
        seen[k] = true;
        named[i] = static_cast<int>(k);
    }
    return true;
}

// The lengths per axis of the array that `left` (and the axis) ask for; the
// axes not named keep their whole length and are marked in `named`.
bool ReadLengths(aplarray *axis, aplarray *left, const aplarray *array, int rankError, int64_t *lengths, bool *named,
                 int &count) {
    if (left->rank >= 2) {
        SetError(APL_ERR_RANK);
        return false;
    }
    IntegerArgument values(left);
    if (!values.ok()) return false;
    if (!axis) {
        if (array->rank != 0 && values.size() != array->rank) {
            SetError(APL_ERR_LENGTH);
            return false;
        }
        if (values.size() > kMaxRank) {
            SetError(APL_ERR_LIMIT);
            return false;
        }
        count = static_cast<int>(values.size());
        for (int j = 0; j < count; ++j) {
            lengths[j] = values[j];
            named[j] = true;
        }
        return true;
    }
    if (array->rank == 0) {
        SetError(APL_ERR_INDEX);
        return false;
    }
    if (values.size() > array->rank) {
        SetError(APL_ERR_LENGTH);
        return false;
    }
    int axes[kMaxRank];
    if (!ReadNamedAxes(axis, array->rank, values.size(), rankError, axes)) return false;
    count = array->rank;
    for (int j = 0; j < count; ++j) {
        lengths[j] = array->shape[j];
        named[j] = false;
    }
    for (int64_t i = 0; i < values.size(); ++i) {
        lengths[axes[i]] = values[i];
        named[axes[i]] = true;
    }
    return true;
}

// A one-element argument as an array of `rank` axes of length 1 (the same
// element, so that take and drop place it by the signs of their counts).
// Returns a new temporary; borrows the argument.
aplarray *AsUnitCell(const aplarray *array, int64_t rank) {
    if (rank > kMaxRank) {
        SetError(APL_ERR_LIMIT);
        return nullptr;
    }
    int32_t ones[kMaxRank];
    std::fill(ones, ones + rank, 1);
    aplarray *cell = NewResult(static_cast<int>(rank), array->eltype, ones);
    if (cell && !CopyRun(cell, 0, array, 0, 1)) {
        APL_UnLinkTempEx(cell, HERE);
        return nullptr;
    }
    return cell;
}

aplarray *First(CallArgs &args) {
    if (args.axis) {
        SetErrorText(APL_ERR_AXIS, "monadic take has no axis !");
        return nullptr;
    }
    aplarray *right = args.right;
    if (ElementCount(right) == 0) return prototype(right, kPrototypeTypical);
    if (IsNested(right)) return APL_LinkEx(SlotAt(right, 0), HERE);
    return ItemScalar(right, 0);
}

// A drop count D on an axis of length n as the take length of what remains:
// the first n+D elements for D < 0, the last n-D for D >= 0 (none past the end).
int64_t DropToTake(int64_t d, int64_t n) { return d < 0 ? std::max<int64_t>(d + n, 0) : std::min<int64_t>(d - n, 0); }

// Take and drop after their own first steps: `right` made a unit cell when it
// has one element, then the engine with the fill of the original argument.
aplarray *TakeOrDropWithFill(aplarray *axis, aplarray *left, aplarray *right, bool drop, aplarray *fill) {
    TempGuard cell;
    const aplarray *array = right;
    if (ElementCount(right) == 1) {
        if (axis) {
            SetError(APL_ERR_AXIS);
            return nullptr;
        }
        cell.reset(AsUnitCell(right, ElementCount(left)));
        if (!cell.get()) return nullptr;
        array = cell.get();
    }
    int64_t lengths[kMaxRank];
    bool named[kMaxRank];
    int count = 0;
    if (!ReadLengths(axis, left, array, drop ? APL_ERR_RANK : APL_ERR_INDEX, lengths, named, count)) return nullptr;
    if (drop)
        for (int j = 0; j < count; ++j)
            if (named[j]) lengths[j] = DropToTake(lengths[j], array->rank ? array->shape[j] : 1);
    return TakeEngine(array, lengths, count, fill);
}

// The engine links the fill into padded slots, and simplifying a result of
// scalars unlinks those again: our own link keeps the fill alive meanwhile.
aplarray *TakeOrDrop(aplarray *axis, aplarray *left, aplarray *right, bool drop) {
    aplarray *fill = prototype(right, kPrototypeTypical);
    if (fill) fill = APL_LinkEx(fill, HERE);
    if (!fill) return nullptr;
    aplarray *result = TakeOrDropWithFill(axis, left, right, drop, fill);
    APL_UnLinkEx(fill, HERE);
    return result;
}

aplarray *TakeKernel(CallArgs &args) {
    if (!args.left) return First(args);
    if (ElementCount(args.left) == 0) {
        if (args.right->rank == 0 && args.left->rank <= 1) return args.right;
        SetError(APL_ERR_RANK);
        return nullptr;
    }
    return TakeOrDrop(args.axis, args.left, args.right, false);
}

aplarray *DropKernel(CallArgs &args) {
    if (!args.left) {
        SetErrorText(APL_ERR_SYNTAX, "Only dyadic use of 'drop' possible");
        return nullptr;
    }
    if (ElementCount(args.left) == 0) {
        if (!args.axis && args.left->rank <= 1) return args.right;
        SetError(APL_ERR_RANK);
        return nullptr;
    }
    return TakeOrDrop(args.axis, args.left, args.right, true);
}

}  // namespace

aplarray *TakeEngine(const aplarray *array, const int64_t *lengths, int count, aplarray *fill) {
    if (array->eltype != APL_BOOL && array->eltype != APL_SHORT) return TakeWide(array, lengths, count, fill);
    // The converters release their argument: a link of our own keeps it.
    aplarray *held = APL_LinkEx(const_cast<aplarray *>(array), HERE);
    TempGuard wide(array->eltype == APL_BOOL ? BoolToInt(held) : ShortToInt(held));
    APL_UnLinkEx(held, HERE);
    if (!wide.get()) return nullptr;
    return TakeWide(wide.get(), lengths, count, fill);
}

// Returns a temporary (lnkcnt 0), or the right argument (an empty left with a
// scalar). Consumes temporary arguments; linked ones are left as they were.
extern "C" aplarray *APL_Take(aplarray *axis, aplarray *left, aplarray *right) {
    return StandardCall({Optional(kAnyType), Optional(kNumeric), Required(kStructuralTypes)}, axis, left, right,
                        TakeKernel);
}

// Returns a temporary (lnkcnt 0), or the right argument (an empty left).
// Consumes temporary arguments; linked ones are left as they were.
extern "C" aplarray *APL_Drop(aplarray *axis, aplarray *left, aplarray *right) {
    return StandardCall({Optional(kAnyType), Optional(kNumeric), Required(kStructuralTypes)}, axis, left, right,
                        DropKernel);
}
