// grade: grade up and grade down, numeric and with a collating sequence.
// Single INTG, REAL and CHAR elements go through stable radix or counting sorts;
// longer cells through a stable merge sort. Relies on the array core and the wrapper.
#include "apl.h"
#include "core/arrays.h"
#include "core/eltypes.h"
#include "core/errors.h"
#include "core/symtab.h"
#include "core/wrapper.h"
#include "structural/mergesort.h"
#include "structural/scratch.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

// Below this many cells a comparison sort beats the radix passes' fixed cost.
constexpr int32_t kRadixThreshold = 256;

// Order-preserving unsigned keys: ascending key order is ascending value order;
// complementing the key reverses it, so one stable ascending sort serves both
// directions and ties keep the lower cell first either way.
inline uint32_t IntKey(int32_t v, bool down) {
    const uint32_t k = static_cast<uint32_t>(v) ^ 0x80000000u;
    return down ? ~k : k;
}
inline uint64_t RealKey(double v, bool down) {
    if (v == 0) v = 0;  // ¯0 and 0 are one value
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    const uint64_t k = (bits >> 63) ? ~bits : bits | 0x8000000000000000ull;
    return down ? ~k : k;
}

// Stable LSD radix sort of (key, cell) pairs by key, 11 bits a pass; passes
// in which every key has the same digit are skipped. Result cells go to `out`.
// False with INTERRUPT set when the host asked to stop.
template <class Key>
bool RadixSort(Key *keys, int32_t *cells, int32_t n, int32_t *out) {
    constexpr int kBits = 11;
    constexpr int kBuckets = 1 << kBits;
    constexpr int kPasses = (static_cast<int>(sizeof(Key)) * 8 + kBits - 1) / kBits;
    ScratchBlock<Key> keyBuffer(n);
    ScratchBlock<int32_t> cellBuffer(n);
    ScratchBlock<int32_t> counts(static_cast<int64_t>(kPasses) * kBuckets);
    if (!keyBuffer.get() || !cellBuffer.get() || !counts.get()) return false;
    int32_t *count = counts.get();
    std::memset(count, 0, sizeof(int32_t) * kPasses * kBuckets);
    if (!ForEachStride(n, [&](int64_t begin, int64_t end) {
            for (int64_t i = begin; i < end; ++i)
                for (int p = 0; p < kPasses; ++p) ++count[p * kBuckets + ((keys[i] >> (p * kBits)) & (kBuckets - 1))];
        }))
        return false;
    Key *fromKeys = keys, *toKeys = keyBuffer.get();
    int32_t *fromCells = cells, *toCells = cellBuffer.get();
    for (int p = 0; p < kPasses; ++p) {
        int32_t *c = count + p * kBuckets;
        const int digit0 = static_cast<int>((fromKeys[0] >> (p * kBits)) & (kBuckets - 1));
        if (c[digit0] == n) continue;
        if (InterruptRequested()) return false;
        int32_t sum = 0;
        for (int b = 0; b < kBuckets; ++b) {
            const int32_t here = c[b];
            c[b] = sum;
            sum += here;
        }
        if (!ForEachStride(n, [&](int64_t begin, int64_t end) {
                for (int64_t i = begin; i < end; ++i) {
                    const int32_t at = c[(fromKeys[i] >> (p * kBits)) & (kBuckets - 1)]++;
                    toKeys[at] = fromKeys[i];
                    toCells[at] = fromCells[i];
                }
            }))
            return false;
        std::swap(fromKeys, toKeys);
        std::swap(fromCells, toCells);
    }
    std::memcpy(out, fromCells, sizeof(int32_t) * n);
    return true;
}

// Grades n single elements through their keys. Small counts use a stable
// comparison sort of the same keys.
template <class Key, class Elt, class MakeKey>
bool GradeByKeys(const Elt *data, int32_t n, int32_t *out, MakeKey makeKey) {
    ScratchBlock<Key> keys(n);
    ScratchBlock<int32_t> cells(n);
    if (!keys.get() || !cells.get()) return false;
    Key *k = keys.get();
    int32_t *c = cells.get();
    // Writing the keys first touches fresh memory, which is slow enough to look at the flag.
    if (!ForEachStride(n, [&](int64_t begin, int64_t end) {
            for (int64_t i = begin; i < end; ++i) {
                k[i] = makeKey(data[i]);
                c[i] = static_cast<int32_t>(i);
            }
        }))
        return false;
    if (n >= kRadixThreshold) return RadixSort(k, c, n, out);
    std::stable_sort(c, c + n, [k](int32_t a, int32_t b) { return k[a] < k[b]; });
    std::memcpy(out, c, sizeof(int32_t) * n);
    return true;
}

// Stable counting sort of single characters by their collating rank. False
// on interrupt.
bool GradeCharsByRank(const uint8_t *data, int32_t n, const uint8_t *rank, bool down, int32_t *out) {
    int32_t start[256] = {};
    auto bucket = [rank, down](uint8_t c) { return down ? 255 - rank[c] : rank[c]; };
    if (!ForEachStride(n, [&](int64_t begin, int64_t end) {
            for (int64_t i = begin; i < end; ++i) ++start[bucket(data[i])];
        }))
        return false;
    int32_t sum = 0;
    for (int b = 0; b < 256; ++b) {
        const int32_t here = start[b];
        start[b] = sum;
        sum += here;
    }
    return ForEachStride(n, [&](int64_t begin, int64_t end) {
        for (int64_t i = begin; i < end; ++i) out[start[bucket(data[i])]++] = static_cast<int32_t>(i);
    });
}

// The state of one sort of whole cells, handed to the comparison: the data,
// the cell length and, for characters, the collating ranks. Whether there are
// ranks and the direction are template arguments, so that the comparison
// carries no test of its own.
template <class Elt, bool kRanked, bool kDown>
struct CellOrder {
    const Elt *data;
    int64_t cellLength;
    const uint8_t *rank;  // for characters only

    // -1, 0 or 1 as cell a sorts before, with or after cell b (ascending).
    int Compare(int32_t a, int32_t b) const {
        const Elt *x = data + a * cellLength, *y = data + b * cellLength;
        for (int64_t j = 0; j < cellLength; ++j) {
            if constexpr (kRanked) {
                const int rx = rank[static_cast<uint8_t>(x[j])], ry = rank[static_cast<uint8_t>(y[j])];
                if (rx != ry) return rx < ry ? -1 : 1;
            } else if (x[j] != y[j]) {
                return x[j] < y[j] ? -1 : 1;
            }
        }
        return 0;
    }
    bool operator()(int32_t a, int32_t b) const {
        const int c = Compare(a, b);
        return kDown ? c > 0 : c < 0;
    }
};

template <class Elt, bool kRanked>
bool SortCells(const Elt *data, int32_t n, int64_t cellLength, const uint8_t *rank, bool down, int32_t *out) {
    if (down) return InterruptibleStableSort(out, n, cellLength, CellOrder<Elt, kRanked, true>{data, cellLength, rank});
    return InterruptibleStableSort(out, n, cellLength, CellOrder<Elt, kRanked, false>{data, cellLength, rank});
}

template <class Elt>
bool GradeCells(const Elt *data, int32_t n, int64_t cellLength, const uint8_t *rank, bool down, int32_t *out) {
    if (!ForEachStride(n, [out](int64_t begin, int64_t end) {
            for (int64_t i = begin; i < end; ++i) out[i] = static_cast<int32_t>(i);
        }))
        return false;
    if (cellLength == 0) return true;
    if (rank) return SortCells<Elt, true>(data, n, cellLength, rank, down, out);
    return SortCells<Elt, false>(data, n, cellLength, rank, down, out);
}

// The collating ranks of `sequence`: rank of each character its position + 1
// modulo 256, a repeat keeping its first rank (DOMAIN for a grade down); then
// characters of `text` with no rank get the following ranks in the order of
// their first appearance, while ranks below 256 remain.
bool CollatingRanks(const aplarray *sequence, const aplarray *text, bool down, uint8_t *rank) {
    bool seen[256] = {};
    std::memset(rank, 0, 256);
    const uint8_t *s = DataOf<uint8_t>(sequence);
    int next = 1;
    for (int32_t i = 0; i < sequence->number; ++i) {
        if (seen[s[i]]) {
            if (down) {
                SetErrorText(APL_ERR_DOMAIN, "All character in left argument must be different");
                return false;
            }
            continue;
        }
        seen[s[i]] = true;
        rank[s[i]] = static_cast<uint8_t>((i + 1) & 255);
        next = std::max(next, rank[s[i]] + 1);
    }
    const uint8_t *t = DataOf<uint8_t>(text);
    for (int32_t i = 0; i < text->number && next < 256; ++i) {
        if (seen[t[i]]) continue;
        seen[t[i]] = true;
        rank[t[i]] = static_cast<uint8_t>(next++);
    }
    return true;
}

// Fills `out` with the cell numbers of `right` in sorted order (from 0).
bool GradeInto(const aplarray *right, const uint8_t *rank, bool down, int32_t *out) {
    const int32_t n = right->shape[0];
    const int64_t cellLength = n ? ElementCount(right) / n : 0;
    switch (right->eltype) {
        case APL_INTG: {
            const int32_t *data = DataOf<int32_t>(right);
            if (cellLength != 1) return GradeCells(data, n, cellLength, nullptr, down, out);
            return GradeByKeys<uint32_t>(data, n, out, [down](int32_t v) { return IntKey(v, down); });
        }
        case APL_REAL: {
            const double *data = DataOf<double>(right);
            if (cellLength != 1) return GradeCells(data, n, cellLength, nullptr, down, out);
            return GradeByKeys<uint64_t>(data, n, out, [down](double v) { return RealKey(v, down); });
        }
        default: {
            const uint8_t *data = DataOf<uint8_t>(right);
            if (cellLength != 1) return GradeCells(data, n, cellLength, rank, down, out);
            return GradeCharsByRank(data, n, rank, down, out);
        }
    }
}

// The grade of `right` (with the collating sequence `left` when given) as a
// new INTG vector, or null with the error set. Borrows both.
aplarray *Grade(const aplarray *left, const aplarray *right, bool down) {
    if (left ? left->eltype != APL_CHAR || right->eltype != APL_CHAR
             : right->eltype != APL_INTG && right->eltype != APL_REAL) {
        SetError(APL_ERR_DOMAIN);
        return nullptr;
    }
    if (right->rank == 0) {
        SetError(APL_ERR_RANK);
        return nullptr;
    }
    uint8_t rank[256];
    if (left && !CollatingRanks(left, right, down, rank)) return nullptr;
    const int32_t n = right->shape[0];
    aplarray *result = AllocArray(APL_SIMPLE | APL_TEMP, 1, APL_INTG, &n, HERE);
    if (!result) return nullptr;
    int32_t *out = DataOf<int32_t>(result);
    if (!GradeInto(right, left ? rank : nullptr, down, out)) {
        if (!aplerrno) SetError(APL_ERR_WSFULL);
        APL_UnLinkTempEx(result, HERE);
        return nullptr;
    }
    const int32_t origin = IndexOrigin();
    if (origin != 0)
        for (int32_t i = 0; i < n; ++i) out[i] += origin;
    return result;
}

aplarray *GradeCall(aplarray *axis, aplarray *left, aplarray *right, bool down) {
    // BOOL and SHORT arrive as INTG; the kernel refuses what it cannot order.
    constexpr Signature kSignature{Optional(kAnyType), Optional(APL_CHAR | APL_INTG | APL_REAL | APL_NESTED),
                                   Required(APL_CHAR | APL_INTG | APL_REAL | APL_NESTED)};
    return StandardCall(kSignature, axis, left, right, [down](CallArgs &args) -> aplarray * {
        if (args.axis) {
            SetError(APL_ERR_AXIS);
            return nullptr;
        }
        return Grade(args.left, args.right, down);
    });
}

}  // namespace

// Returns a temporary INTG vector. Consumes temporary arguments; linked ones
// are left as they were.
extern "C" aplarray *APL_GradeUp(aplarray *axis, aplarray *left, aplarray *right) {
    return GradeCall(axis, left, right, false);
}

// Returns a temporary INTG vector. Consumes temporary arguments; linked ones
// are left as they were.
extern "C" aplarray *APL_GradeDown(aplarray *axis, aplarray *left, aplarray *right) {
    return GradeCall(axis, left, right, true);
}
