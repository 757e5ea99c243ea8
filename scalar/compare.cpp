// compare: the element routines of the comparisons = ≠ < ≤ ≥ > (tolerant for
// REAL pairs, with CT) and of the logical functions ∨ ⍱ ∧ ⍲ (gcd, lcm and their
// Boolean forms). Relies on the loops of sclloops and on CT in the symbol table.
#if defined(__GNUC__) && !defined(__clang__)
// GCC 12 at -O2 vectorises only loops whose trip count is a multiple of the
// vector width; the element loops need the full vectoriser.
#pragma GCC optimize("tree-vectorize")
#endif

#include "core/symtab.h"
#include "scalar/scllib.h"
#include "scalar/sclloops.h"

#include <cmath>
#include <cstring>

namespace {

// Tolerant comparisons take t = CT × max(|A|, |B|) for a pair in which one
// value is REAL; INTG pairs (and characters) compare exactly. Unlike the
// arithmetic routines these do not test the floating-point status: an
// overflow in A−B only makes the difference larger than t, which gives the
// right answer.
double Larger(double a, double b) {
    const double x = std::fabs(a), y = std::fabs(b);
    return x > y ? x : y;
}

struct EqualOp {
    double ct;
    int32_t operator()(int32_t a, int32_t b) const { return a == b; }
    int32_t operator()(double a, double b) const { return std::fabs(a - b) <= ct * Larger(a, b); }
};

struct NotEqualOp {
    double ct;
    int32_t operator()(int32_t a, int32_t b) const { return a != b; }
    int32_t operator()(double a, double b) const { return std::fabs(a - b) > ct * Larger(a, b); }
};

struct LessOp {
    double ct;
    int32_t operator()(int32_t a, int32_t b) const { return a < b; }
    int32_t operator()(double a, double b) const { return b - a > ct * Larger(a, b); }
};

struct LessEqualOp {
    double ct;
    int32_t operator()(int32_t a, int32_t b) const { return a <= b; }
    int32_t operator()(double a, double b) const { return a - b <= ct * Larger(a, b); }
};

struct GreaterEqualOp {
    double ct;
    int32_t operator()(int32_t a, int32_t b) const { return a >= b; }
    int32_t operator()(double a, double b) const { return b - a <= ct * Larger(a, b); }
};

struct GreaterOp {
    double ct;
    int32_t operator()(int32_t a, int32_t b) const { return a > b; }
    int32_t operator()(double a, double b) const { return a - b > ct * Larger(a, b); }
};

// A comparison into an INTG result (a BOOL result only arises from two BOOL
// arguments and runs on words). `mixedChar` is the answer for a character
// against a number (= gives 0, ≠ gives 1); the other comparisons never see
// characters.
template <class Op, class WordOp>
aplarray *Compare(aplarray *result, const aplarray *left, const aplarray *right, WordOp wordOp, int32_t mixedChar) {
    if (result->eltype == APL_BOOL) return BoolRoutine(result, left, right, wordOp);
    const int64_t n = ElementCount(result);
    int32_t *out = DataOf<int32_t>(result);
    const bool lChar = left->eltype == APL_CHAR, rChar = right->eltype == APL_CHAR;
    // The tolerance is looked up only for REAL data: characters and integers
    // compare exactly.
    Op op{0.0};
    if (lChar && rChar) {
        ZipLoop<int32_t>(out, DataOf<const uint8_t>(left), ElementCount(left), DataOf<const uint8_t>(right),
                         ElementCount(right), n, op);
        return result;
    }
    if (lChar || rChar) {
        for (int64_t i = 0; i < n; ++i) out[i] = mixedChar;
        return result;
    }
    ArgumentView l(left, ArgumentView::Integers), r(right, ArgumentView::Integers);
    if (!l.ok() || !r.ok()) return nullptr;
    if (l.get()->eltype == APL_INTG && r.get()->eltype == APL_INTG)
        ZipTyped<int32_t>(out, l.get(), r.get(), n, op);
    else {
        op.ct = ComparisonTolerance();
        ZipTyped<double>(out, l.get(), r.get(), n, op);
    }
    return result;
}

// ---- Logical functions on integers ----------------------------------------------

int64_t Magnitude(int32_t x) { return x < 0 ? -static_cast<int64_t>(x) : x; }

// Greatest common divisor of two magnitudes.
int64_t Gcd(int64_t x, int64_t y) {
    while (y != 0) {
        const int64_t r = x % y;
        x = y;
        y = r;
    }
    return x;
}

// Magnitudes in 64 bits, so that the most negative INTG has one; a divisor
// of 2^31 does not fit and is refused.
struct GcdOp : NoFault {
    int32_t operator()(int32_t a, int32_t b) {
        const int64_t g = Gcd(Magnitude(a), Magnitude(b));
        fault |= g > INT32_MAX;
        return static_cast<int32_t>(g);
    }
};

struct LcmOp : NoFault {
    int32_t operator()(int32_t a, int32_t b) {
        if (a == 0 || b == 0) return 0;
        const int64_t x = Magnitude(a), y = Magnitude(b);
        const int64_t q = x / Gcd(x, y);
        if (INT32_MAX / y >= q) return static_cast<int32_t>(q * y);
        fault = true;
        return 0;
    }
};

struct NandOp : NoFault {
    int32_t operator()(int32_t a, int32_t b) const { return (a & b) == 0; }
};

struct NorOp : NoFault {
    int32_t operator()(int32_t a, int32_t b) const { return (a | b) == 0; }
};

// A logical function: on words when the result is BOOL (INTG arguments
// packed first), else on INTG elements (BOOL arguments widened).
template <class Op, class WordOp>
aplarray *Logical(aplarray *result, const aplarray *left, const aplarray *right, Op op, WordOp wordOp) {
    if (result->eltype == APL_BOOL) return BoolRoutine(result, left, right, wordOp);
    ArgumentView l(left, ArgumentView::Integers), r(right, ArgumentView::Integers);
    if (!l.ok() || !r.ok()) return nullptr;
    if (result->eltype != APL_INTG || l.get()->eltype != APL_INTG || r.get()->eltype != APL_INTG) {
        SetError(APL_ERR_DOMAIN);  // the type mask admits nothing else
        return nullptr;
    }
    const Op done = ZipLoop<int32_t>(DataOf<int32_t>(result), DataOf<const int32_t>(l.get()), ElementCount(l.get()),
                                     DataOf<const int32_t>(r.get()), ElementCount(r.get()), ElementCount(result), op);
    if (aplerrno) return nullptr;  // interrupted
    if (done.fault) {
        SetError(APL_ERR_DOMAIN);
        return nullptr;
    }
    return result;
}

}  // namespace

// ---- Routines (result filled, arguments borrowed) ------------------------------------

aplarray *EqualRoutine(aplarray *result, const aplarray *left, const aplarray *right) {
    return Compare<EqualOp>(
        result, left, right, [](uint32_t a, uint32_t b) { return ~(a ^ b); }, 0);
}

aplarray *NotEqualRoutine(aplarray *result, const aplarray *left, const aplarray *right) {
    return Compare<NotEqualOp>(
        result, left, right, [](uint32_t a, uint32_t b) { return a ^ b; }, 1);
}

namespace {
double ScalarNumber(const aplarray *a) {
    if (a->eltype == APL_INTG) return *DataOf<const int32_t>(a);
    double value;
    memcpy(&value, DataOf<const char>(a), sizeof value);
    return value;
}

// What Compare computes for one pair: integers exactly, else within the tolerance.
// CT as a comparison of two scalars reads it on every call: its REAL scalar
// where it lies (what every accepted setting holds), anything else through
// the general reader.
double CurrentTolerance() {
    if (IsSymbol(sys_CT_idx)) {
        const auto *ct = static_cast<const aplarray *>(Symbol(sys_CT_idx).value);
        if (ct && ct->rank == 0 && ct->eltype == APL_REAL) {
            double value;
            memcpy(&value, DataOf(ct), sizeof value);
            return value;
        }
    }
    return ComparisonTolerance();
}

template <class Op>
int32_t CompareTwo(const aplarray *left, const aplarray *right) {
    if (left->eltype == APL_INTG && right->eltype == APL_INTG)
        return Op{0.0}(*DataOf<const int32_t>(left), *DataOf<const int32_t>(right));
    return Op{CurrentTolerance()}(ScalarNumber(left), ScalarNumber(right));
}
}  // namespace

bool CompareScalars(DyadicRoutine routine, const aplarray *left, const aplarray *right, int32_t &value) {
    if (routine == LessRoutine)
        value = CompareTwo<LessOp>(left, right);
    else if (routine == LessEqualRoutine)
        value = CompareTwo<LessEqualOp>(left, right);
    else if (routine == EqualRoutine)
        value = CompareTwo<EqualOp>(left, right);
    else if (routine == NotEqualRoutine)
        value = CompareTwo<NotEqualOp>(left, right);
    else if (routine == GreaterEqualRoutine)
        value = CompareTwo<GreaterEqualOp>(left, right);
    else if (routine == GreaterRoutine)
        value = CompareTwo<GreaterOp>(left, right);
    else
        return false;
    return true;
}

aplarray *LessRoutine(aplarray *result, const aplarray *left, const aplarray *right) {
    return Compare<LessOp>(
        result, left, right, [](uint32_t a, uint32_t b) { return ~a & b; }, 0);
}

aplarray *LessEqualRoutine(aplarray *result, const aplarray *left, const aplarray *right) {
    return Compare<LessEqualOp>(
        result, left, right, [](uint32_t a, uint32_t b) { return ~a | b; }, 0);
}

aplarray *GreaterEqualRoutine(aplarray *result, const aplarray *left, const aplarray *right) {
    return Compare<GreaterEqualOp>(
        result, left, right, [](uint32_t a, uint32_t b) { return a | ~b; }, 0);
}

aplarray *GreaterRoutine(aplarray *result, const aplarray *left, const aplarray *right) {
    return Compare<GreaterOp>(
        result, left, right, [](uint32_t a, uint32_t b) { return a & ~b; }, 0);
}

aplarray *OrRoutine(aplarray *result, const aplarray *left, const aplarray *right) {
    return Logical(result, left, right, GcdOp{}, [](uint32_t a, uint32_t b) { return a | b; });
}

aplarray *NorRoutine(aplarray *result, const aplarray *left, const aplarray *right) {
    return Logical(result, left, right, NorOp{}, [](uint32_t a, uint32_t b) { return ~(a | b); });
}

aplarray *AndRoutine(aplarray *result, const aplarray *left, const aplarray *right) {
    return Logical(result, left, right, LcmOp{}, [](uint32_t a, uint32_t b) { return a & b; });
}

aplarray *NandRoutine(aplarray *result, const aplarray *left, const aplarray *right) {
    return Logical(result, left, right, NandOp{}, [](uint32_t a, uint32_t b) { return ~(a & b); });
}

aplarray *NonceRoutine(aplarray *, const aplarray *) {
    SetError(APL_ERR_NONCE);
    return nullptr;
}
