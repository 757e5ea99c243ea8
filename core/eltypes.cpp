// eltypes: element types and the conversions between them, the integer view
// of numeric data, and the passage between nested scalars and simple arrays.
// Relies on the array core, the standard wrapper, and CT in the symbol table.
#include "core/eltypes.h"

#include "core/arrays.h"
#include "core/errors.h"
#include "core/symtab.h"
#include "core/wrapper.h"

#include <cmath>
#include <cstring>

namespace {

// Tolerance of the integer view and of SHORT: fixed, unlike CT.
constexpr double kFixedTolerance = 1e-13;

// Element i of data that may belong to a static record, which is only 4-byte
// aligned; the copy compiles to a plain unaligned load.
template <class T>
inline T Load(const void *data, int64_t i) {
    T value;
    memcpy(&value, static_cast<const char *>(data) + i * static_cast<int64_t>(sizeof(T)), sizeof(T));
    return value;
}

// Borrowed: the item keeps only the parent's link.
inline aplarray *ItemAt(const aplarray *array, int64_t i) { return Load<aplarray *>(DataOf(array), i); }

// Returns a new temporary simple array with the rank and shape of `like`.
aplarray *AllocLike(const aplarray *like, int eltype) {
    return AllocArray(APL_SIMPLE | APL_TEMP, like->rank, eltype, like->shape, HERE);
}

// ---- BOOL rows ---------------------------------------------------------------
// Every row (last axis) starts on a fresh word so that row-wise loops can work
// a word at a time; element 32w+i of a row is bit i of the row's word w.

struct BoolRows {
    int64_t rows;
    int64_t length;  // elements per row
    int64_t words;   // words per row
};

BoolRows RowsOf(const aplarray *a) {
    const int64_t length = RowLength(a);
    const int64_t count = ElementCount(a);
    if (length == 0 || count == 0) return {0, length, 0};
    return {count / length, length, (length + 31) / 32};
}

// Element i (in row-major order) of a BOOL array, as 0 or 1.
uint32_t BoolAt(const aplarray *a, int64_t i) {
    const int64_t length = RowLength(a);
    const int64_t row = i / length, column = i % length;
    const uint32_t word = Load<uint32_t>(DataOf(a), row * ((length + 31) / 32) + column / 32);
    return (word >> (column % 32)) & 1u;
}

// Bit b of a word. Masks from a table rather than shifts by the lane's own
// count, which plain SSE2 cannot vectorise.
constexpr auto kBit = [] {
    struct Table {
        uint32_t bit[32];
    } t{};
    for (int b = 0; b < 32; ++b) t.bit[b] = 1u << b;
    return t;
}();

// Spreads one row of words into 0/1 values; bits past the row length are
// never read, whatever they hold.
template <class T>
void UnpackRow(T *out, const void *words, int64_t firstWord, int64_t length) {
    const int64_t full = length / 32;
    for (int64_t w = 0; w < full; ++w) {
        const uint32_t word = Load<uint32_t>(words, firstWord + w);
        T *o = out + 32 * w;
        for (int b = 0; b < 32; ++b) o[b] = (word & kBit.bit[b]) ? 1 : 0;
    }
    const int rest = static_cast<int>(length % 32);
    if (rest == 0) return;
    const uint32_t word = Load<uint32_t>(words, firstWord + full);
    for (int b = 0; b < rest; ++b) out[32 * full + b] = (word & kBit.bit[b]) ? 1 : 0;
}

// Packs one row, non-zero as 1; the unused high bits of the last word are
// written as 0 so that whole-word kernels may compare words directly.
template <class T>
void PackRow(uint32_t *out, const T *in, int64_t length) {
    const int64_t full = length / 32;
    for (int64_t w = 0; w < full; ++w) {
        const T *v = in + 32 * w;
        uint32_t word = 0;
        for (int b = 0; b < 32; ++b) word |= v[b] != 0 ? kBit.bit[b] : 0;
        out[w] = word;
    }
    const int rest = static_cast<int>(length % 32);
    if (rest == 0) return;
    uint32_t word = 0;
    for (int b = 0; b < rest; ++b) word |= in[32 * full + b] != 0 ? kBit.bit[b] : 0;
    out[full] = word;
}

// ---- Element loops -------------------------------------------------------------

// Exact widening, element by element.
template <class To, class From>
void Widen(To *__restrict out, const void *__restrict in, int64_t n) {
    for (int64_t i = 0; i < n; ++i) out[i] = static_cast<To>(Load<From>(in, i));
}

// Narrowing that may refuse elements: `narrow(x, value)` says whether x is
// accepted and stores what to keep. Every element is examined; returns
// whether all were accepted.
template <class To, class From, class Narrow>
bool NarrowAll(To *__restrict out, const void *__restrict in, int64_t n, Narrow narrow) {
    bool accepted = true;
    for (int64_t i = 0; i < n; ++i) {
        double value;
        accepted &= narrow(Load<From>(in, i), value);
        out[i] = static_cast<To>(value);
    }
    return accepted;
}

// x within the fixed tolerance of an integer in [low, high]; `value` gets that
// integer, or 0 for a refused x (so that the store never overflows).
inline bool FixedNearInteger(double x, double low, double high, double &value) {
    const bool near = x - std::floor(x) < kFixedTolerance || std::ceil(x) - x < kFixedTolerance;
    const double v = std::floor(x + kFixedTolerance);
    const bool accepted = near && v >= low && v <= high;
    value = accepted ? v : 0.0;
    return accepted;
}

inline bool InRange(double x, double low, double high, double &value) {
    const bool accepted = x >= low && x <= high;
    value = accepted ? x : 0.0;
    return accepted;
}

// The shared frame of the four converters: checks the source type, fills a
// new array of type `to` with `body(result, sourceData)` (false: refused,
// error set) and releases the argument in every case.
template <class Body>
aplarray *Convert(aplarray *array, int from, int to, Body body) {
    if (!array || array->eltype != from) {
        SetError(APL_ERR_DOMAIN);
        APL_UnLinkTempEx(array, HERE);
        return nullptr;
    }
    aplarray *result = AllocLike(array, to);
    if (result && !body(result, static_cast<const void *>(DataOf(array)))) {
        APL_UnLinkTempEx(result, HERE);
        result = nullptr;
    }
    APL_UnLinkTempEx(array, HERE);
    return result;
}

// ---- Kernels of BOOL, SHORT and REAL ------------------------------------------
// They borrow the argument, which the wrapper holds linked (a managed copy if it
// was static), and return a new temporary or the argument itself.

// Returns a new temporary BOOL array of the same shape.
aplarray *PackIntegers(const aplarray *a) {
    aplarray *result = AllocLike(a, APL_BOOL);
    if (!result) return nullptr;
    const BoolRows g = RowsOf(a);
    const int32_t *in = DataOf<const int32_t>(a);
    uint32_t *out = DataOf<uint32_t>(result);
    for (int64_t r = 0; r < g.rows; ++r) PackRow(out + r * g.words, in + r * g.length, g.length);
    return result;
}

aplarray *BoolKernel(CallArgs &args) {
    aplarray *a = args.right;
    switch (a->eltype) {
        case APL_BOOL: return a;
        case APL_INTG: return PackIntegers(a);
        case APL_REAL: SetError(APL_ERR_NONCE); return nullptr;
        default: SetError(APL_ERR_DOMAIN); return nullptr;
    }
}

// Returns a new temporary SHORT array, or null with DOMAIN when an element
// does not fit.
template <class From, class Narrow>
aplarray *ToShorts(const aplarray *a, Narrow narrow) {
    aplarray *result = AllocLike(a, APL_SHORT);
    if (!result) return nullptr;
    if (!NarrowAll<int16_t, From>(DataOf<int16_t>(result), DataOf(a), ElementCount(a), narrow)) {
        SetError(APL_ERR_DOMAIN);
        APL_UnLinkTempEx(result, HERE);
        return nullptr;
    }
    return result;
}

aplarray *ShortKernel(CallArgs &args) {
    aplarray *a = args.right;
    switch (a->eltype) {
        case APL_SHORT: return a;
        case APL_CHAR:
            return ToShorts<uint8_t>(a, [](uint8_t c, double &value) {
                value = c;
                return true;
            });
        case APL_INTG:
            return ToShorts<int32_t>(a, [](int32_t x, double &value) { return InRange(x, -32768, 32767, value); });
        case APL_REAL:
            return ToShorts<double>(a,
                                    [](double x, double &value) { return FixedNearInteger(x, -32768, 32767, value); });
        default: SetError(APL_ERR_DOMAIN); return nullptr;
    }
}

aplarray *RealKernel(CallArgs &args) {
    aplarray *a = args.right;
    switch (a->eltype) {
        case APL_REAL: return a;
        case APL_INTG: return IntToReal(a);  // linked here, so not released
        case APL_SHORT: {
            aplarray *result = AllocLike(a, APL_REAL);
            if (result) Widen<double, int16_t>(DataOf<double>(result), DataOf(a), ElementCount(a));
            return result;
        }
        default: SetError(APL_ERR_DOMAIN); return nullptr;
    }
}

// ---- Making nested arrays ------------------------------------------------------

// Fills `items`, the slots of a new nested array that will own them, with
// one-link scalars of type `eltype` made from the n elements that `get(i)`
// yields; false when an allocation fails.
template <class T, class Get>
bool MakeScalars(aplarray **items, int64_t n, int eltype, Get get) {
    for (int64_t i = 0; i < n; ++i) {
        aplarray *scalar = InterruptAt(i) ? nullptr : AllocArray(APL_SIMPLE, 0, eltype, nullptr, HERE);
        if (!scalar) return false;
        *DataOf<T>(scalar) = static_cast<T>(get(i));
        items[i] = scalar;
    }
    return true;
}

// Encloses each item slot of a nested array in a new one-link nested scalar that
// links the old item (a null prototype stays null).
bool EncloseItems(aplarray **items, const aplarray *array) {
    for (int64_t i = 0; i < ItemSlots(array); ++i) {
        aplarray *old = ItemAt(array, i);
        if (!old) continue;
        aplarray *box = InterruptAt(i) ? nullptr : AllocArray(APL_NESTEDARRAY, 0, APL_NESTED, nullptr, HERE);
        if (!box) return false;
        items[i] = box;
        ItemsOf(box)[0] = APL_LinkEx(old, HERE);  // a static item yields a managed copy
        if (!ItemsOf(box)[0]) return false;
    }
    return true;
}

// Borrows `a`; false (error set) when an item cannot be made.
bool FillItems(aplarray **items, const aplarray *a) {
    const void *data = DataOf(a);
    const int64_t n = ElementCount(a);
    switch (a->eltype) {
        case APL_CHAR:
            return MakeScalars<uint8_t>(items, n, APL_CHAR, [&](int64_t i) { return Load<uint8_t>(data, i); });
        case APL_INTG:
            return MakeScalars<int32_t>(items, n, APL_INTG, [&](int64_t i) { return Load<int32_t>(data, i); });
        case APL_REAL: return MakeScalars<double>(items, n, APL_REAL, [&](int64_t i) { return Load<double>(data, i); });
        // BOOL and SHORT items become INTG scalars, the type every caller expects of
        // a scalar taken out of a numeric array.
        case APL_SHORT:
            return MakeScalars<int32_t>(items, n, APL_INTG, [&](int64_t i) { return Load<int16_t>(data, i); });
        case APL_BOOL: return MakeScalars<int32_t>(items, n, APL_INTG, [&](int64_t i) { return BoolAt(a, i); });
        case APL_NESTED: return EncloseItems(items, a);
        default: SetError(APL_ERR_DOMAIN); return false;
    }
}

// ---- Simplifying ---------------------------------------------------------------

// The single element of a simple scalar item as a T (INTG widened to REAL);
// borrows the item.
template <class T>
T ScalarValue(const aplarray *item) {
    switch (item->eltype) {
        case APL_CHAR: return static_cast<T>(Load<uint8_t>(DataOf(item), 0));
        case APL_INTG: return static_cast<T>(Load<int32_t>(DataOf(item), 0));
        default: return static_cast<T>(Load<double>(DataOf(item), 0));
    }
}

template <class T>
void GatherScalars(T *out, const aplarray *array, int64_t n) {
    for (int64_t i = 0; i < n; ++i) out[i] = ScalarValue<T>(ItemAt(array, i));
}

}  // namespace

const char *TypeName(int eltype) {
    switch (eltype) {
        case APL_CHAR: return "CHAR";
        case APL_INTG: return "INTG";
        case APL_REAL: return "REAL";
        case APL_BOOL: return "BOOL";
        case APL_SHORT: return "SHORT";
        default: return "UNKNOWN";
    }
}

// Returns the argument, a converted temporary (the argument released), or null
// when a conversion refused an element (the argument released).
aplarray *ConvertType(aplarray *array, int mask) {
    if (!array || (array->eltype & mask)) return array;
    switch (array->eltype) {
        case APL_INTG:
            if (mask & APL_SHORT) return APL_ToShort(nullptr, nullptr, array);
            if (mask & APL_BOOL) return APL_ToBool(nullptr, nullptr, array);
            break;
        case APL_REAL:
            if (mask & APL_INTG) return RealToInt(array);
            break;
        case APL_BOOL:
            if (mask & APL_INTG) return BoolToInt(array);
            break;
        case APL_SHORT:
            if (mask & APL_INTG) return ShortToInt(array);
            if (mask & APL_BOOL) {
                aplarray *integers = ShortToInt(array);
                return integers ? APL_ToBool(nullptr, nullptr, integers) : nullptr;
            }
            break;
        default: break;
    }
    SetErrorText(APL_ERR_DOMAIN, "Invalid data type(%s)", TypeName(array->eltype));
    return array;
}

// Returns a new temporary; releases the argument.
aplarray *BoolToInt(aplarray *array) {
    return Convert(array, APL_BOOL, APL_INTG, [](aplarray *result, const void *words) {
        const BoolRows g = RowsOf(result);
        int32_t *out = DataOf<int32_t>(result);
        for (int64_t r = 0; r < g.rows; ++r) UnpackRow(out + r * g.length, words, r * g.words, g.length);
        return true;
    });
}

// Returns a new temporary; releases the argument.
aplarray *ShortToInt(aplarray *array) {
    return Convert(array, APL_SHORT, APL_INTG, [](aplarray *result, const void *in) {
        Widen<int32_t, int16_t>(DataOf<int32_t>(result), in, ElementCount(result));
        return true;
    });
}

// Returns a new temporary; releases the argument.
aplarray *IntToReal(aplarray *array) {
    return Convert(array, APL_INTG, APL_REAL, [](aplarray *result, const void *in) {
        Widen<double, int32_t>(DataOf<double>(result), in, ElementCount(result));
        return true;
    });
}

// Returns a new temporary; releases the argument. An element converts when it
// is within CT (relative) of the integer that truncation gives.
aplarray *RealToInt(aplarray *array) {
    const double tolerance = std::fmax(ComparisonTolerance(), 0.0);
    return Convert(array, APL_REAL, APL_INTG, [tolerance](aplarray *result, const void *in) {
        const bool accepted = NarrowAll<int32_t, double>(
            DataOf<int32_t>(result), in, ElementCount(result), [tolerance](double x, double &value) {
                const double magnitude = std::fabs(x);
                const bool inRange = magnitude <= 2147483647.0;  // false for NaN too
                const double r = inRange ? std::trunc(x) : 0.0;
                const bool accepted = inRange && !(std::fabs(x - r) > tolerance * std::fmax(magnitude, std::fabs(r)));
                value = accepted ? r : 0.0;
                return accepted;
            });
        if (!accepted) SetError(APL_ERR_DOMAIN);
        return accepted;
    });
}

// Borrows the argument: *out is its own data (false) or a new raw block (true).
bool IntegerData(aplarray *array, int32_t **out) {
    if (!out) return false;
    *out = nullptr;
    if (!array) return false;
    if (!IsNested(array) && ElementCount(array) == 0) return false;
    switch (array->eltype) {
        case APL_INTG: *out = DataOf<int32_t>(array); return false;
        case APL_BOOL:
        case APL_SHORT: return false;  // callers convert these to INTG first
        case APL_REAL: break;
        default: SetError(APL_ERR_DOMAIN); return false;
    }
    const int64_t n = ElementCount(array);
    auto *values = static_cast<int32_t *>(AllocBlock(static_cast<size_t>(n) * sizeof(int32_t), HERE));
    if (!values) {
        SetError(APL_ERR_WSFULL);
        return false;
    }
    const bool accepted = NarrowAll<int32_t, double>(values, DataOf(array), n, [](double x, double &value) {
        return FixedNearInteger(x, -2147483648.0, 2147483647.0, value);
    });
    if (!accepted) {
        FreeBlock(values, HERE);
        SetError(APL_ERR_DOMAIN);
        return false;
    }
    *out = values;
    return true;
}

// Returns the argument unchanged, or a new temporary (the argument released).
aplarray *SimplifyArray(aplarray *array) {
    if (!array || !IsNested(array)) return array;
    if (array->number == 0) {
        const aplarray *prototype = ItemAt(array, 0);
        if (!prototype || IsNested(prototype) || prototype->rank != 0) return array;
        aplarray *result = AllocLike(array, prototype->eltype);
        if (!result) return array;
        APL_UnLinkTempEx(array, HERE);
        return result;
    }
    // One pass that stops at the first item ruling simplification out, so that
    // typical mixed arrays are rejected early.
    int types = 0;
    const int64_t n = array->number;
    for (int64_t i = 0; i < n; ++i) {
        const aplarray *item = ItemAt(array, i);
        if (!item || item->rank != 0) return array;
        types |= item->eltype;
        if (types != APL_CHAR && types != APL_INTG && types != APL_REAL && types != kNumeric) return array;
    }
    const int eltype = types == kNumeric ? APL_REAL : types;
    aplarray *result = AllocLike(array, eltype);
    if (!result) return array;
    switch (eltype) {
        case APL_CHAR: GatherScalars(DataOf<uint8_t>(result), array, n); break;
        case APL_INTG: GatherScalars(DataOf<int32_t>(result), array, n); break;
        default: GatherScalars(DataOf<double>(result), array, n); break;
    }
    APL_UnLinkTempEx(array, HERE);
    return result;
}

// Borrows the argument.
bool IsScalarList(const aplarray *array) {
    if (!array || !IsNested(array)) return false;
    for (int64_t i = 0; i < ItemSlots(array); ++i) {
        const aplarray *item = ItemAt(array, i);
        if (!item || IsNested(item) || item->rank != 0) return false;
    }
    return true;
}

// Returns a new temporary nested array (the argument released), or, when it
// cannot be built, the argument itself with the error set. With an error
// already pending, releases a temporary argument and returns null.
extern "C" aplarray *APL_MakeNested(aplarray *array) {
    if (!array) return nullptr;
    if (aplerrno) {
        APL_UnLinkTempEx(array, HERE);
        return nullptr;
    }
    aplarray *result = AllocArray(APL_NESTEDARRAY | APL_TEMP, array->rank, APL_NESTED, array->shape, HERE);
    if (!result) return array;
    if (!FillItems(ItemsOf(result), array)) {
        if (!aplerrno) SetError(APL_ERR_WSFULL);
        APL_UnLinkEx(result, HERE);
        return array;
    }
    APL_UnLinkTempEx(array, HERE);
    return result;
}

// The system functions BOOL, SHORT and REAL: monadic, through the standard
// wrapper. Each returns a temporary (or its argument when it already has the
// type); consumes a temporary argument, leaves a linked one as it was.
extern "C" aplarray *APL_ToBool(aplarray *axis, aplarray *left, aplarray *right) {
    // SHORT is outside the mask so that the wrapper widens it to INTG first.
    return StandardCall({kRefused, kRefused, Required(kAnyButShort)}, axis, left, right, BoolKernel);
}

extern "C" aplarray *APL_ToShort(aplarray *axis, aplarray *left, aplarray *right) {
    // BOOL is outside the mask so that the wrapper widens it to INTG first.
    return StandardCall({kRefused, kRefused, Required(kAnyButBool)}, axis, left, right, ShortKernel);
}

extern "C" aplarray *APL_ToReal(aplarray *axis, aplarray *left, aplarray *right) {
    return StandardCall({kRefused, kRefused, Required(kAnyButBool)}, axis, left, right, RealKernel);
}
