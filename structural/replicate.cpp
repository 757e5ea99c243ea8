// replicate: APL_Replicate and APL_Replicate1 (compress and replicate along
// the last or the first axis), and APL_Expand and APL_Expand1, which replicate
// with a fill cell for every 0. Relies on the array core, prototype (rho),
// the cells (with the axis stretch) and IO.
#include "apl.h"
#include "core/arrays.h"
#include "core/eltypes.h"
#include "core/errors.h"
#include "core/symtab.h"
#include "core/wrapper.h"
#include "structural/cells.h"
#include "structural/rho.h"
#include "structural/scratch.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr int kStructuralTypes = APL_CHAR | APL_INTG | APL_REAL | APL_NESTED;
// Boolean masks are read as bits, without widening.
constexpr int kCountTypes = APL_INTG | APL_REAL | APL_BOOL;

// The counts, one per cell consumed or inserted; a single count is applied to
// every cell along the axis.
struct Counts {
    const int32_t *values = nullptr;
    int64_t size = 0;
    bool single = false;
    int32_t at(int64_t i) const { return values[single ? 0 : i]; }
};

// ---- Copying -----------------------------------------------------------------

// Cells of one element: a typed loop with no call per element. The flag is
// looked at by the output written, not by the counts read: one count can ask
// for millions of copies.
template <class T>
bool ReplicateElements(T *out, const T *in, const Counts &c, int64_t outer, int64_t length, int64_t outLength, T fill) {
    int64_t done = 0;
    auto repeat = [&done](T *&to, T value, int64_t count) {
        while (count > 0) {
            const int64_t piece = count < kInterruptStride ? count : kInterruptStride;
            for (int64_t t = 0; t < piece; ++t) to[t] = value;
            to += piece;
            count -= piece;
            done += piece;
            if (done >= kInterruptStride) {
                done = 0;
                if (InterruptRequested()) return false;
            }
        }
        return true;
    };
    for (int64_t o = 0; o < outer; ++o, in += length, out += outLength) {
        T *to = out;
        int64_t j = 0;
        for (int64_t i = 0; i < c.size; ++i) {
            const int32_t n = c.at(i);
            if (!(n < 0 ? repeat(to, fill, -static_cast<int64_t>(n)) : repeat(to, in[j++], n))) return false;
            if (++done >= kInterruptStride) {
                done = 0;
                if (InterruptRequested()) return false;
            }
        }
    }
    return true;
}

template <class T>
T FillValue(aplarray *fill, int eltype) {
    T value{};
    aplarray *cell = NewResult(0, eltype, nullptr);
    if (!cell) return value;
    if (StoreFill(cell, 0, 1, fill)) memcpy(&value, DataOf(cell), sizeof value);
    APL_UnLinkTempEx(cell, HERE);
    return value;
}

// Cells of several elements (or nested items): block copies, each of which
// looks at the interrupt flag. On an interrupt the slots written so far hold
// their links and the rest are empty, so the result can simply be released.
bool ReplicateCells(aplarray *result, const aplarray *right, const Counts &c, const AxisSplit &s, aplarray *fill) {
    int64_t p = 0;
    for (int64_t o = 0; o < s.outer; ++o) {
        int64_t j = o * s.length;
        for (int64_t i = 0; i < c.size; ++i) {
            const int64_t n = c.at(i);
            if (n < 0) {
                if (!StoreFill(result, p, -n * s.inner, fill)) return false;
                p += -n * s.inner;
                continue;
            }
            for (int64_t t = 0; t < n; ++t, p += s.inner)
                if (!CopyRun(result, p, right, j * s.inner, s.inner)) return false;
            ++j;
        }
    }
    return true;
}

aplarray *ReplicateInto(aplarray *result, const aplarray *right, const Counts &c, const AxisSplit &s, int64_t outLength,
                        aplarray *fill) {
    TempGuard guard(result);
    if (ElementCount(result) == 0) {
        if (IsNested(result)) ItemsOf(result)[0] = APL_LinkEx(fill, HERE);
        return guard.release();
    }
    if (s.inner == 1 && !IsNested(result)) {
        bool completed = false;
        switch (ElementSize(result->eltype)) {
            case 1:
                completed = ReplicateElements(DataOf<uint8_t>(result), DataOf<const uint8_t>(right), c, s.outer,
                                              s.length, outLength, FillValue<uint8_t>(fill, result->eltype));
                break;
            case 2:
                completed = ReplicateElements(DataOf<uint16_t>(result), DataOf<const uint16_t>(right), c, s.outer,
                                              s.length, outLength, FillValue<uint16_t>(fill, result->eltype));
                break;
            case 4:
                completed = ReplicateElements(DataOf<uint32_t>(result), DataOf<const uint32_t>(right), c, s.outer,
                                              s.length, outLength, FillValue<uint32_t>(fill, result->eltype));
                break;
            default:
                completed = ReplicateElements(DataOf<uint64_t>(result), DataOf<const uint64_t>(right), c, s.outer,
                                              s.length, outLength, FillValue<uint64_t>(fill, result->eltype));
                break;
        }
        return completed && !aplerrno ? guard.release() : nullptr;
    }
    return ReplicateCells(result, right, c, s, fill) ? guard.release() : nullptr;
}

// Compress of single elements by a Boolean vector: the set bits of each word
// picked out directly.
template <class T>
void CompressBits(T *out, const T *in, const uint32_t *words, int64_t begin, int64_t n) {
    for (int64_t base = begin; base < n; base += 32) {
        uint32_t bits = words[base / 32];
        if (n - base < 32) bits &= (1u << (n - base)) - 1;
        if (bits == 0xFFFFFFFFu) {
            memcpy(out, in + base, 32 * sizeof(T));
            out += 32;
            continue;
        }
        while (bits) {
            *out++ = in[base + __builtin_ctz(bits)];
            bits &= bits - 1;
        }
    }
}

int64_t CountBits(const uint32_t *words, int64_t n) {
    int64_t count = 0;
    for (int64_t base = 0; base < n; base += 32) {
        uint32_t bits = words[base / 32];
        if (n - base < 32) bits &= (1u << (n - base)) - 1;
        count += __builtin_popcount(bits);
    }
    return count;
}

// An INTG vector of zeros and ones as the words of a Boolean one; false
// when it holds any other count (nothing set) or the words cannot be had
// (WS FULL set).
bool PackedMask(const aplarray *counts, ScratchBlock<uint32_t> &words) {
    const int64_t n = counts->shape[0];
    const int32_t *c = DataOf<const int32_t>(counts);
    if (!words.AllocateZeroed((n + 31) / 32)) return false;
    uint32_t other = 0;
    for (int64_t i = 0; i < n; ++i) {
        other |= static_cast<uint32_t>(c[i]) & ~1u;
        words[i / 32] |= (static_cast<uint32_t>(c[i]) & 1u) << (i % 32);
    }
    return other == 0;
}

// A vector of zeros and ones (Boolean, or INTG as most masks arrive)
// compressing a simple array along its last axis: returns the result, or
// null with no error when the case is not this one. Every row is picked by
// the same words of the mask.
aplarray *CompressRows(const aplarray *left, const aplarray *right) {
    if ((left->eltype != APL_BOOL && left->eltype != APL_INTG) || left->rank != 1 || right->rank < 1 ||
        IsNested(right) || left->shape[0] != right->shape[right->rank - 1] || ElementSize(right->eltype) == 2)
        return nullptr;
    ScratchBlock<uint32_t> packed;
    if (left->eltype == APL_INTG && !PackedMask(left, packed)) return nullptr;
    const int64_t n = right->shape[right->rank - 1];
    const auto *words = left->eltype == APL_BOOL ? DataOf<const uint32_t>(left) : packed.get();
    const auto kept = static_cast<int32_t>(CountBits(words, n));
    int32_t shape[kMaxRank];
    std::copy(right->shape, right->shape + right->rank, shape);
    shape[right->rank - 1] = kept;
    aplarray *result = NewResult(right->rank, right->eltype, shape);
    if (!result || n == 0) return result;
    const int64_t rows = ElementCount(right) / n;
    int64_t written = 0;
    auto compress = [&](int64_t r, int64_t begin, int64_t end) {
        switch (ElementSize(right->eltype)) {
            case 1:
                CompressBits(DataOf<uint8_t>(result) + written, DataOf<const uint8_t>(right) + r * n, words, begin, end);
                break;
            case 4:
                CompressBits(DataOf<uint32_t>(result) + written, DataOf<const uint32_t>(right) + r * n, words, begin,
                             end);
                break;
            default:
                CompressBits(DataOf<uint64_t>(result) + written, DataOf<const uint64_t>(right) + r * n, words, begin,
                             end);
                break;
        }
    };
    // Long rows go in pieces of whole words (the stride is a multiple of 32),
    // each writing where the bits before it leave off; short ones whole, the
    // flag looked at by the elements done.
    StrideClock clock;
    for (int64_t r = 0; r < rows; ++r) {
        bool completed = true;
        if (n >= kInterruptStride) {
            completed = ForEachStride(n, [&](int64_t begin, int64_t end) {
                compress(r, begin, end);
                written += CountBits(words + begin / 32, end - begin);
            });
        } else {
            compress(r, 0, n);
            written += kept;
            completed = !clock.passed((r + 1) * n);
        }
        if (!completed) {
            APL_UnLinkTempEx(result, HERE);
            return nullptr;
        }
    }
    return result;
}

// ---- The primitive -------------------------------------------------------------

aplarray *Replicate(aplarray *axis, aplarray *left, aplarray *right, bool firstAxis) {
    int k = 0;
    if (!OneAxisAlong(axis, right, firstAxis, true, k)) return nullptr;
    if (left->rank >= 2) {
        SetError(APL_ERR_RANK);
        return nullptr;
    }
    if (k == right->rank - 1) {
        aplarray *fast = CompressRows(left, right);
        if (fast || aplerrno) return fast;
    }
    IntegerArgument values(left);
    if (!values.ok()) return nullptr;
    Counts c{values.data(), values.size(), false};
    const int64_t axisLength = right->rank ? right->shape[k] : 1;
    if (c.size == 1) {
        c.single = true;
        c.size = axisLength;
    }
    int64_t consumed = 0, total = 0;
    if (c.single) {
        const int64_t n = c.at(0);
        consumed = n >= 0 ? c.size : 0;
        total = (n < 0 ? -n : n) * c.size;
    }
    for (int64_t i = 0; i < c.size && !c.single; ++i) {
        if (InterruptAt(i + 1)) return nullptr;
        const int64_t n = c.at(i);
        consumed += n >= 0;
        total += n < 0 ? -n : n;
    }
    // One count for every cell, none negative: the axis stretch that the
    // scalar functions' axis form uses too.
    if (c.single && c.at(0) >= 0 && right->rank > 0) return StretchAxis(right, k, c.at(0));

    // A single cell along the axis serves every non-negative count.
    TempGuard stretched;
    const aplarray *source = right;
    if (consumed >= 2 && axisLength == 1) {
        if (right->rank == 0) {
            const auto length = static_cast<int32_t>(consumed);
            stretched.reset(APL_Shape(nullptr, MakeIntVector(&length, 1), right));
        } else {
            stretched.reset(StretchAxis(right, k, static_cast<int32_t>(consumed)));
        }
        if (!stretched.get()) return nullptr;
        source = stretched.get();
    }
    const int64_t length = source->rank ? source->shape[k] : 1;
    if (source->rank > 0 && length != consumed && length != 0) {
        SetError(APL_ERR_LENGTH);
        return nullptr;
    }
    // An empty axis that the counts do not consume gives an empty result; one
    // they consume entirely (no cell taken, fills only: 0 0 0\⍳0) keeps the
    // fills, so that the result's axis is as long as the counts say.
    const bool emptied = length == 0 && consumed != 0;
    if (emptied) total = 0;
    if (total > INT32_MAX) {
        SetError(APL_ERR_DOMAIN);
        return nullptr;
    }
    int32_t shape[kMaxRank];
    const int rank = std::max<int>(source->rank, 1);
    for (int i = 0; i < source->rank; ++i) shape[i] = source->shape[i];
    shape[k] = static_cast<int32_t>(total);
    // Our own link keeps the fill alive when a result that links it into its
    // slots is released early (an interrupt in the middle of the copies).
    aplarray *fill = prototype(right, kPrototypeTypical);
    if (!fill) return nullptr;
    fill = APL_LinkEx(fill, HERE);
    aplarray *result = NewResult(rank, source->eltype, shape);
    if (!result) {
        APL_UnLinkEx(fill, HERE);
        return nullptr;
    }
    if (emptied) c.size = 0;
    AxisSplit s = SplitAlong(source, k);
    s.length = length;
    result = ReplicateInto(result, source, c, s, total, fill);
    APL_UnLinkEx(fill, HERE);
    return result;
}

// A nested result whose items are all simple scalars of one kind (what is
// left of a mixed vector after compress, say) becomes simple, as indexing
// and take leave it.
aplarray *ReplicateKernel(CallArgs &args, bool firstAxis) {
    return SimplifyArray(Replicate(args.axis, args.left, args.right, firstAxis));
}

// Expand's left argument as counts: 1 takes the next cell, 0 (as -1) inserts
// one fill cell. DOMAIN for anything but 0 and 1 (REAL within 1e-13).
aplarray *ExpansionCounts(const aplarray *left) {
    if (IsNested(left) || left->eltype == APL_CHAR) {
        SetError(APL_ERR_DOMAIN);
        return nullptr;
    }
    aplarray *counts = NewResult(left->rank, APL_INTG, left->shape);
    if (!counts) return nullptr;
    for (int64_t i = 0; i < ElementCount(left); ++i) {
        const double x = NumberAt(left, i);
        const bool one = std::fabs(x - 1) < 1e-13;
        if (!one && !(std::fabs(x) < 1e-13)) {
            APL_UnLinkTempEx(counts, HERE);
            SetError(APL_ERR_DOMAIN);
            return nullptr;
        }
        DataOf<int32_t>(counts)[i] = one ? 1 : -1;
    }
    return counts;
}

aplarray *ExpandKernel(CallArgs &args, bool firstAxis) {
    TempGuard counts(ExpansionCounts(args.left));
    if (!counts.get()) return nullptr;
    return SimplifyArray(Replicate(args.axis, counts.get(), args.right, firstAxis));
}

constexpr Signature kReplicateSignature{Optional(kAnyType), Required(kCountTypes), Required(kStructuralTypes)};
constexpr Signature kExpandSignature{Optional(kAnyType), Required(kAnyType), Required(kStructuralTypes)};

}  // namespace

// Compress and replicate along the last axis, or the one written. Returns a
// temporary (lnkcnt 0). Consumes temporary arguments; linked ones are left as
// they were.
extern "C" aplarray *APL_Replicate(aplarray *axis, aplarray *left, aplarray *right) {
    return StandardCall(kReplicateSignature, axis, left, right,
                        [](CallArgs &args) { return ReplicateKernel(args, false); });
}

// The same along the first axis when none is written.
extern "C" aplarray *APL_Replicate1(aplarray *axis, aplarray *left, aplarray *right) {
    return StandardCall(kReplicateSignature, axis, left, right,
                        [](CallArgs &args) { return ReplicateKernel(args, true); });
}

// Expand along the last axis, or the one written. Returns a temporary (lnkcnt
// 0). Consumes temporary arguments; linked ones are left as they were.
extern "C" aplarray *APL_Expand(aplarray *axis, aplarray *left, aplarray *right) {
    return StandardCall(kExpandSignature, axis, left, right, [](CallArgs &args) { return ExpandKernel(args, false); });
}

// The same along the first axis when none is written.
extern "C" aplarray *APL_Expand1(aplarray *axis, aplarray *left, aplarray *right) {
    return StandardCall(kExpandSignature, axis, left, right, [](CallArgs &args) { return ExpandKernel(args, true); });
}
