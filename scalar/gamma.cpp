// gamma: factorial !B and binomial A!B. Relies on the loops of sclloops.
// Whole arguments give the double nearest the exact integer; others come from
// the C library's gamma functions, to the double's precision.
#include "scalar/scllib.h"
#include "scalar/sclloops.h"

#include <array>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

// 170! is the largest factorial a double holds; 171! overflows.
constexpr int kMaxFactorial = 170;

// A big natural number held in 32-bit limbs, least significant first, rounded
// once to the nearest double: the top 64 bits with a sticky bit for whatever
// lies below them, so the one rounding of the conversion is the right one.
double NearestDouble(const std::vector<uint32_t> &limbs) {
    size_t top = limbs.size();
    while (top > 0 && limbs[top - 1] == 0) --top;
    if (top == 0) return 0.0;
    if (top <= 2) return static_cast<double>(top == 2 ? uint64_t{limbs[1]} << 32 | limbs[0] : limbs[0]);
    const int lead = 32 - __builtin_clz(limbs[top - 1]);         // bits used in the top limb
    const int64_t bits = static_cast<int64_t>(top - 1) * 32 + lead;  // bits in the number
    const int64_t shift = bits - 64;                                // bits below the top 64
    uint64_t mantissa = 0;
    bool sticky = false;
    for (size_t i = 0; i < top; ++i) {
        for (int b = 0; b < 32; ++b) {
            const int64_t position = static_cast<int64_t>(i) * 32 + b;
            const bool bit = (limbs[i] >> b) & 1;
            if (position < shift)
                sticky = sticky || bit;
            else if (bit)
                mantissa |= uint64_t{1} << (position - shift);
        }
    }
    if (sticky) mantissa |= 1;  // 11 bits below the double's 53: a sticky bit decides ties correctly
    return std::ldexp(static_cast<double>(mantissa), static_cast<int>(shift));
}

// n! for n = 0 … 170, each the double nearest the exact product.
std::array<double, kMaxFactorial + 1> BuildFactorials() {
    std::array<double, kMaxFactorial + 1> table{};
    std::vector<uint32_t> product{1};
    table[0] = 1.0;
    for (uint32_t n = 1; n <= kMaxFactorial; ++n) {
        uint64_t carry = 0;
        for (uint32_t &limb : product) {
            const uint64_t v = uint64_t{limb} * n + carry;
            limb = static_cast<uint32_t>(v);
            carry = v >> 32;
        }
        if (carry) product.push_back(static_cast<uint32_t>(carry));
        table[n] = NearestDouble(product);
    }
    return table;
}

double ExactFactorial(int n) {
    static const std::array<double, kMaxFactorial + 1> table = BuildFactorials();
    return table[static_cast<size_t>(n)];
}

bool Integral(double x) { return std::fabs(x) < 9.0e15 && x == std::floor(x); }

// The binomial coefficient n over r for whole n ≥ r ≥ 0, formed as the
// product of (n−r+i)/i. Each partial product is a whole number, exact in the
// 64-bit mantissa of a long double while it stays below 2^64, so every result
// a double can hold exactly comes out exact; beyond that the error stays far
// below the double's last place. Infinity when the result overflows.
double Choose(double n, double r) {
    if (r > n - r) r = n - r;
    // C(n, r) ≥ C(2r, r), beyond the double's range for r above about 515.
    if (r > 1100) return HUGE_VAL;
    long double c = 1.0L;
    const long double base = static_cast<long double>(n) - static_cast<long double>(r);
    for (int i = 1; i <= static_cast<int>(r); ++i) {
        c = c * (base + i) / i;
        if (c > static_cast<long double>(DBL_MAX)) return HUGE_VAL;
    }
    return static_cast<double>(c);
}

// Γ(x)÷(Γ(y)×Γ(z)) for positive x, y, z: directly while the gamma values are
// finite, else as one exponential of log-gammas (2.5!200 say).
double GammaRatio(double x, double y, double z) {
    if (x <= kMaxFactorial && y <= kMaxFactorial && z <= kMaxFactorial)
        return std::tgamma(x) / (std::tgamma(y) * std::tgamma(z));
    return std::exp(std::lgamma(x) - std::lgamma(y) - std::lgamma(z));
}

// (-1)^e; a non-integral e is an invalid operation, hence DOMAIN.
double MinusOneTo(double e) { return std::pow(-1.0, e); }

struct FactorialOp : NoFault {
    // For INTG x the sum x+1 is exact in double, as integer arithmetic would be.
    double operator()(double x) {
        const double z = x + 1.0;
        double r;
        if (z <= -1.0) {
            r = HUGE_VAL;
        } else if (Integral(x)) {
            // Γ has poles at 0 and the negative integers: !¯1 has no value.
            r = x < 0 ? HUGE_VAL : x > kMaxFactorial ? HUGE_VAL : ExactFactorial(static_cast<int>(x));
        } else {
            r = std::tgamma(z);
        }
        if (!std::isfinite(r)) {
            fault = true;
            return 0.0;
        }
        return r;
    }
};

// The case index k = (A<0) + 2(B<0) + 4(B−A<0) picks the formula, each a
// quotient of gamma functions with positive arguments. Whole arguments give
// exact binomial coefficients with the sign the formula gives.
struct BinomialOp : NoFault {
    double operator()(double a, double b) {
        const int k = (a < 0 ? 1 : 0) + (b < 0 ? 2 : 0) + (b - a < 0 ? 4 : 0);
        const bool whole = Integral(a) && Integral(b);
        double r;
        switch (k) {
            case 0: r = whole ? Choose(b, a) : GammaRatio(b + 1, a + 1, b - a + 1); break;
            case 3: {
                const double p = std::fabs(a + 1), q = std::fabs(b + 1);
                r = MinusOneTo(b - a) * (whole ? Choose(p, q) : GammaRatio(p + 1, q + 1, p + 1 - q));
                break;
            }
            case 6: r = MinusOneTo(a) * (whole ? Choose(a - b - 1, a) : GammaRatio(a - b, a + 1, -b)); break;
            default: return 0.0;  // 1, 4, 7: out of range; 2 and 5 cannot occur
        }
        if (!std::isfinite(r)) {
            fault = true;
            return 0.0;
        }
        return r;
    }
};

}  // namespace

// Routines: fill the result, borrow the arguments.
aplarray *FactorialRoutine(aplarray *result, const aplarray *arg) { return NumericMonadic(result, arg, FactorialOp{}); }

aplarray *BinomialRoutine(aplarray *result, const aplarray *left, const aplarray *right) {
    return NumericRoutine(result, left, right, BinomialOp{});
}
