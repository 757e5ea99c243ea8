// iota: the index generator (monadic interval), index-of (a direct table for
// characters and narrow integers, a hash for wide ones, the lookup structures
// of search for REAL, mixed and nested data) and the empty vector.
// Relies on the array core, the standard wrapper and IO and CT in the symbol table.
#if defined(__GNUC__) && !defined(__clang__)
// GCC 12 at -O2 vectorises only loops whose trip count is a multiple of the
// vector width; the range and fill loops of the tables need the full vectoriser.
#pragma GCC optimize("tree-vectorize")
#endif
#include "apl.h"
#include "core/arrays.h"
#include "core/eltypes.h"
#include "core/errors.h"
#include "core/symtab.h"
#include "core/wrapper.h"
#include "structural/scratch.h"
#include "structural/search.h"

#include <algorithm>
#include <cstring>

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

// ---- Index of ---------------------------------------------------------------

// Positions for index of through a direct table: `first` maps a value to the
// lowest position holding it (n when absent). False (INTERRUPT ERROR set) when
// the host asks to stop.
bool CharIndexOf(const aplarray *left, const aplarray *right, int32_t *out) {
    const int32_t n = left->number;
    int32_t first[256];
    for (int32_t &f : first) f = n;
    const uint8_t *l = DataOf<uint8_t>(left);
    for (int32_t i = n - 1; i >= 0; --i) {
        if (InterruptAt(i)) return false;
        first[l[i]] = i;
    }
    const uint8_t *r = DataOf<uint8_t>(right);
    return ForEachStride(right->number, [&](int64_t begin, int64_t end) {
        for (int64_t j = begin; j < end; ++j) out[j] = first[r[j]];
    });
}

// INTG in INTG: a direct table over the value range when it is narrow,
// otherwise an open-addressed hash of first positions. The index origin is
// in the table already, so the answers need no pass of their own. False
// with the error set.
bool IntIndexOf(const aplarray *left, const aplarray *right, int32_t origin, int32_t *out) {
    const int32_t n = left->number;
    const int32_t *l = DataOf<int32_t>(left);
    const int32_t *r = DataOf<int32_t>(right);
    const int32_t missing = n + origin;
    if (n == 0) {
        for (int32_t j = 0; j < right->number; ++j) out[j] = missing;
        return true;
    }
    int32_t low = l[0], high = l[0];
    if (!ForEachStride(n, [&](int64_t begin, int64_t end) {
            for (int64_t i = begin; i < end; ++i) {
                low = l[i] < low ? l[i] : low;
                high = l[i] > high ? l[i] : high;
            }
        }))
        return false;
    const int64_t range = static_cast<int64_t>(high) - low + 1;
    if (range <= 4 * static_cast<int64_t>(n) + 1024 && range <= (int64_t{1} << 26)) {
        ScratchBlock<int32_t> table(range);
        if (!table.get()) return false;
        int32_t *first = table.get();
        std::fill(first, first + range, missing);
        // From the back, so that the first occurrence is what remains.
        if (!ForEachStride(n, [&](int64_t begin, int64_t end) {
                for (int64_t k = begin; k < end; ++k) {
                    const int64_t i = n - 1 - k;
                    first[static_cast<int64_t>(l[i]) - low] = static_cast<int32_t>(i) + origin;
                }
            }))
            return false;
        return ForEachStride(right->number, [&](int64_t begin, int64_t end) {
            for (int64_t j = begin; j < end; ++j) {
                const uint64_t at = static_cast<uint64_t>(static_cast<int64_t>(r[j]) - low);
                out[j] = at < static_cast<uint64_t>(range) ? first[at] : missing;
            }
        });
    }
    uint32_t slots = 1;
    while (slots < 2u * static_cast<uint32_t>(n)) slots <<= 1;
    ScratchBlock<int32_t> table(slots);
    if (!table.get()) return false;
    int32_t *position = table.get();
    if (!ForEachStride(slots,
                       [position](int64_t begin, int64_t end) { std::fill(position + begin, position + end, -1); }))
        return false;
    const uint32_t mask = slots - 1;
    auto hash = [mask](int32_t v) { return (static_cast<uint32_t>(v) * 0x9E3779B1u) >> 7 & mask; };
    for (int32_t i = 0; i < n; ++i) {
        if (InterruptAt(i)) return false;
        uint32_t s = hash(l[i]);
        while (position[s] >= 0 && l[position[s]] != l[i]) s = (s + 1) & mask;
        if (position[s] < 0) position[s] = i;
    }
    return ForEachStride(right->number, [&](int64_t begin, int64_t end) {
        for (int64_t j = begin; j < end; ++j) {
            uint32_t s = hash(r[j]);
            while (position[s] >= 0 && l[position[s]] != r[j]) s = (s + 1) & mask;
            out[j] = position[s] >= 0 ? position[s] + origin : missing;
        }
    });
}

// Index of: for each element of `right` IO + the first position in the
// vector `left` holding an equal element, IO + length when none. Returns a new
// INTG array of the shape of `right`, or null with the error set. Borrows both.
aplarray *IndexOf(const aplarray *left, const aplarray *right) {
    if (left->rank != 1) {
        SetError(APL_ERR_RANK);
        return nullptr;
    }
    aplarray *result = AllocArray(APL_SIMPLE | APL_TEMP, right->rank, APL_INTG, right->shape, HERE);
    if (!result) return nullptr;
    int32_t *out = DataOf<int32_t>(result);
    const int32_t n = left->number;
    const int64_t count = IsNested(right) ? right->number : ElementCount(right);
    bool ok = true;
    if (left->eltype == APL_CHAR && right->eltype == APL_CHAR) {
        ok = CharIndexOf(left, right, out);
    } else if (!IsNested(left) && !IsNested(right) && (left->eltype == APL_CHAR) != (right->eltype == APL_CHAR)) {
        for (int64_t j = 0; j < count; ++j) out[j] = n;
    } else if (left->eltype == APL_INTG && right->eltype == APL_INTG) {
        if (IntIndexOf(left, right, IndexOrigin(), out)) return result;
        ok = false;
    } else {
        // Everything else through the lookup structures of membership.
        SearchTable table;
        ok = table.Build(left) && table.FindAll(right, out);
        if (ok)
            for (int64_t j = 0; j < count; ++j) out[j] = out[j] < 0 ? n : out[j];
    }
    if (!ok) {
        if (!aplerrno) SetError(APL_ERR_WSFULL);
        APL_UnLinkTempEx(result, HERE);
        return nullptr;
    }
    const int32_t origin = IndexOrigin();
    if (origin == 0 || ForEachStride(count, [out, origin](int64_t begin, int64_t end) {
            for (int64_t j = begin; j < end; ++j) out[j] += origin;
        }))
        return result;
    APL_UnLinkTempEx(result, HERE);
    return nullptr;
}

}  // namespace

// Returns a temporary INTG array. Consumes temporary arguments; linked ones are
// left as they were.
extern "C" aplarray *APL_Interval(aplarray *axis, aplarray *left, aplarray *right) {
    // BOOL and SHORT lengths arrive as INTG; characters and nested data are
    // refused by the kernel with a plain DOMAIN.
    constexpr Signature kSignature{Optional(kAnyType), Optional(APL_CHAR | APL_INTG | APL_REAL | APL_NESTED),
                                   Required(APL_CHAR | APL_INTG | APL_REAL | APL_NESTED)};
    return StandardCall(kSignature, axis, left, right, [](CallArgs &args) -> aplarray * {
        if (args.axis) {
            SetError(APL_ERR_AXIS);
            return nullptr;
        }
        if (args.left) return IndexOf(args.left, args.right);
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
