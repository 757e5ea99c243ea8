// match: the primitive match (≡): depth and match, and the ArrayDepth and
// MatchArrays that other modules (fixing, membership, index-of) compare with.
// Relies on the array core, the standard wrapper and ⎕CT in the symbol table.
#include "apl.h"
#include "core/arrays.h"
#include "core/eltypes.h"
#include "core/errors.h"
#include "core/symtab.h"
#include "core/wrapper.h"
#include "structural/nested.h"

#include <algorithm>
#include <cstring>

namespace {

int32_t DepthAt(const aplarray *array, int level) {
    if (level > kMaxNestingDepth) {
        SetError(APL_ERR_LIMIT);
        return -1;
    }
    if (!IsNested(array)) return array->rank == 0 ? 0 : 1;
    int32_t deepest = 0;
    for (int32_t i = 0; i < ItemSlots(array); ++i) {
        const aplarray *item = ItemsOf(array)[i];
        if (!item) continue;
        const int32_t d = DepthAt(item, level + 1);
        if (d < 0) return -1;
        if (d > deepest) deepest = d;
    }
    return deepest + 1;
}

// Element i of a simple numeric array as a double (INTG, SHORT, BOOL or REAL).
double NumberAt(const aplarray *a, int64_t i) {
    switch (a->eltype) {
        case APL_INTG: return DataOf<const int32_t>(a)[i];
        case APL_SHORT: return DataOf<const int16_t>(a)[i];
        case APL_REAL: return DataOf<const double>(a)[i];
        default: {
            const int64_t row = RowLength(a), words = (row + 31) / 32;
            return (DataOf<const uint32_t>(a)[(i / row) * words + (i % row) / 32] >> ((i % row) % 32)) & 1u;
        }
    }
}

// 1 when same(begin, end) holds for every piece of [0, n), 0 at the first
// that does not, -1 (INTERRUPT) when the host asks to stop. The flag is looked
// at between pieces of a stride, never for data of one piece: matches of
// small items are many and must cost nothing more.
template <class Same>
int MatchInStrides(int64_t n, Same same) {
    for (int64_t begin = 0; begin < n; begin += kInterruptStride) {
        if (begin > 0 && InterruptRequested()) return -1;
        if (!same(begin, std::min(n, begin + kInterruptStride))) return 0;
    }
    return 1;
}

// Two simple numeric arrays of the same shape: exact for integers of any
// width, tolerant where a REAL is involved. 1, 0, or -1 on interrupt.
int NumbersMatch(const aplarray *a, const aplarray *b, int64_t n) {
    const bool real = a->eltype == APL_REAL || b->eltype == APL_REAL;
    const double ct = ComparisonTolerance();
    if (a->eltype == APL_REAL && b->eltype == APL_REAL) {
        const double *x = DataOf<const double>(a), *y = DataOf<const double>(b);
        return MatchInStrides(n, [&](int64_t begin, int64_t end) {
            for (int64_t i = begin; i < end; ++i)
                if (x[i] != y[i] && !TolerantlyEqual(x[i], y[i], ct)) return false;
            return true;
        });
    }
    return MatchInStrides(n, [&](int64_t begin, int64_t end) {
        for (int64_t i = begin; i < end; ++i) {
            const double x = NumberAt(a, i), y = NumberAt(b, i);
            if (x != y && (!real || !TolerantlyEqual(x, y, ct))) return false;
        }
        return true;
    });
}

int MatchAt(const aplarray *a, const aplarray *b, int level) {
    if (a == b) return 1;
    if (!a || !b) return 0;
    if (level > kMaxNestingDepth) {
        SetError(APL_ERR_LIMIT);
        return -1;
    }
    if (IsNested(a) != IsNested(b) || a->rank != b->rank) return 0;
    if ((a->eltype == APL_CHAR) != (b->eltype == APL_CHAR)) return 0;
    if (memcmp(a->shape, b->shape, 4 * static_cast<size_t>(a->rank)) != 0) return 0;
    if (IsNested(a)) {
        for (int32_t i = 0; i < ItemSlots(a); ++i) {
            const int m = MatchAt(ItemsOf(a)[i], ItemsOf(b)[i], level + 1);
            if (m != 1) return m;
            if ((i & (kInterruptStride - 1)) == kInterruptStride - 1 && InterruptRequested()) return -1;
        }
        return 1;
    }
    // BOOL rows keep their padding bits zero, so equal BOOL data is equal bytes.
    if (a->eltype == b->eltype && a->eltype != APL_REAL) {
        const size_t size = ElementSize(a->eltype);
        const char *x = DataOf<const char>(a), *y = DataOf<const char>(b);
        return MatchInStrides(a->number, [=](int64_t begin, int64_t end) {
            return memcmp(x + size * static_cast<size_t>(begin), y + size * static_cast<size_t>(begin),
                          size * static_cast<size_t>(end - begin)) == 0;
        });
    }
    return NumbersMatch(a, b, ElementCount(a));
}

// Depth (no left) or match; an INTG scalar.
aplarray *MatchKernel(CallArgs &args) {
    if (args.axis) {
        SetError(APL_ERR_AXIS);
        return nullptr;
    }
    const int32_t value = args.left ? MatchArrays(args.left, args.right) : ArrayDepth(args.right);
    return aplerrno ? nullptr : MakeInt(value);
}

}  // namespace

int32_t ArrayDepth(const aplarray *array) { return array ? DepthAt(array, 0) : 0; }

int MatchArrays(const aplarray *a, const aplarray *b) { return MatchAt(a, b, 0); }

// Returns a temporary INTG scalar (lnkcnt 0). Consumes temporary arguments;
// linked ones are left as they were.
extern "C" aplarray *APL_Match(aplarray *axis, aplarray *left, aplarray *right) {
    return StandardCall({Optional(kAnyType), Optional(kAnyType), Required(kAnyType)}, axis, left, right, MatchKernel);
}
