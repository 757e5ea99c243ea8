// foldsteps: the one-step operations with which reduce and scan fold a vector
// (x = element, a = accumulator), and the choice of them by character code.
// Relies on nothing but the standard library; CT and DIV come from the caller.
#pragma once

#include <cmath>
#include <cstdint>
#include <type_traits>

namespace fold {

// The character codes of the operands that have typed loops.
enum class Kind : uint8_t { None, Add, Sub, Mul, Div, Max, Min, And, Or, Nand, Nor, Eq, Ne, Lt, Le, Ge, Gt };

Kind KindOf(int code);
inline bool IsComparison(Kind k) { return k >= Kind::Eq; }
inline bool IsLogical(Kind k) { return k >= Kind::And && k <= Kind::Nor; }
inline bool IsArithmetic(Kind k) { return k >= Kind::Add && k <= Kind::Div; }

// Tolerant comparison of REAL values: t = CT × max(|x|, |a|); integers and
// characters compare exactly.
inline double Larger(double x, double a) {
    const double p = std::fabs(x), q = std::fabs(a);
    return p > q ? p : q;
}
template <class T>
inline bool Compare(Kind k, T x, T a, double ct) {
    if constexpr (std::is_floating_point_v<T>) {
        const double t = ct * Larger(x, a);
        switch (k) {
            case Kind::Eq: return std::fabs(x - a) <= t;
            case Kind::Ne: return std::fabs(x - a) > t;
            case Kind::Lt: return a - x > t;
            case Kind::Le: return x - a <= t;
            case Kind::Ge: return a - x <= t;
            default: return x - a > t;
        }
    } else {
        switch (k) {
            case Kind::Eq: return x == a;
            case Kind::Ne: return x != a;
            case Kind::Lt: return x < a;
            case Kind::Le: return x <= a;
            case Kind::Ge: return x >= a;
            default: return x > a;
        }
    }
}

// Comparison functors with the kind fixed at compile time, so that the loops
// that use them carry no switch.
template <Kind K>
struct Cmp {
    double ct;
    template <class T>
    T operator()(T x, T a) const {
        return static_cast<T>(Compare<T>(K, x, a, ct));
    }
};

// Bitwise folds of integers: the logical operands fold with AND and OR of the
// values, which agrees with the dyadic functions on Boolean data.
template <Kind K>
struct Bits {
    int32_t operator()(int32_t x, int32_t a) const {
        if constexpr (K == Kind::And)
            return x & a;
        else if constexpr (K == Kind::Or)
            return x | a;
        else if constexpr (K == Kind::Nand)
            return (x & a) == 0;
        else
            return (x | a) == 0;
    }
};

// x ÷ a as the folds divide: 0÷0 gives the DIV value, and any other division
// by zero is noted in `zeroDivide` so that the caller can end in DOMAIN once
// the loop is done (a branch out of a vectorised loop would cost more).
struct Quotient {
    double div;
    bool *zeroDivide;
    double operator()(double x, double a) const {
        if (a != 0) return x / a;
        if (x != 0) *zeroDivide = true;
        return div;
    }
};

// The larger and smaller of two values, exactly (no tolerance).
struct Max {
    template <class T>
    T operator()(T x, T a) const {
        return x > a ? x : a;
    }
};
struct Min {
    template <class T>
    T operator()(T x, T a) const {
        return x < a ? x : a;
    }
};

}  // namespace fold
