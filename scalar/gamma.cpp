// gamma: the log-gamma series and the two members built on it, factorial !B
// and binomial A!B. Relies on the loops of sclloops; accurate to the series'
// precision (about ten significant digits), exact only at !0 and !1.
#include "scalar/scllib.h"
#include "scalar/sclloops.h"

#include <cmath>

namespace {

constexpr double kLanczos[] = {76.18009173, -86.50532033, 24.01409822, -1.231739516, 0.00120858003, -0.00000536382};

// (-1)^e; a non-integral e is an invalid operation, hence DOMAIN.
double MinusOneTo(double e) { return std::pow(-1.0, e); }

struct FactorialOp : NoFault {
    // For INTG x the sum x+1 is exact in double, as integer arithmetic would be.
    double operator()(double x) {
        const double z = x + 1.0;
        if (z <= -1.0) {
            fault = true;
            return 0.0;
        }
        return std::exp(LnGamma(z));
    }
};

// The case index k = (A<0) + 2(B<0) + 4(B−A<0) picks the formula; each
// quotient of gamma functions is formed as one exponential of a difference of
// log-gammas, so that 2!200 does not overflow on the way to 19900. All
// log-gamma arguments here are positive.
struct BinomialOp : NoFault {
    double operator()(double a, double b) const {
        const int k = (a < 0 ? 1 : 0) + (b < 0 ? 2 : 0) + (b - a < 0 ? 4 : 0);
        switch (k) {
            case 0: return std::exp(LnGamma(b + 1) - LnGamma(a + 1) - LnGamma(b - a + 1));
            case 3: {
                const double p = std::fabs(a + 1), q = std::fabs(b + 1);
                return MinusOneTo(b - a) * std::exp(LnGamma(p + 1) - LnGamma(q + 1) - LnGamma(p + 1 - q));
            }
            case 6: return MinusOneTo(a) * std::exp(LnGamma(a - b) - LnGamma(a + 1) - LnGamma(-b));
            default: return 0.0;  // 1, 4, 7: out of range; 2 and 5 cannot occur
        }
    }
};

}  // namespace

double LnGamma(double x) {
    if (x <= -1.0) {
        SetError(APL_ERR_DOMAIN);
        return 0.0;
    }
    double y = x - 1.0;
    // ln Γ(1) = ln Γ(2) = 0: exact, so that !0 and !1 are exactly 1.
    if (std::fabs(y) < 1e-13 || std::fabs(y - 1.0) < 1e-13) return 0.0;
    double t = y + 5.5;
    t = (y + 0.5) * std::log(t) - t;
    double s = 1.0;
    for (const double c : kLanczos) {
        y += 1.0;
        s += c / y;
    }
    return t + std::log(2.50662827465 * s);
}

// Routines: fill the result, borrow the arguments.
aplarray *FactorialRoutine(aplarray *result, const aplarray *arg) { return NumericMonadic(result, arg, FactorialOp{}); }

aplarray *BinomialRoutine(aplarray *result, const aplarray *left, const aplarray *right) {
    return NumericRoutine(result, left, right, BinomialOp{});
}
