// reduce: APL_Reduce and APL_Reduce1 (f/ and f⌿): the typed loops of the
// primitive operands, the general path through the one call path, and the
// identities of empty reductions. Relies on core/call, cells and the structural primitives.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("tree-vectorize")
#endif

#include "scalar/reduce.h"

#include "core/call.h"
#include "core/eltypes.h"
#include "core/glyphs.h"
#include "core/symtab.h"
#include "scalar/foldsteps.h"
#include "scalar/sclloops.h"
#include "structural/cells.h"

#include <cfloat>

fold::Kind fold::KindOf(int code) {
    switch (code) {
        case glyph::kPlus: return Kind::Add;
        case glyph::kMinus: return Kind::Sub;
        case glyph::kTimes: return Kind::Mul;
        case glyph::kDivide: return Kind::Div;
        case glyph::kUpStile: return Kind::Max;
        case glyph::kDownStile: return Kind::Min;
        case glyph::kWedge: return Kind::And;
        case glyph::kVee: return Kind::Or;
        case glyph::kNand: return Kind::Nand;
        case glyph::kNor: return Kind::Nor;
        case glyph::kEqual: return Kind::Eq;
        case glyph::kNotEqual: return Kind::Ne;
        case glyph::kLess: return Kind::Lt;
        case glyph::kLessEqual: return Kind::Le;
        case glyph::kGreaterEqual: return Kind::Ge;
        case glyph::kGreater: return Kind::Gt;
        default: return Kind::None;
    }
}

namespace {

using fold::Kind;

using Layout = FoldLayout;

aplarray *Fail(int32_t code) {
    SetError(code);
    return nullptr;
}

// ---- Typed loops --------------------------------------------------------------
// Every vector is folded from the right: the accumulator starts as the last
// element and becomes x[k] step accumulator for k = n-2 ... 0. With T > 1 the
// T vectors of one leading position are folded side by side, a row at a time,
// so that the inner loop runs over contiguous memory.
template <class Acc, class In, class Out, class Step>
bool FoldVectors(const In *x, Out *out, const Layout &f, Step step) {
    if (f.T == 1) {
        int64_t since = 0;
        for (int64_t i = 0; i < f.L; ++i) {
            const In *v = x + i * f.n;
            Acc a = static_cast<Acc>(v[f.n - 1]);
            // A long vector is folded a stride at a time, so that the flag
            // is seen while it runs.
            for (int64_t end = f.n - 1; end > 0; end -= kInterruptStride) {
                const int64_t begin = end > kInterruptStride ? end - kInterruptStride : 0;
                for (int64_t k = end - 1; k >= begin; --k) a = step(static_cast<Acc>(v[k]), a);
                since += end - begin;
                if (since >= kInterruptStride) {
                    since = 0;
                    if (InterruptRequested()) return false;
                }
            }
            out[i] = static_cast<Out>(a);
            if (++since >= kInterruptStride) {
                since = 0;
                if (InterruptRequested()) return false;
            }
        }
        return true;
    }
    auto *acc = static_cast<Acc *>(AllocBlock(static_cast<size_t>(f.T) * sizeof(Acc), HERE));
    if (!acc) return Fail(APL_ERR_WSFULL), false;
    int64_t since = 0;
    bool ok = true;
    for (int64_t i = 0; i < f.L && ok; ++i) {
        const In *base = x + i * f.n * f.T;
        const In *last = base + (f.n - 1) * f.T;
        for (int64_t j = 0; j < f.T; ++j) acc[j] = static_cast<Acc>(last[j]);
        for (int64_t k = f.n - 2; k >= 0; --k) {
            const In *row = base + k * f.T;
            for (int64_t j = 0; j < f.T; ++j) acc[j] = step(static_cast<Acc>(row[j]), acc[j]);
            since += f.T;
            if (since >= kInterruptStride) {
                since = 0;
                if (InterruptRequested()) {
                    ok = false;
                    break;
                }
            }
        }
        Out *o = out + i * f.T;
        for (int64_t j = 0; j < f.T; ++j) o[j] = static_cast<Out>(acc[j]);
    }
    FreeBlock(acc, HERE);
    return ok;
}

// A sum of integers is exact in 64 bits; it equals the fold in double as long
// as no partial sum can pass 2^53, which n × max|x| < 2^53 guarantees.
bool IntegerSumIsExact(const int32_t *x, int64_t count, int64_t n) {
    if (n < (int64_t{1} << 22)) return true;
    int64_t largest = 0;
    for (int64_t i = 0; i < count; ++i) {
        const int64_t v = x[i] < 0 ? -int64_t{x[i]} : x[i];
        largest = v > largest ? v : largest;
    }
    return static_cast<double>(largest) * static_cast<double>(n) < 9007199254740992.0;
}

// Sums of rows taken forwards in 64 bits, which vectorises. With the sum of
// the magnitudes below 2^53 no partial sum, in any order, can lose a bit, so
// this is the fold from the right; false (nothing final) when a row is larger.
bool SumRowsExactly(const int32_t *x, double *out, const Layout &f) {
    for (int64_t i = 0; i < f.L; ++i) {
        const int32_t *v = x + i * f.n;
        int64_t sum = 0, magnitude = 0;
        for (int64_t k = 0; k < f.n; ++k) {
            sum += v[k];
            magnitude += v[k] < 0 ? -int64_t{v[k]} : int64_t{v[k]};
        }
        if (magnitude >= (int64_t{1} << 53)) return false;
        out[i] = static_cast<double>(sum);
    }
    return true;
}

// The folds whose accumulator is a double (+ − × ÷), into a REAL result.
template <class In>
bool FoldArithmetic(Kind kind, const In *x, double *out, const Layout &f, double div) {
    switch (kind) {
        case Kind::Add:
            if constexpr (std::is_same_v<In, int32_t>) {
                if (f.T == 1 && SumRowsExactly(x, out, f)) return true;
                if (f.T > 1 && IntegerSumIsExact(x, f.L * f.n * f.T, f.n))
                    return FoldVectors<int64_t>(x, out, f, [](int64_t v, int64_t a) { return v + a; });
            }
            return FoldVectors<double>(x, out, f, [](double v, double a) { return v + a; });
        case Kind::Sub: return FoldVectors<double>(x, out, f, [](double v, double a) { return v - a; });
        case Kind::Mul: return FoldVectors<double>(x, out, f, [](double v, double a) { return v * a; });
        default: {
            bool zeroDivide = false;
            const bool ok = FoldVectors<double>(x, out, f, fold::Quotient{div, &zeroDivide});
            if (ok && zeroDivide) return Fail(APL_ERR_DOMAIN), false;
            return ok;
        }
    }
}

template <class T>
bool FoldExtremum(Kind kind, const T *x, T *out, const Layout &f) {
    if (kind == Kind::Max) return FoldVectors<T>(x, out, f, fold::Max{});
    return FoldVectors<T>(x, out, f, fold::Min{});
}

template <Kind K, class T>
bool FoldCompareAs(const T *x, int32_t *out, const Layout &f, double ct) {
    return FoldVectors<T>(x, out, f, fold::Cmp<K>{ct});
}
template <class T>
bool FoldComparison(Kind kind, const T *x, int32_t *out, const Layout &f, double ct) {
    switch (kind) {
        case Kind::Eq: return FoldCompareAs<Kind::Eq>(x, out, f, ct);
        case Kind::Ne: return FoldCompareAs<Kind::Ne>(x, out, f, ct);
        case Kind::Lt: return FoldCompareAs<Kind::Lt>(x, out, f, ct);
        case Kind::Le: return FoldCompareAs<Kind::Le>(x, out, f, ct);
        case Kind::Ge: return FoldCompareAs<Kind::Ge>(x, out, f, ct);
        default: return FoldCompareAs<Kind::Gt>(x, out, f, ct);
    }
}

bool FoldLogical(Kind kind, const int32_t *x, int32_t *out, const Layout &f) {
    switch (kind) {
        case Kind::And: return FoldVectors<int32_t>(x, out, f, fold::Bits<Kind::And>{});
        case Kind::Or: return FoldVectors<int32_t>(x, out, f, fold::Bits<Kind::Or>{});
        case Kind::Nand: return FoldVectors<int32_t>(x, out, f, fold::Bits<Kind::Nand>{});
        default: return FoldVectors<int32_t>(x, out, f, fold::Bits<Kind::Nor>{});
    }
}

// = and ≠ on characters: the last two characters compare; every further step
// compares a character with the number from the step before, never equal.
void FoldCharacters(Kind kind, const uint8_t *x, int32_t *out, const Layout &f) {
    const int32_t later = kind == Kind::Ne;
    for (int64_t i = 0; i < f.L; ++i)
        for (int64_t j = 0; j < f.T; ++j) {
            const uint8_t *v = x + i * f.n * f.T + j;
            const bool same = v[(f.n - 2) * f.T] == v[(f.n - 1) * f.T];
            out[i * f.T + j] = f.n > 2 ? later : static_cast<int32_t>(same != (kind == Kind::Ne));
        }
}

// ---- Boolean rows ---------------------------------------------------------------
// Rows start on a fresh word, so a row along the last axis is counted or tested
// a word at a time, the unused bits of its last word masked off.
struct BitRows {
    int64_t count, length, words;
    uint32_t lastMask;
};
BitRows RowsOfBits(const aplarray *bits) {
    const int64_t length = RowLength(bits);
    const int64_t count = length ? ElementCount(bits) / length : 0;
    const int64_t words = (length + 31) / 32;
    const uint32_t mask = length % 32 ? (1u << (length % 32)) - 1u : ~0u;
    return {count, length, words, mask};
}

// Set bits in `count` words; the processor's own instruction where it has one.
#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("popcnt"))) int64_t CountWordsFast(const uint32_t *w, int64_t count) {
    int64_t total = 0;
    for (int64_t k = 0; k < count; ++k) total += __builtin_popcount(w[k]);
    return total;
}
#endif
int64_t CountWords(const uint32_t *w, int64_t count) {
#if defined(__x86_64__) || defined(__i386__)
    static const bool hardware = __builtin_cpu_supports("popcnt");
    if (hardware) return CountWordsFast(w, count);
#endif
    int64_t total = 0;
    for (int64_t k = 0; k < count; ++k) total += __builtin_popcount(w[k]);
    return total;
}

aplarray *CountBits(const aplarray *bits, const int32_t *shape) {
    aplarray *result = NewResult(bits->rank - 1, APL_INTG, shape);
    if (!result) return nullptr;
    const BitRows rows = RowsOfBits(bits);
    const uint32_t *w = DataOf<const uint32_t>(bits);
    int32_t *out = DataOf<int32_t>(result);
    for (int64_t r = 0; r < rows.count; ++r, w += rows.words) {
        const int64_t total = CountWords(w, rows.words - 1) + __builtin_popcount(w[rows.words - 1] & rows.lastMask);
        out[r] = static_cast<int32_t>(total);
    }
    return result;
}

// ∧/ and ∨/ of Boolean rows: all ones, or any one.
aplarray *TestBits(const aplarray *bits, const int32_t *shape, bool all) {
    aplarray *result = NewResult(bits->rank - 1, APL_INTG, shape);
    if (!result) return nullptr;
    const BitRows rows = RowsOfBits(bits);
    const uint32_t *w = DataOf<const uint32_t>(bits);
    int32_t *out = DataOf<int32_t>(result);
    for (int64_t r = 0; r < rows.count; ++r, w += rows.words) {
        bool any = false, every = true;
        for (int64_t k = 0; k < rows.words; ++k) {
            const uint32_t mask = k + 1 == rows.words ? rows.lastMask : ~0u;
            any = any || (w[k] & mask) != 0;
            every = every && (w[k] & mask) == mask;
        }
        out[r] = all ? every : any;
    }
    return result;
}

// ---- Fast paths -------------------------------------------------------------------
// The typed loop for a primitive operand over a simple argument. `handled` is
// false when the operand has none (the general path takes over). Borrows right.
aplarray *FastReduce(Kind kind, aplarray *right, const Layout &f, int rank, const int32_t *shape, bool &handled) {
    handled = kind != Kind::None;
    if (!handled) return nullptr;
    const bool lastAxis = f.T == 1;
    if (right->eltype == APL_BOOL && lastAxis) {
        if (kind == Kind::Add) return CountBits(right, shape);
        if (kind == Kind::And || kind == Kind::Or) return TestBits(right, shape, kind == Kind::And);
    }
    TempGuard widened;
    const aplarray *x = right;
    if (right->eltype == APL_BOOL) {
        widened.reset(WidenBits(right));
        if (!(x = widened.get())) return nullptr;
    }
    if (x->eltype == APL_CHAR) {
        if (kind != Kind::Eq && kind != Kind::Ne) return Fail(APL_ERR_DOMAIN);
        aplarray *result = NewResult(rank, APL_INTG, shape);
        if (result) FoldCharacters(kind, DataOf<const uint8_t>(x), DataOf<int32_t>(result), f);
        return result;
    }
    const bool real = x->eltype == APL_REAL;
    const double ct = ComparisonTolerance();
    const double div = DivisionMode();
    int resultType = APL_INTG;
    if (fold::IsArithmetic(kind)) resultType = APL_REAL;
    if (kind == Kind::Max || kind == Kind::Min) resultType = x->eltype;
    TempGuard result(NewResult(rank, resultType, shape));
    if (!result.get()) return nullptr;
    ClearFloatFaults();
    bool ok;
    if (fold::IsArithmetic(kind)) {
        ok = real ? FoldArithmetic(kind, DataOf<const double>(x), DataOf<double>(result.get()), f, div)
                  : FoldArithmetic(kind, DataOf<const int32_t>(x), DataOf<double>(result.get()), f, div);
    } else if (kind == Kind::Max || kind == Kind::Min) {
        ok = real ? FoldExtremum(kind, DataOf<const double>(x), DataOf<double>(result.get()), f)
                  : FoldExtremum(kind, DataOf<const int32_t>(x), DataOf<int32_t>(result.get()), f);
    } else if (fold::IsComparison(kind)) {
        ok = real ? FoldComparison(kind, DataOf<const double>(x), DataOf<int32_t>(result.get()), f, ct)
                  : FoldComparison(kind, DataOf<const int32_t>(x), DataOf<int32_t>(result.get()), f, ct);
    } else {
        int32_t *integers = nullptr;
        const bool owned = IntegerData(const_cast<aplarray *>(x), &integers);
        if (!integers) return Fail(APL_ERR_DOMAIN);
        ok = FoldLogical(kind, integers, DataOf<int32_t>(result.get()), f);
        if (owned) FreeBlock(integers, HERE);
    }
    if (ok && fold::IsArithmetic(kind) && FloatFaulted()) return Fail(APL_ERR_DOMAIN);
    return ok ? result.release() : nullptr;
}

// ---- General path -------------------------------------------------------------------
// Item k of vector (i, j): a linked item of a nested argument, or a new scalar.
aplarray *ItemAt(aplarray *right, int64_t index) {
    return IsNested(right) ? SlotAt(right, index) : ItemScalar(right, index);
}

}  // namespace

aplarray *FoldItems(aplfnc *fn, aplarray *fnAxis, aplarray *right, int64_t first, int64_t stride, int64_t count) {
    aplarray *a = ItemAt(right, first + (count - 1) * stride);
    for (int64_t k = count - 2; a && k >= 0; --k) {
        if (InterruptRequested()) {
            APL_UnLinkTempEx(a, HERE);
            return nullptr;
        }
        aplarray *x = ItemAt(right, first + k * stride);
        if (!x) {
            APL_UnLinkTempEx(a, HERE);
            return nullptr;
        }
        a = CallFunction(fn, fnAxis, x, a);
    }
    return a;
}

bool StoreItem(aplarray **slot, aplarray *item) {
    if (!item) return false;
    // Boolean scalars (comparisons, say) are kept as integers, which the
    // simplification of the result joins into a simple array.
    if (item->rank == 0 && (item->eltype == APL_BOOL || item->eltype == APL_SHORT)) {
        aplarray *integer = MakeInt(static_cast<int32_t>(NumberAt(item, 0)));
        APL_UnLinkTempEx(item, HERE);
        if (!(item = integer)) return false;
    }
    if (!item->lnkcnt && !IsStatic(item)) {
        item->lnkcnt = 1;
    } else if (!(item = APL_LinkEx(item, HERE))) {
        if (!aplerrno) SetError(APL_ERR_WSFULL);
        return false;
    }
    *slot = item;
    return true;
}

namespace {

// Every vector folded from the right through the call path; the first error
// ends the reduction. Borrows right; returns a temporary or null.
aplarray *GeneralReduce(aplfnc *fn, aplarray *fnAxis, aplarray *right, const Layout &f, int rank,
                        const int32_t *shape) {
    TempGuard result(NewResult(rank, APL_NESTED, shape));
    if (!result.get()) return nullptr;
    aplarray **slots = ItemsOf(result.get());
    for (int64_t i = 0; i < f.L; ++i)
        for (int64_t j = 0; j < f.T; ++j)
            if (!StoreItem(slots + i * f.T + j, FoldItems(fn, fnAxis, right, i * f.n * f.T + j, f.T, f.n)))
                return nullptr;
    return SimplifyArray(result.release());
}

// ---- Identities -------------------------------------------------------------------
constexpr double kLargestReal = DBL_MAX;

// The scalar identity v of a primitive, as a new temporary; null when the
// primitive has none of that kind.
aplarray *ScalarIdentity(int code) {
    switch (code) {
        case glyph::kPlus:
        case glyph::kMinus:
        case glyph::kLess:
        case glyph::kGreater:
        case glyph::kStile:
        case glyph::kVee:
        case glyph::kNotEqual: return MakeInt(0);
        case glyph::kStar:
        case glyph::kEqual:
        case glyph::kWedge:
        case glyph::kLessEqual:
        case glyph::kGreaterEqual:
        case glyph::kTimes:
        case glyph::kDivide: return MakeInt(1);
        case glyph::kUpStile: return MakeReal(-kLargestReal);
        case glyph::kDownStile: return MakeReal(kLargestReal);
        // Binomial has no two-sided identity; 1 is the value APL users get (0!x is 1).
        case glyph::kExclaim: return MakeInt(1);
        default: return nullptr;
    }
}

// The identity matrix of the given order (INTG 0/1).
aplarray *IdentityMatrix(int32_t order) {
    const int32_t shape[2] = {order, order};
    aplarray *m = NewResult(2, APL_INTG, shape);
    if (!m) return nullptr;
    int32_t *d = DataOf<int32_t>(m);
    for (int64_t i = 0; i < int64_t{order} * order; ++i) d[i] = i % (int64_t{order} + 1) == 0;
    return m;
}

aplarray *IntVector(const int32_t *values, int64_t n) { return MakeIntVector(values, static_cast<int32_t>(n)); }

// The identity array of a non-scalar primitive, built from the first element
// of the (empty) argument. Borrows right; returns a temporary or null
// (`known` false when the primitive has no identity).
aplarray *StructuralIdentity(int code, aplarray *right, bool &known) {
    known = true;
    switch (code) {
        case glyph::kComma:
        case glyph::kTilde:
        case glyph::kUpArrow:
        case glyph::kRho:
        case glyph::kDownArrow:
        case glyph::kDomino:
        case glyph::kRightShoe:
        case glyph::kCircleStile:
        case glyph::kTranspose:
        case glyph::kCircleBar: break;
        default: known = false; return nullptr;
    }
    if (code == glyph::kTilde && right->rank != 1) return Fail(APL_ERR_RANK);
    if ((code == glyph::kComma || code == glyph::kDomino) && right->rank == 0) return Fail(APL_ERR_RANK);
    if (code == glyph::kTilde || code == glyph::kRightShoe) return APL_Interval(nullptr, nullptr, MakeInt(0));
    TempGuard first(APL_Take(nullptr, nullptr, right));
    if (!first.get()) return nullptr;
    const aplarray *e = first.get();
    switch (code) {
        case glyph::kComma: {
            // S ← (¯1↓⍴first), 0; X ← S⍴first; identity S⍴⊂X.
            const int rank = e->rank ? e->rank : 1;
            int32_t s[kMaxRank];
            for (int i = 0; i + 1 < rank; ++i) s[i] = e->shape[i];
            s[rank - 1] = 0;
            TempGuard x(APL_Shape(nullptr, IntVector(s, rank), first.release()));
            if (!x.get()) return nullptr;
            aplarray *enclosed = APL_Enclose(nullptr, nullptr, x.release());
            if (!enclosed) return nullptr;
            return APL_Shape(nullptr, IntVector(s, rank), enclosed);
        }
        case glyph::kUpArrow:
        case glyph::kRho: return IntVector(e->shape, e->rank);
        case glyph::kDownArrow: {
            int32_t zeros[kMaxRank] = {};
            return IntVector(zeros, e->rank);
        }
        case glyph::kDomino:
            if (e->rank == 0) return Fail(APL_ERR_RANK);
            return IdentityMatrix(e->shape[0]);
        case glyph::kCircleStile:
        case glyph::kCircleBar: {
            const int from = code == glyph::kCircleStile ? 1 : 0;
            const int count = e->rank ? e->rank - 1 : 0;
            return APL_Shape(nullptr, IntVector(e->shape + from, count), MakeInt(1));
        }
        default: {
            // The axes in the current origin, so that the identity is one: I⍉X is X.
            int32_t axes[kMaxRank];
            for (int i = 0; i < e->rank; ++i) axes[i] = i + IndexOrigin();
            return IntVector(axes, e->rank);
        }
    }
}

// The value reshaped to the shape. Consumes a temporary value.
aplarray *Spread(aplarray *value, int rank, const int32_t *shape) {
    aplarray *vector = MakeIntVector(shape, rank);
    if (!vector) {
        APL_UnLinkTempEx(value, HERE);
        return nullptr;
    }
    return APL_Shape(nullptr, vector, value);
}

// The result of reducing an empty argument: the identity of the operand,
// enclosed and spread over the result shape. Borrows right.
aplarray *IdentityResult(aplfnc *fn, aplarray *right, int rank, const int32_t *shape) {
    if (!IsPrimitiveOperand(fn)) {
        SetErrorText(APL_ERR_DOMAIN, "No identity function for user defined functions");
        return nullptr;
    }
    const int code = static_cast<int>(fn->code & 0xff);
    TempGuard identity;
    if (code >= 33 && code <= 247) {
        if (aplarray *v = ScalarIdentity(code)) {
            // (↑right+v)+v: a structure of v's for nested data; for simple data
            // (characters too) that is v itself.
            if (!IsNested(right)) return Spread(v, rank, shape);
            aplarray *w = ScalarIdentity(code);
            aplarray *sum = APL_Add(nullptr, right, v);
            aplarray *first = sum ? APL_Take(nullptr, nullptr, sum) : nullptr;
            if (!first) {
                APL_UnLinkTempEx(w, HERE);
                return nullptr;
            }
            identity.reset(APL_Add(nullptr, first, w));
        } else {
            bool known;
            identity.reset(StructuralIdentity(code, right, known));
            if (!known) {
                SetErrorText(APL_ERR_DOMAIN, "No identity function defined for '%c'", code);
                return nullptr;
            }
        }
    } else {
        SetErrorText(APL_ERR_DOMAIN, "No identity function defined for '%c'", code);
        return nullptr;
    }
    if (!identity.get()) return nullptr;
    aplarray *enclosed = APL_Enclose(nullptr, nullptr, identity.release());
    return enclosed ? Spread(enclosed, rank, shape) : nullptr;
}

}  // namespace

// The axis of a reduction or scan: one integral value within the axes.
bool ReductionAxis(const aplarray *axis, int rank, int &d) {
    if (!axis) return true;
    AxisArgument a;
    if (!ReadAxisArgument(axis, a)) return Fail(APL_ERR_AXIS), false;
    if (!a.numeric || (a.count > 0 && !a.integral)) return Fail(APL_ERR_DOMAIN), false;
    if (a.count != 1) return Fail(APL_ERR_AXIS), false;
    const int64_t at = NearInteger(a.first) - IndexOrigin();
    if (at < 0 || at >= rank) return Fail(APL_ERR_INDEX), false;
    d = static_cast<int>(at);
    return true;
}

namespace {

constexpr int kReduceTypes = APL_CHAR | APL_INTG | APL_REAL | APL_NESTED | APL_BOOL;

aplarray *Reduce(aplarray *axis, aplarray *left, aplfnc *fn, aplarray *fnAxis, aplfnc *second, aplarray *secondAxis,
                 aplarray *right, bool firstAxis) {
    constexpr Signature kSignature{Optional(kAnyType), Optional(kReduceTypes), Required(kReduceTypes)};
    return OperatorCall(
        kSignature, true, axis, left, fn, fnAxis, second, secondAxis, right,
        [firstAxis](OperatorArgs &op) -> aplarray * {
            aplarray *r = op.args.right;
            if (aplarray *counts = OperatorArgs::ArrayOf(op.operand))
                return CallWithArrayOperand(firstAxis ? APL_Replicate1 : APL_Replicate, op.args.axis, counts, r);
            if (r->rank == 0 && !op.args.left) return r;
            const int rank = r->rank ? r->rank : 1;  // N-wise: a scalar is a one-item vector
            int d = firstAxis ? 0 : rank - 1;
            if (!ReductionAxis(op.args.axis, rank, d)) return nullptr;
            if (op.args.left) {
                // Held for the call like the other arguments: the function
                // localises them and lets them go again.
                aplarray *k = APL_LinkEx(MakeInt(IndexOrigin() + d), HERE);
                if (!k) return nullptr;
                aplarray *items = r;
                if (r->rank == 0) {
                    const int32_t one = 1;
                    items = APL_LinkEx(APL_Shape(nullptr, MakeIntVector(&one, 1), r), HERE);
                    if (!items) {
                        APL_UnLinkEx(k, HERE);
                        return nullptr;
                    }
                }
                aplarray *z = apl_REDUCE(k, op.args.left, op.operand, op.operandAxis, op.second, op.secondAxis, items);
                APL_UnLinkEx(k, HERE);
                if (items != r) APL_UnLinkEx(items, HERE);
                return z;
            }
            return ReduceAlongAxis(op.operand, op.operandAxis, r, d);
        });
}

}  // namespace

aplarray *CallWithArrayOperand(aplfunction primitive, aplarray *axis, aplarray *array, aplarray *right) {
    const bool hold = !IsStatic(array);
    if (hold) ++array->lnkcnt;
    aplarray *z = primitive(axis, array, right);
    if (hold) --array->lnkcnt;
    return z;
}

aplarray *ReduceAlongAxis(aplfnc *fn, aplarray *fnAxis, aplarray *right, int d) {
    if (right->rank == 0) return right;
    const AxisSplit s = SplitAlong(right, d);
    const Layout f{s.outer, s.length, s.inner};
    int32_t shape[kMaxRank];
    int rank = 0;
    for (int i = 0; i < right->rank; ++i)
        if (i != d) shape[rank++] = right->shape[i];
    if (ElementCount(right) == 0) return IdentityResult(fn, right, rank, shape);
    if (f.n == 1) {
        aplarray *vector = MakeIntVector(shape, rank);
        return vector ? APL_Shape(nullptr, vector, right) : nullptr;
    }
    if (!IsNested(right) && !fnAxis && IsPrimitiveOperand(fn)) {
        bool handled;
        aplarray *z = FastReduce(fold::KindOf(static_cast<int>(fn->code & 0xff)), right, f, rank, shape, handled);
        if (handled) return z;
    }
    return GeneralReduce(fn, fnAxis, right, f, rank, shape);
}

// Both return a temporary (or the argument passed through); consume temporary
// arguments and operand axes, leave linked ones as they were.
extern "C" aplarray *APL_Reduce(aplarray *axis, aplarray *left, aplfnc *fn, aplarray *fnAxis, aplfnc *second,
                                aplarray *secondAxis, aplarray *right) {
    return Reduce(axis, left, fn, fnAxis, second, secondAxis, right, false);
}

extern "C" aplarray *APL_Reduce1(aplarray *axis, aplarray *left, aplfnc *fn, aplarray *fnAxis, aplfnc *second,
                                 aplarray *secondAxis, aplarray *right) {
    return Reduce(axis, left, fn, fnAxis, second, secondAxis, right, true);
}
