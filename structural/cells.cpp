// cells: what the structural primitives (catenate, take, replicate, rotate,
// transpose) share: new results, the split of an array along an axis, runs of
// elements with their items linked, the stretch along one axis, fill
// elements, axes and integer arguments.
#include "structural/cells.h"

#include "core/eltypes.h"
#include "core/errors.h"
#include "core/symtab.h"

#include <algorithm>
#include <cmath>

aplarray *NewResult(int rank, int eltype, const int32_t *shape) {
    const int kind = eltype == APL_NESTED ? APL_NESTEDARRAY : APL_SIMPLE;
    return AllocArray(kind | APL_TEMP, rank, eltype, shape, HERE);
}

AxisSplit SplitAlong(const aplarray *array, int k) {
    AxisSplit split;
    if (array->rank == 0) return split;
    for (int i = 0; i < k; ++i) split.outer *= array->shape[i];
    split.length = array->shape[k];
    for (int i = k + 1; i < array->rank; ++i) split.inner *= array->shape[i];
    return split;
}

bool LinkSlots(aplarray **first, int64_t count) {
    int64_t linked = 0;
    const bool done = ForEachStride(count, [first, &linked](int64_t begin, int64_t end) {
        for (int64_t i = begin; i < end; ++i) first[i] = APL_LinkEx(first[i], HERE);
        linked = end;
    });
    if (!done) memset(first + linked, 0, sizeof(aplarray *) * static_cast<size_t>(count - linked));
    return done;
}

bool CopyRun(aplarray *target, int64_t to, const aplarray *source, int64_t from, int64_t count) {
    if (count <= 0) return true;
    const size_t size = ElementSize(source->eltype);
    char *out = DataOf<char>(target) + size * static_cast<size_t>(to);
    const char *in = DataOf<const char>(source) + size * static_cast<size_t>(from);
    const bool nested = IsNested(target);
    return ForEachStride(count, [&](int64_t begin, int64_t end) {
        memcpy(out + size * static_cast<size_t>(begin), in + size * static_cast<size_t>(begin),
               size * static_cast<size_t>(end - begin));
        if (!nested) return;
        aplarray **slots = reinterpret_cast<aplarray **>(out) + begin;
        for (int64_t i = 0; i < end - begin; ++i) slots[i] = APL_LinkEx(slots[i], HERE);
    });
}

namespace {

template <class T>
void FillWith(aplarray *target, int64_t to, int64_t count, T value) {
    T *out = DataOf<T>(target) + to;
    std::fill(out, out + count, value);
}

}  // namespace

bool StoreFill(aplarray *target, int64_t to, int64_t count, aplarray *fill) {
    if (count <= 0) return true;
    if (IsNested(target)) {
        aplarray **slots = ItemsOf(target) + to;
        return ForEachStride(count, [slots, fill](int64_t begin, int64_t end) {
            for (int64_t i = begin; i < end; ++i) slots[i] = APL_LinkEx(fill, HERE);
        });
    }
    // The fill's own value when it is a number for a numeric target or a
    // character for a CHAR one; otherwise the target type's blank or zero.
    const bool fillNumeric = fill && !IsNested(fill) && fill->eltype != APL_CHAR && ElementCount(fill) > 0;
    const double number = fillNumeric ? NumberAt(fill, 0) : 0.0;
    const bool fillChar = fill && fill->eltype == APL_CHAR && ElementCount(fill) > 0;
    const char blank = fillChar ? *DataOf<const char>(fill) : ' ';
    return ForEachStride(count, [&](int64_t begin, int64_t end) {
        switch (target->eltype) {
            case APL_CHAR: FillWith<char>(target, to + begin, end - begin, blank); break;
            case APL_INTG: FillWith<int32_t>(target, to + begin, end - begin, static_cast<int32_t>(number)); break;
            case APL_REAL: FillWith<double>(target, to + begin, end - begin, number); break;
            case APL_SHORT: FillWith<int16_t>(target, to + begin, end - begin, static_cast<int16_t>(number)); break;
            default: break;
        }
    });
}

int64_t NearInteger(double x) {
    constexpr double kFar = 4e18;
    if (!(x > -kFar)) return static_cast<int64_t>(-kFar);
    if (x > kFar) return static_cast<int64_t>(kFar);
    return std::llround(x);
}

double NumberAt(const aplarray *array, int64_t i) {
    switch (array->eltype) {
        case APL_INTG: return DataOf<const int32_t>(array)[i];
        case APL_REAL: return DataOf<const double>(array)[i];
        case APL_SHORT: return DataOf<const int16_t>(array)[i];
        case APL_BOOL: {
            const int64_t row = RowLength(array);
            const uint32_t word = DataOf<const uint32_t>(array)[i / row * ((row + 31) / 32) + i % row / 32];
            return (word >> (i % row % 32)) & 1u;
        }
        default: return 0;
    }
}

IntegerArgument::IntegerArgument(const aplarray *array) {
    count_ = ElementCount(array);
    if (IsNested(array) || array->eltype == APL_CHAR) {
        SetError(APL_ERR_DOMAIN);
        return;
    }
    if (count_ == 0) {
        ok_ = true;
        return;
    }
    if (array->eltype == APL_INTG) {
        values_ = DataOf<int32_t>(array);
        ok_ = true;
        return;
    }
    owned_ = static_cast<int32_t *>(AllocBlock(static_cast<size_t>(count_) * sizeof(int32_t), HERE));
    if (!owned_) {
        SetError(APL_ERR_WSFULL);
        return;
    }
    values_ = owned_;
    for (int64_t i = 0; i < count_; ++i) {
        const double x = NumberAt(array, i);
        // The same acceptance as the integer view of REAL data: within 1e-13.
        const double near = std::floor(x + 1e-13);
        if (!(std::fabs(x - near) < 1e-13) || near < -2147483648.0 || near > 2147483647.0) {
            SetError(APL_ERR_DOMAIN);
            return;
        }
        owned_[i] = static_cast<int32_t>(near);
    }
    ok_ = true;
}

IntegerArgument::~IntegerArgument() {
    if (owned_) FreeBlock(owned_, HERE);
}

bool ReadAxisArgument(const aplarray *axis, AxisArgument &out) {
    const aplarray *values = axis;
    bool nested = false;
    if (IsNested(axis)) {
        if (axis->number != 1 || !SlotAt(axis, 0) || IsNested(SlotAt(axis, 0))) return false;
        values = SlotAt(axis, 0);
        nested = true;
    }
    out = AxisArgument{};
    out.values = values;
    out.nested = nested;
    out.count = ElementCount(values);
    out.numeric = values->eltype != APL_CHAR;
    out.integral = out.numeric;
    for (int64_t i = 0; out.numeric && i < out.count; ++i) {
        const double x = NumberAt(values, i);
        if (i == 0) out.first = x;
        const double near = std::floor(x + 1e-13);
        if (!(std::fabs(x - near) < 1e-13)) out.integral = false;
    }
    return true;
}

bool OneAxisAlong(const aplarray *axis, const aplarray *right, bool firstAxis, bool scalarAxis, int &k) {
    if (!axis) {
        if (firstAxis && !APL_Variable(sys_IO_idx)) {
            SetError(APL_ERR_VALUE);
            return false;
        }
        k = firstAxis || right->rank == 0 ? 0 : right->rank - 1;
        return true;
    }
    AxisArgument a;
    if (!ReadAxisArgument(axis, a) || !a.integral || a.count != 1) {
        SetError(APL_ERR_AXIS);
        return false;
    }
    const int64_t at = NearInteger(a.first) - IndexOrigin();
    const int64_t axes = scalarAxis ? std::max<int64_t>(right->rank, 1) : right->rank;
    if (at < 0 || at >= axes) {
        SetError(APL_ERR_AXIS);
        return false;
    }
    k = static_cast<int>(at);
    return true;
}

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
    aplarray *result = NewResult(array->rank, array->eltype, shape);
    if (!result) return nullptr;

    int64_t outer = 1, inner = 1;
    for (int i = 0; i < axis; ++i) outer *= array->shape[i];
    for (int i = axis + 1; i < array->rank; ++i) inner *= array->shape[i];

    if (ElementCount(result) == 0) {
        // An empty nested result keeps a fill item: the source's first item,
        // or its own prototype when it is empty itself.
        if (IsNested(result)) ItemsOf(result)[0] = APL_LinkEx(SlotAt(array, 0), HERE);
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
    if (IsNested(result)) {
        // Linking a static item yields a managed copy, which takes its slot;
        // after an interrupt the raw copies belong to someone else.
        const int64_t n = ElementCount(result);
        if (!copied) memset(static_cast<void *>(ItemsOf(result)), 0, sizeof(aplarray *) * static_cast<size_t>(n));
        if (copied && LinkSlots(ItemsOf(result), n)) return result;
    } else if (copied) {
        return result;
    }
    APL_UnLinkTempEx(result, HERE);
    return nullptr;
}
