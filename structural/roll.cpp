// roll: random numbers, roll (monadic ?) and deal (dyadic ?), drawn from the
// multiplicative congruential generator whose state is the random link RL.
// Relies on the array core, the standard wrapper and RL and IO in the symbol table.
#include "structural/roll.h"

#include "core/arrays.h"
#include "core/eltypes.h"
#include "core/errors.h"
#include "core/glyphs.h"
#include "core/symtab.h"
#include "core/wrapper.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Bounds of REAL roll arguments: integers are exact up to here.
constexpr double kLargestRealBound = 9007199254740992.0;  // 2^53
// A REAL argument this close (relatively) to an integer is that integer.
constexpr double kIntegerFuzz = 1e-13;

// The random link, from RL: DOMAIN with the allowed range when it is anything
// but an integer the generator can run on (0 would stay 0 for ever).
bool ReadRandomLink(RandomGenerator &generator) {
    const aplarray *value = IsSymbol(sys_RL_idx) ? APL_Variable(sys_RL_idx) : nullptr;
    const double link = value ? FirstNumber(value, -1) : kRandomLinkStart;
    if (!(link >= 1 && link < kRandomModulus) || link != std::floor(link)) {
        SetErrorText(APL_ERR_DOMAIN, "%cRL allowed values : 1 ... %ld", glyph::kQuad,
                     static_cast<long>(kRandomModulus - 1));
        return false;
    }
    generator.state = static_cast<uint64_t>(link);
    return true;
}

bool StoreRandomLink(const RandomGenerator &generator) {
    aplarray *value = MakeInt(static_cast<int32_t>(generator.state));
    if (!value) return false;
    SetSymbolValue(sys_RL_idx, value);
    return true;
}

// ---- Roll ------------------------------------------------------------------------

bool IntegralBound(double n, double &bound) {
    const double r = std::round(n);
    if (!(std::fabs(n - r) <= kIntegerFuzz * std::fmax(1.0, std::fabs(n)))) return false;
    bound = r;
    return r >= 0 && r <= kLargestRealBound;
}

// Rolls every element of a simple INTG or REAL array into `out` (same type).
// False with DOMAIN for a negative or non-integral bound, or with INTERRUPT.
bool RollSimple(const aplarray *right, aplarray *out, RandomGenerator &generator) {
    const int64_t n = right->number;
    const int32_t offset = IndexOrigin() - 1;
    if (right->eltype == APL_INTG) {
        const int32_t *bounds = DataOf<int32_t>(right);
        int32_t smallest = 0;
        for (int64_t i = 0; i < n; ++i) smallest = bounds[i] < smallest ? bounds[i] : smallest;
        if (smallest < 0) {
            SetError(APL_ERR_DOMAIN);
            return false;
        }
        int32_t *values = DataOf<int32_t>(out);
        for (int64_t from = 0; from < n; from += kInterruptStride) {
            const int64_t to = from + kInterruptStride < n ? from + kInterruptStride : n;
            for (int64_t i = from; i < to; ++i) values[i] = static_cast<int32_t>(generator.Draw(bounds[i])) + offset;
            if (to < n && InterruptRequested()) return false;
        }
        return true;
    }
    const double *bounds = DataOf<double>(right);
    double *values = DataOf<double>(out);
    for (int64_t i = 0; i < n; ++i) {
        double bound;
        if (!IntegralBound(bounds[i], bound)) {
            SetError(APL_ERR_DOMAIN);
            return false;
        }
        values[i] = generator.Draw(bound) + offset;
        if ((i + 1) % kInterruptStride == 0 && InterruptRequested()) return false;
    }
    return true;
}

aplarray *RollArray(aplarray *right, RandomGenerator &generator, int depth);

// Rolls the items of a nested array one by one, in ravel order. An empty
// array keeps its prototype: nothing is drawn for it.
aplarray *RollNested(aplarray *right, RandomGenerator &generator, int depth) {
    TempGuard result(AllocArray(APL_NESTEDARRAY | APL_TEMP, right->rank, APL_NESTED, right->shape, HERE));
    if (!result.get()) return nullptr;
    aplarray **in = ItemsOf(right);
    aplarray **out = ItemsOf(result.get());
    if (right->number == 0) {
        out[0] = APL_LinkEx(in[0], HERE);
        return result.release();
    }
    for (int32_t i = 0; i < right->number; ++i) {
        aplarray *item = RollArray(in[i], generator, depth + 1);
        if (!item) return nullptr;
        out[i] = APL_LinkEx(item, HERE);
    }
    return result.release();
}

// Borrows `right`; returns a new temporary of its shape, or null with the error set.
aplarray *RollArray(aplarray *right, RandomGenerator &generator, int depth) {
    if (depth > kMaxNestingDepth) {
        SetError(APL_ERR_LIMIT);
        return nullptr;
    }
    if (!right || right->eltype == APL_CHAR) {
        SetError(APL_ERR_DOMAIN);
        return nullptr;
    }
    if (IsNested(right)) return RollNested(right, generator, depth);
    // Items of nested arrays may still be BOOL or SHORT.
    TempGuard numbers(ConvertType(right, APL_INTG | APL_REAL));
    if (aplerrno) return nullptr;
    const aplarray *in = numbers.get();
    TempGuard result(AllocArray(APL_SIMPLE | APL_TEMP, in->rank, in->eltype, in->shape, HERE));
    if (!result.get() || !RollSimple(in, result.get(), generator)) return nullptr;
    return result.release();
}

aplarray *Roll(aplarray *right) {
    RandomGenerator generator;
    if (right->number > 0 && !ReadRandomLink(generator)) return nullptr;
    aplarray *result = RollArray(right, generator, 0);
    if (result && right->number > 0 && !StoreRandomLink(generator)) {
        APL_UnLinkTempEx(result, HERE);
        return nullptr;
    }
    return result;
}

// ---- Deal --------------------------------------------------------------------------

// One argument of deal as a non-negative integer; false with the error set.
bool DealArgument(aplarray *a, int64_t &value) {
    if (a->eltype == APL_CHAR || IsNested(a)) {
        SetError(APL_ERR_DOMAIN);
        return false;
    }
    if (ElementCount(a) != 1) {
        SetError(APL_ERR_LENGTH);
        return false;
    }
    if (a->rank >= 2) {
        SetError(APL_ERR_RANK);
        return false;
    }
    int32_t *data = nullptr;
    const bool owned = IntegerData(a, &data);
    if (!data) {
        if (!aplerrno) SetError(APL_ERR_DOMAIN);
        return false;
    }
    value = data[0];
    if (owned) FreeBlock(data, HERE);
    if (value < 0) {
        SetError(APL_ERR_DOMAIN);
        return false;
    }
    return true;
}

aplarray *Deal(aplarray *left, aplarray *right) {
    int64_t count = 0, range = 0;
    if (!DealArgument(left, count) || !DealArgument(right, range)) return nullptr;
    if (count > range) {
        SetError(APL_ERR_DOMAIN);
        return nullptr;
    }
    RandomGenerator generator;
    if (count > 0 && !ReadRandomLink(generator)) return nullptr;
    const int32_t length = static_cast<int32_t>(count);
    TempGuard result(AllocArray(APL_SIMPLE | APL_TEMP, 1, APL_INTG, &length, HERE));
    if (!result.get()) return nullptr;
    if (!DealInto(DataOf<int32_t>(result.get()), count, range, IndexOrigin(), generator)) return nullptr;
    if (count > 0 && !StoreRandomLink(generator)) return nullptr;
    return result.release();
}

// ---- Tables for deal ---------------------------------------------------------------

// Open addressing over a power-of-two number of slots in one raw block.
template <class Slot>
struct HashSlots {
    Slot *slots = nullptr;
    uint64_t mask = 0;
    // Room for `entries` at most half full; false with WS FULL.
    bool Allocate(int64_t entries) {
        uint64_t capacity = 16;
        while (capacity < static_cast<uint64_t>(entries) * 2) capacity *= 2;
        const uint64_t bytes = capacity * sizeof(Slot);
        if (bytes > INT32_MAX) {
            SetError(APL_ERR_WSFULL);
            return false;
        }
        slots = static_cast<Slot *>(AllocBlock(static_cast<size_t>(bytes), HERE));
        if (!slots) {
            SetError(APL_ERR_WSFULL);
            return false;
        }
        mask = capacity - 1;
        return true;
    }
    ~HashSlots() { FreeBlock(slots, HERE); }
    uint64_t Home(uint32_t key) const { return (static_cast<uint64_t>(key) * 0x9E3779B97F4A7C15ull >> 20) & mask; }
};

// The values that have been moved in the deal table, position -> value.
struct MovedEntries : HashSlots<int64_t> {
    static constexpr int64_t kEmpty = -1;
    bool Allocate(int64_t entries) {
        if (!HashSlots::Allocate(entries)) return false;
        int64_t *all = slots;
        return ForEachStride(static_cast<int64_t>(mask) + 1,
                             [all](int64_t begin, int64_t end) { std::fill(all + begin, all + end, kEmpty); });
    }
    // Slot of the position: either the position's entry or an empty one.
    int64_t &Find(uint32_t position) {
        for (uint64_t i = Home(position);; i = (i + 1) & mask)
            if (slots[i] == kEmpty || static_cast<uint32_t>(slots[i] >> 32) == position) return slots[i];
    }
    static int64_t Pack(uint32_t position, uint32_t value) { return static_cast<int64_t>(position) << 32 | value; }
};

// The picks so far of redrawing deal; draws (1 ... range) stored as themselves.
struct PickSet : HashSlots<uint32_t> {
    bool Allocate(int64_t entries) {
        if (!HashSlots::Allocate(entries)) return false;
        memset(slots, 0, static_cast<size_t>(mask + 1) * sizeof(uint32_t));
        return true;
    }
    // Inserts the draw; false when it was there already.
    bool Insert(uint32_t draw) {
        for (uint64_t i = Home(draw);; i = (i + 1) & mask) {
            if (slots[i] == draw) return false;
            if (slots[i] == 0) {
                slots[i] = draw;
                return true;
            }
        }
    }
};

// The table method with the whole table: position j holds origin + j until moved.
bool DealDense(int32_t *out, int64_t count, int64_t range, int32_t origin, RandomGenerator &generator) {
    const uint64_t bytes = static_cast<uint64_t>(range) * sizeof(int32_t);
    int32_t *table =
        bytes <= INT32_MAX ? static_cast<int32_t *>(AllocBlock(static_cast<size_t>(bytes ? bytes : 4), HERE)) : nullptr;
    if (!table) {
        SetError(APL_ERR_WSFULL);
        return false;
    }
    const bool filled = ForEachStride(range, [table, origin](int64_t begin, int64_t end) {
        for (int64_t j = begin; j < end; ++j) table[j] = static_cast<int32_t>(origin + j);
    });
    if (!filled) {
        FreeBlock(table, HERE);
        return false;
    }
    int64_t left = range;
    for (int64_t i = 0; i < count; ++i, --left) {
        const int64_t j = static_cast<int64_t>(generator.Draw(static_cast<double>(left))) - 1;
        out[i] = table[j];
        table[j] = table[left - 1];
        if ((i + 1) % kInterruptStride == 0 && InterruptRequested()) break;
    }
    FreeBlock(table, HERE);
    return !aplerrno;
}

// The same picks with only the moved positions stored.
bool DealSparse(int32_t *out, int64_t count, int64_t range, int32_t origin, RandomGenerator &generator) {
    MovedEntries moved;
    if (!moved.Allocate(count)) return false;
    auto valueAt = [&](uint32_t position, int64_t &slot) -> uint32_t {
        int64_t &entry = moved.Find(position);
        slot = &entry - moved.slots;
        return entry == MovedEntries::kEmpty ? static_cast<uint32_t>(origin + position) : static_cast<uint32_t>(entry);
    };
    int64_t left = range;
    for (int64_t i = 0; i < count; ++i, --left) {
        const uint32_t j = static_cast<uint32_t>(generator.Draw(static_cast<double>(left)) - 1);
        int64_t pickSlot, lastSlot;
        const uint32_t pick = valueAt(j, pickSlot);
        const uint32_t last = valueAt(static_cast<uint32_t>(left - 1), lastSlot);
        out[i] = static_cast<int32_t>(pick);
        // Every pick adds at most one entry, so the table never fills.
        moved.slots[pickSlot] = MovedEntries::Pack(j, last);
        if ((i + 1) % kInterruptStride == 0 && InterruptRequested()) return false;
    }
    return true;
}

bool DealByRedrawing(int32_t *out, int64_t count, int64_t range, int32_t origin, RandomGenerator &generator) {
    PickSet picks;
    if (!picks.Allocate(count)) return false;
    for (int64_t i = 0; i < count; ++i) {
        uint32_t draw;
        do draw = static_cast<uint32_t>(generator.Draw(static_cast<double>(range)));
        while (!picks.Insert(draw));
        out[i] = static_cast<int32_t>(draw + origin - 1);
    }
    return true;
}

}  // namespace

bool DealInto(int32_t *out, int64_t count, int64_t range, int32_t origin, RandomGenerator &generator) {
    if (count == 0) return true;
    if (2 * std::sqrt(static_cast<double>(range)) > static_cast<double>(count))
        return DealByRedrawing(out, count, range, origin, generator);
    // The whole table costs 4 bytes per value of the range: worth it while the
    // range is small or not much larger than the picks.
    if (range <= kDenseDealRange || range <= 8 * count) return DealDense(out, count, range, origin, generator);
    return DealSparse(out, count, range, origin, generator);
}

bool DealSparseInto(int32_t *out, int64_t count, int64_t range, int32_t origin, RandomGenerator &generator) {
    return DealSparse(out, count, range, origin, generator);
}

bool DealDenseInto(int32_t *out, int64_t count, int64_t range, int32_t origin, RandomGenerator &generator) {
    return DealDense(out, count, range, origin, generator);
}

// Roll (monadic) and deal (dyadic). Returns a temporary. Consumes temporary
// arguments; linked ones are left as they were.
extern "C" aplarray *APL_Roll(aplarray *axis, aplarray *left, aplarray *right) {
    constexpr int kAdmitted = APL_CHAR | APL_INTG | APL_REAL | APL_NESTED;
    constexpr Signature kSignature{Optional(kAnyType), Optional(kAdmitted), Optional(kAdmitted)};
    return StandardCall(kSignature, axis, left, right, [](CallArgs &args) -> aplarray * {
        if (args.axis) {
            SetError(APL_ERR_AXIS);
            return nullptr;
        }
        if (!args.right) {
            SetError(APL_ERR_SYNTAX);
            return nullptr;
        }
        return args.left ? Deal(args.left, args.right) : Roll(args.right);
    });
}
