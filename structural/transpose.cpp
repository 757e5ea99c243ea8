// transpose: APL_Transpose, monadic (axes reversed) and dyadic (axes moved
// as the left argument says, repeated axes selecting diagonals). Relies on
// the array core, the cells and IO in the symbol table.
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

// Strips of this many positions along the axis that is contiguous in the
// argument: one column of a strip reads neighbouring elements (a cache line
// or two), and the writes run along as many result rows at once.
template <class T>
constexpr int64_t kStrip = 64 / sizeof(T) < 16 ? 64 / sizeof(T) : 16;
// Columns per pass over a strip: the lines that the first row of the strip
// brings in stay in the first-level cache for the other rows.
template <class T>
constexpr int64_t kStripColumns = 256;

// Where each result axis reads from: its length and its stride in the ravel of
// the argument (the sum of the strides of the argument axes mapped to it).
struct Mapping {
    int rank = 0;
    int32_t length[kMaxRank];
    int64_t stride[kMaxRank];
};

// Fills `m` from the 0-based target axis of each argument axis; DOMAIN for a
// target outside the rank or a result axis that no argument axis reaches.
bool MapAxes(const aplarray *right, const int64_t *target, Mapping &m) {
    const int rank = right->rank;
    bool used[kMaxRank] = {};
    int64_t length[kMaxRank];
    int64_t stride = 1;
    for (int t = 0; t < rank; ++t) {
        m.stride[t] = 0;
        length[t] = INT32_MAX;
    }
    for (int i = rank - 1; i >= 0; --i) {
        const int64_t t = target[i];
        if (t < 0 || t >= rank) {
            SetError(APL_ERR_DOMAIN);
            return false;
        }
        used[t] = true;
        length[t] = std::min<int64_t>(length[t], right->shape[i]);
        m.stride[t] += stride;
        stride *= right->shape[i];
    }
    m.rank = 1 + static_cast<int>(*std::max_element(target, target + rank));
    for (int t = 0; t < m.rank; ++t) {
        if (!used[t]) {
            SetError(APL_ERR_DOMAIN);
            return false;
        }
        m.length[t] = static_cast<int32_t>(length[t]);
    }
    return true;
}

// Which result axes the gather walks how: `last` is the last result axis
// (contiguous in the result), `near` the one closest to contiguous in the
// argument, walked in strips when it is not the last.
struct Walk {
    int last, near;
    int64_t resultStride[kMaxRank];
};

Walk PlanWalk(const Mapping &m) {
    Walk w;
    w.last = m.rank - 1;
    w.near = w.last;
    for (int t = 0; t < m.rank; ++t)
        if (m.stride[t] < m.stride[w.near]) w.near = t;
    int64_t stride = 1;
    for (int t = m.rank - 1; t >= 0; --t) {
        w.resultStride[t] = stride;
        stride *= m.length[t];
    }
    return w;
}

// The elements of one setting of the other axes: every position along `near`
// and along the last axis. One block can be the whole result (a matrix), so
// the interrupt flag is looked at by the elements done, counted in `done`;
// false on interrupt.
template <class T>
bool GatherBlock(T *out, const T *in, const Mapping &m, const Walk &w, StrideClock &clock, int64_t &done) {
    const int64_t columns = m.length[w.last], columnStride = m.stride[w.last];
    if (w.near == w.last) {
        for (int64_t c0 = 0; c0 < columns; c0 += kInterruptStride) {
            if (clock.passed(done)) return false;
            const int64_t c1 = std::min(columns, c0 + kInterruptStride);
            for (int64_t c = c0; c < c1; ++c) out[c] = in[c * columnStride];
            done += c1 - c0;
        }
        return true;
    }
    const int64_t rows = m.length[w.near], rowStride = m.stride[w.near], outRow = w.resultStride[w.near];
    for (int64_t r0 = 0; r0 < rows; r0 += kStrip<T>) {
        const int64_t r1 = std::min(rows, r0 + kStrip<T>);
        for (int64_t c0 = 0; c0 < columns; c0 += kStripColumns<T>) {
            if (clock.passed(done)) return false;
            const int64_t c1 = std::min(columns, c0 + kStripColumns<T>);
            for (int64_t r = r0; r < r1; ++r) {
                const T *from = in + r * rowStride;
                T *to = out + r * outRow;
                for (int64_t c = c0; c < c1; ++c) to[c] = from[c * columnStride];
            }
            done += (r1 - r0) * (c1 - c0);
        }
    }
    return true;
}

// The whole result: an odometer over the axes that are neither `near` nor the
// last, one block per setting. False on interrupt.
template <class T>
bool Gather(T *out, const T *in, const Mapping &m) {
    const Walk w = PlanWalk(m);
    int64_t counter[kMaxRank] = {};
    int64_t from = 0, to = 0, done = 0;
    StrideClock clock;
    for (;;) {
        if (!GatherBlock(out + to, in + from, m, w, clock, done)) return false;
        int j = m.rank - 1;
        for (; j >= 0; --j) {
            if (j == w.last || j == w.near) continue;
            from += m.stride[j];
            to += w.resultStride[j];
            if (++counter[j] < m.length[j]) break;
            from -= m.length[j] * m.stride[j];
            to -= m.length[j] * w.resultStride[j];
            counter[j] = 0;
        }
        if (j < 0) return true;
    }
}

bool GatherAny(aplarray *result, const aplarray *right, const Mapping &m) {
    switch (ElementSize(right->eltype)) {
        case 1: return Gather(DataOf<uint8_t>(result), DataOf<const uint8_t>(right), m);
        case 2: return Gather(DataOf<uint16_t>(result), DataOf<const uint16_t>(right), m);
        case 4: return Gather(DataOf<uint32_t>(result), DataOf<const uint32_t>(right), m);
        case 8: return Gather(DataOf<uint64_t>(result), DataOf<const uint64_t>(right), m);
        default: SetError(APL_ERR_SYSTEM); return false;
    }
}

// Returns a new temporary; borrows the argument (items linked once more).
aplarray *Transpose(const aplarray *right, const int64_t *target) {
    Mapping m;
    if (!MapAxes(right, target, m)) return nullptr;
    TempGuard result(NewResult(m.rank, right->eltype, m.length));
    if (!result.get()) return nullptr;
    const int64_t n = ElementCount(result.get());
    if (n == 0) {
        if (IsNested(right)) ItemsOf(result.get())[0] = APL_LinkEx(SlotAt(right, 0), HERE);
        return result.release();
    }
    if (!GatherAny(result.get(), right, m)) {
        // The slots hold unlinked copies of the argument's items: give them up unlinked.
        if (IsNested(right)) memset(DataOf(result.get()), 0, sizeof(aplarray *) * static_cast<size_t>(n));
        return nullptr;
    }
    if (IsNested(right) && !LinkSlots(ItemsOf(result.get()), n)) return nullptr;
    return result.release();
}

aplarray *TransposeKernel(CallArgs &args) {
    if (args.axis) {
        SetError(APL_ERR_AXIS);
        return nullptr;
    }
    aplarray *right = args.right;
    int64_t target[kMaxRank];
    if (!args.left) {
        if (right->rank <= 1) return right;
        for (int i = 0; i < right->rank; ++i) target[i] = right->rank - 1 - i;
        return Transpose(right, target);
    }
    if (args.left->rank >= 2) {
        SetError(APL_ERR_RANK);
        return nullptr;
    }
    if (ElementCount(args.left) != right->rank) {
        SetError(APL_ERR_LENGTH);
        return nullptr;
    }
    IntegerArgument axes(args.left);
    if (!axes.ok()) return nullptr;
    if (right->rank == 0) return right;
    const int64_t origin = IndexOrigin();
    for (int i = 0; i < right->rank; ++i) target[i] = axes[i] - origin;
    return Transpose(right, target);
}

}  // namespace

// Returns a temporary (lnkcnt 0), or the right argument (a scalar, or a vector
// transposed monadically). Consumes temporary arguments; linked ones are left
// as they were.
extern "C" aplarray *APL_Transpose(aplarray *axis, aplarray *left, aplarray *right) {
    return StandardCall({Optional(kAnyType), Optional(kNumeric), Required(kStructuralTypes)}, axis, left, right,
                        TransposeKernel);
}
