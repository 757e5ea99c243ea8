// arith: the element routines of + - × ÷ | ⌈ ⌊ * ⍟, dyadic and monadic
// (sum, difference, product, quotient, residue, maximum, minimum, power,
// logarithm; conjugate ... natural logarithm). Relies on the loops of sclloops.
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

// Floor, ceiling, residue and the zero tests of division use this fixed
// tolerance, not CT.
constexpr double kFuzz = 1e-13;

struct AddOp : ValueFault {
    double operator()(double a, double b) const { return a + b; }
};

struct SubOp : ValueFault {
    double operator()(double a, double b) const { return a - b; }
};

struct MulOp : ValueFault {
    static constexpr bool kIntegers = true;
    double operator()(double a, double b) { return a * b; }
    // INTG products arise only between nested leaves; one that does not fit is
    // refused rather than wrapped.
    int32_t operator()(int32_t a, int32_t b) {
        const int64_t p = static_cast<int64_t>(a) * b;
        fault |= p != static_cast<int32_t>(p);
        return static_cast<int32_t>(p);
    }
};

struct DivOp : ValueFault {
    double zeroByZero;  // DIV, the value of 0÷0
    double operator()(double a, double b) const {
        const bool both = std::fabs(a) < kFuzz && std::fabs(b) < kFuzz;
        // The divisor is replaced where the quotient is not used, so that a
        // quotient computed for every lane cannot raise a fault of its own.
        const double q = a / (both ? 1.0 : b);
        return both ? zeroByZero : q;
    }
};

struct ResidueOp : NoFault {
    static constexpr bool kIntegers = true;
    double operator()(double a, double b) const {
        const bool zero = a == 0.0 || b == 0.0;
        const double d = zero ? 1.0 : a;
        const double q = b / d, n = std::floor(q + kFuzz);
        // A quotient within the tolerance of a whole number leaves nothing:
        // 0.1|0.3 is 0, not the rounding error of 0.3-3×0.1.
        const bool whole = q - n > -kFuzz && q - n < kFuzz;
        return zero || whole ? 0.0 : b - d * n;
    }
    // 64-bit intermediates: the most negative INTG divided by -1 and the sum
    // of a remainder and a negative modulus stay in range.
    int32_t operator()(int32_t a32, int32_t b32) const {
        const int64_t a = a32, b = b32;
        if (a == 0 || b == 0) return 0;
        if (a > 0) {
            const int64_t r = b % a;
            return static_cast<int32_t>(r < 0 ? r + a : r);
        }
        return static_cast<int32_t>((b % a + a) % a);
    }
};

struct MaxOp : ValueFault {
    static constexpr bool kIntegers = true;
    double operator()(double a, double b) const { return a > b ? a : b; }
    int32_t operator()(int32_t a, int32_t b) const { return a > b ? a : b; }
};

struct MinOp : ValueFault {
    static constexpr bool kIntegers = true;
    double operator()(double a, double b) const { return a < b ? a : b; }
    int32_t operator()(int32_t a, int32_t b) const { return a < b ? a : b; }
};

struct RealPowerOp : NoFault {
    double operator()(double a, double b) const { return std::pow(a, b); }
};

// The exponent arrives as a double holding an INTG exactly.
struct IntPowerOp : NoFault {
    double operator()(double a, double b) const { return IntPower(a, static_cast<int64_t>(b)); }
};

struct LogOp : NoFault {
    double operator()(double a, double b) const { return Ln(b) / Ln(a); }
};

// x to the small power E by repeated multiplication.
template <int E>
struct SmallPowerOp : NoFault {
    double operator()(double x) const {
        double r = x;
        for (int i = 1; i < E; ++i) r *= x;
        return r;
    }
};

template <int E, class A>
void SmallPower(double *out, const A *base, int64_t n) {
    MapLoop<double>(out, base, n, SmallPowerOp<E>{});
}

// A one-element INTG exponent from 0 to 6 (REAL base) or 4 (INTG base) skips
// the general powering loop. Returns false when the exponent is not such;
// otherwise fills the result with the floating-point status cleared first.
bool SmallExponent(aplarray *result, const aplarray *base, const aplarray *exponent) {
    const int64_t n = ElementCount(result);
    if (exponent->eltype != APL_INTG || ElementCount(exponent) != 1 || ElementCount(base) != n) return false;
    const int32_t e = DataOf<const int32_t>(exponent)[0];
    const bool real = base->eltype == APL_REAL;
    if (e < 0 || e > (real ? 6 : 4)) return false;
    ClearFloatFaults();
    double *out = DataOf<double>(result);
    if (e == 0) {
        for (int64_t i = 0; i < n; ++i) out[i] = 1.0;
        return true;
    }
    auto run = [&](const auto *x) {
        switch (e) {
            case 1: SmallPower<1>(out, x, n); break;
            case 2: SmallPower<2>(out, x, n); break;
            case 3: SmallPower<3>(out, x, n); break;
            case 4: SmallPower<4>(out, x, n); break;
            case 5: SmallPower<5>(out, x, n); break;
            default: SmallPower<6>(out, x, n); break;
        }
    };
    if (real)
        run(DataOf<const double>(base));
    else
        run(DataOf<const int32_t>(base));
    return true;
}

// ---- Monadic operations ---------------------------------------------------------

struct IdentityOp : ValueFault {
    double operator()(double x) const { return x; }
};

struct NegateOp : ValueFault {
    double operator()(double x) const { return -x; }
};

struct ReciprocalOp : ValueFault {
    double operator()(double x) const { return 1.0 / x; }
};

struct MagnitudeOp : ValueFault {
    static constexpr bool kIntegers = true;
    double operator()(double x) { return std::fabs(x); }
    // The most negative INTG has no INTG magnitude.
    int32_t operator()(int32_t x) {
        fault |= x == INT32_MIN;
        return x < 0 && x != INT32_MIN ? -x : x;
    }
};

struct CeilingOp : ValueFault {
    static constexpr bool kIntegers = true;
    double operator()(double x) const { return std::ceil(x - kFuzz); }
    int32_t operator()(int32_t x) const { return x; }
};

struct FloorOp : ValueFault {
    static constexpr bool kIntegers = true;
    double operator()(double x) const { return std::floor(x + kFuzz); }
    int32_t operator()(int32_t x) const { return x; }
};

struct ExpOp : NoFault {
    double operator()(double x) const { return std::exp(x); }
};

struct LnOp : NoFault {
    double operator()(double x) const { return Ln(x); }
};

// Floor, ceiling and conjugate of an array already of the result's type change
// nothing: when the result is the argument's own storage nothing is copied.
template <class Op>
aplarray *CopyingMonadic(aplarray *result, const aplarray *arg, Op op) {
    if (result->eltype == arg->eltype && result->eltype != APL_REAL) {
        if (result != arg) memcpy(DataOf(result), DataOf(arg), 4 * static_cast<size_t>(result->number));
        return result;
    }
    return NumericMonadic(result, arg, op);
}

}  // namespace

double IntPower(double base, int64_t exponent) {
    if (exponent == 0) return 1.0;
    if (base == 0.0) return 0.0;
    if (exponent < 0) {
        base = 1.0 / base;
        exponent = -exponent;
    }
    double r = 1.0;
    for (;;) {
        if (exponent & 1) r *= base;
        exponent >>= 1;
        if (exponent == 0) return r;
        base *= base;  // squared only while a higher bit remains
    }
}

// ---- Dyadic routines (result filled, arguments borrowed) ---------------------------

aplarray *AddRoutine(aplarray *result, const aplarray *left, const aplarray *right) {
    return NumericRoutine(result, left, right, AddOp{});
}

aplarray *SubRoutine(aplarray *result, const aplarray *left, const aplarray *right) {
    return NumericRoutine(result, left, right, SubOp{});
}

aplarray *MulRoutine(aplarray *result, const aplarray *left, const aplarray *right) {
    if (result->eltype == APL_BOOL)
        return BoolRoutine(result, left, right, [](uint32_t a, uint32_t b) { return a & b; });
    return NumericRoutine(result, left, right, MulOp{});
}

aplarray *DivRoutine(aplarray *result, const aplarray *left, const aplarray *right) {
    DivOp op;
    op.zeroByZero = DivisionMode();
    return NumericRoutine(result, left, right, op);
}

aplarray *ResidueRoutine(aplarray *result, const aplarray *left, const aplarray *right) {
    return NumericRoutine(result, left, right, ResidueOp{});
}

double ResidueOfReals(double a, double b) { return ResidueOp{}(a, b); }

int32_t ResidueOfIntegers(int32_t a, int32_t b) { return ResidueOp{}(a, b); }

aplarray *MaxRoutine(aplarray *result, const aplarray *left, const aplarray *right) {
    if (result->eltype == APL_BOOL)
        return BoolRoutine(result, left, right, [](uint32_t a, uint32_t b) { return a | b; });
    return NumericRoutine(result, left, right, MaxOp{});
}

aplarray *MinRoutine(aplarray *result, const aplarray *left, const aplarray *right) {
    if (result->eltype == APL_BOOL)
        return BoolRoutine(result, left, right, [](uint32_t a, uint32_t b) { return a & b; });
    return NumericRoutine(result, left, right, MinOp{});
}

aplarray *PowerRoutine(aplarray *result, const aplarray *left, const aplarray *right) {
    if (right->eltype == APL_REAL) return NumericRoutine(result, left, right, RealPowerOp{});
    if (result->eltype == APL_REAL && SmallExponent(result, left, right)) {
        if (aplerrno) return nullptr;  // interrupted
        if (FloatFaulted()) {
            SetError(APL_ERR_DOMAIN);
            return nullptr;
        }
        return result;
    }
    return NumericRoutine(result, left, right, IntPowerOp{});
}

aplarray *LogRoutine(aplarray *result, const aplarray *left, const aplarray *right) {
    return NumericRoutine(result, left, right, LogOp{});
}

// ---- Monadic routines -----------------------------------------------------------------

aplarray *ConjugateRoutine(aplarray *result, const aplarray *arg) {
    if (result == arg) return result;  // REAL in place: already itself
    return NumericMonadic(result, arg, IdentityOp{});
}

aplarray *NegateRoutine(aplarray *result, const aplarray *arg) { return NumericMonadic(result, arg, NegateOp{}); }

aplarray *SignumRoutine(aplarray *result, const aplarray *arg) {
    ArgumentView a(arg, ArgumentView::Integers);
    if (!a.ok()) return nullptr;
    const int64_t n = ElementCount(result);
    int32_t *out = DataOf<int32_t>(result);
    // Exact tests, no tolerance: ×1E¯300 is 1.
    auto sign = [](auto x) { return static_cast<int32_t>((x > 0) - (x < 0)); };
    const bool real = a.get()->eltype == APL_REAL;
    const bool done = ForEachStride(n, [&](int64_t begin, int64_t end) {
        if (real)
            for (int64_t i = begin; i < end; ++i) out[i] = sign(DataOf<const double>(a.get())[i]);
        else
            for (int64_t i = begin; i < end; ++i) out[i] = sign(DataOf<const int32_t>(a.get())[i]);
    });
    return done ? result : nullptr;
}

aplarray *ReciprocalRoutine(aplarray *result, const aplarray *arg) {
    return NumericMonadic(result, arg, ReciprocalOp{});
}

aplarray *MagnitudeRoutine(aplarray *result, const aplarray *arg) { return NumericMonadic(result, arg, MagnitudeOp{}); }

aplarray *CeilingRoutine(aplarray *result, const aplarray *arg) { return CopyingMonadic(result, arg, CeilingOp{}); }

aplarray *FloorRoutine(aplarray *result, const aplarray *arg) { return CopyingMonadic(result, arg, FloorOp{}); }

aplarray *ExpRoutine(aplarray *result, const aplarray *arg) { return NumericMonadic(result, arg, ExpOp{}); }

aplarray *LnRoutine(aplarray *result, const aplarray *arg) { return NumericMonadic(result, arg, LnOp{}); }
