// rotate: APL_Rotate and APL_Rotate1, reverse and rotate along the last or
// the first axis (or a written one). Relies on the array core, the cells and
// IO in the symbol table.
#include "apl.h"
#include "core/arrays.h"
#include "core/eltypes.h"
#include "core/errors.h"
#include "core/symtab.h"
#include "core/wrapper.h"
#include "structural/cells.h"

#include <algorithm>
#include <cstring>

namespace {

// Every vector along the axis reversed: per outer cell, its sub-cells in
// the opposite order.
template <class T>
bool ReverseCells(T *out, const T *in, const AxisSplit &s) {
    const int64_t cell = s.length * s.inner;
    StrideClock clock;  // by elements done: the vectors, or the sub-cells, may be long
    for (int64_t o = 0; o < s.outer; ++o, in += cell, out += cell) {
        if (s.inner == 1) {
            for (int64_t j = 0; j < s.length; j += kInterruptStride) {
                if (clock.passed(o * cell + j)) return false;
                const int64_t end = std::min(s.length, j + kInterruptStride);
                std::reverse_copy(in + j, in + end, out + s.length - end);
            }
            continue;
        }
        for (int64_t j = 0; j < s.length; ++j) {
            if (clock.passed(o * cell + j * s.inner)) return false;
            std::copy(in + j * s.inner, in + (j + 1) * s.inner, out + (s.length - 1 - j) * s.inner);
        }
    }
    return true;
}

// Each vector along the axis rotated by its own amount (taken modulo n).
template <class T>
bool RotateVectors(T *out, const T *in, const AxisSplit &s, const int32_t *amounts) {
    const int64_t n = s.length, cell = n * s.inner;
    StrideClock clock;  // by elements done: one vector may be long
    for (int64_t o = 0; o < s.outer; ++o, in += cell, out += cell) {
        for (int64_t i = 0; i < s.inner; ++i) {
            const int64_t shift = ((amounts[o * s.inner + i] % n) + n) % n;
            for (int64_t j0 = 0; j0 < n; j0 += kInterruptStride) {
                if (clock.passed((o * s.inner + i) * n + j0)) return false;
                const int64_t end = std::min(n, j0 + kInterruptStride);
                for (int64_t j = j0; j < end; ++j) out[j * s.inner + i] = in[((j + shift) % n) * s.inner + i];
            }
        }
    }
    return true;
}

// Runs a loop body on the data as unsigned words of the element size; false
// when it was interrupted.
template <template <class> class Body, class... Extra>
bool BySize(aplarray *result, const aplarray *right, Extra... extra) {
    switch (ElementSize(right->eltype)) {
        case 1: return Body<uint8_t>::Run(DataOf<uint8_t>(result), DataOf<const uint8_t>(right), extra...);
        case 2: return Body<uint16_t>::Run(DataOf<uint16_t>(result), DataOf<const uint16_t>(right), extra...);
        case 4: return Body<uint32_t>::Run(DataOf<uint32_t>(result), DataOf<const uint32_t>(right), extra...);
        default: return Body<uint64_t>::Run(DataOf<uint64_t>(result), DataOf<const uint64_t>(right), extra...);
    }
}
template <class T>
struct ReverseBody {
    static bool Run(T *out, const T *in, AxisSplit s) { return ReverseCells(out, in, s); }
};
template <class T>
struct RotateBody {
    static bool Run(T *out, const T *in, AxisSplit s, const int32_t *amounts) {
        return RotateVectors(out, in, s, amounts);
    }
};

aplarray *NewLike(const aplarray *right) { return NewResult(right->rank, right->eltype, right->shape); }

// The links of the items that a raw copy of slots put into a nested result;
// after an interrupt, the result without them, released.
aplarray *Finished(aplarray *result, bool completed) {
    if (!completed) {
        if (IsNested(result)) memset(DataOf(result), 0, sizeof(aplarray *) * static_cast<size_t>(result->number));
        APL_UnLinkTempEx(result, HERE);
        return nullptr;
    }
    if (IsNested(result) && !LinkSlots(ItemsOf(result), ElementCount(result))) {
        APL_UnLinkTempEx(result, HERE);
        return nullptr;
    }
    return result;
}

// Returns a new temporary; borrows the argument (not empty).
aplarray *Reverse(const aplarray *right, int k) {
    aplarray *result = NewLike(right);
    if (!result) return nullptr;
    return Finished(result, BySize<ReverseBody>(result, right, SplitAlong(right, k)));
}

// Rotation by one amount: per outer cell, the tail from the split point
// first, then the head: two block moves whatever the amount.
aplarray *RotateUniform(const aplarray *right, int k, int64_t amount) {
    const AxisSplit s = SplitAlong(right, k);
    aplarray *result = NewLike(right);
    if (!result) return nullptr;
    // The amount is reduced before it is scaled, so no product can overflow.
    const int64_t shift = ((amount % s.length) + s.length) % s.length;
    const int64_t cell = s.length * s.inner, head = shift * s.inner;
    for (int64_t o = 0; o < s.outer; ++o) {
        if (!CopyRun(result, o * cell, right, o * cell + head, cell - head) ||
            !CopyRun(result, o * cell + cell - head, right, o * cell, head)) {
            APL_UnLinkTempEx(result, HERE);
            return nullptr;
        }
    }
    return result;
}

// The amounts must have the shape of the argument without axis k.
aplarray *RotateEach(const aplarray *left, const int32_t *amounts, const aplarray *right, int k) {
    bool conforms = left->rank == right->rank - 1;
    for (int i = 0, j = 0; conforms && i < right->rank; ++i)
        if (i != k) conforms = left->shape[j++] == right->shape[i];
    if (!conforms) {
        SetError(APL_ERR_LENGTH);
        return nullptr;
    }
    if (ElementCount(right) == 0) return const_cast<aplarray *>(right);
    aplarray *result = NewLike(right);
    if (!result) return nullptr;
    return Finished(result, BySize<RotateBody>(result, right, SplitAlong(right, k), amounts));
}

aplarray *RotateKernel(CallArgs &args, bool firstAxis) {
    aplarray *right = args.right;
    int k = 0;
    if (!OneAxisAlong(args.axis, right, firstAxis, false, k)) return nullptr;
    if (!args.left) return ElementCount(right) == 0 || right->rank == 0 ? right : Reverse(right, k);
    IntegerArgument amounts(args.left);
    if (!amounts.ok()) return nullptr;
    if (amounts.size() != 1) return RotateEach(args.left, amounts.data(), right, k);
    // An empty axis or cell has nothing to move (and no length to divide by).
    if (ElementCount(right) == 0 || right->rank == 0) return right;
    return RotateUniform(right, k, amounts[0]);
}

}  // namespace

// Reverse (monadic) and rotate along the last axis, or the one written.
// Returns a temporary (lnkcnt 0), or the right argument when nothing moves
// (a scalar or an empty array). Consumes temporary arguments; linked ones are
// left as they were.
extern "C" aplarray *APL_Rotate(aplarray *axis, aplarray *left, aplarray *right) {
    return StandardCall({Optional(kAnyType), Optional(kNumeric), Required(kStructuralTypes)}, axis, left, right,
                        [](CallArgs &args) { return RotateKernel(args, false); });
}

// The same along the first axis when none is written.
extern "C" aplarray *APL_Rotate1(aplarray *axis, aplarray *left, aplarray *right) {
    return StandardCall({Optional(kAnyType), Optional(kNumeric), Required(kStructuralTypes)}, axis, left, right,
                        [](CallArgs &args) { return RotateKernel(args, true); });
}
