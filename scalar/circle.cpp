// circle: the circle functions A○B (codes ¯7 to 7; 8 to 12 in magnitude are
// NONCE) and pi times ○B. Relies on the loops of sclloops and, for REAL codes,
// on the integer view of eltypes.
#if defined(__GNUC__) && !defined(__clang__)
// GCC 12 at -O2 vectorises only loops whose trip count is a multiple of the
// vector width; the element loops need the full vectoriser.
#pragma GCC optimize("tree-vectorize")
#endif

#include "core/eltypes.h"
#include "scalar/scllib.h"
#include "scalar/sclloops.h"

#include <cmath>

namespace {

constexpr double kPi = 3.141592653589793;

// Beyond this magnitude B²−1 and B² are the same double, and B² would overflow.
constexpr double kHuge = 1e150;

template <int Code>
double Circle(double x) {
    if constexpr (Code == 0) return std::sqrt((1.0 - x) * (1.0 + x));
    if constexpr (Code == 1) return std::sin(x);
    if constexpr (Code == 2) return std::cos(x);
    if constexpr (Code == 3) return std::tan(x);
    if constexpr (Code == 4) return std::hypot(1.0, x);
    if constexpr (Code == 5) return std::sinh(x);
    if constexpr (Code == 6) return std::cosh(x);
    if constexpr (Code == 7) return std::tanh(x);
    if constexpr (Code == -1) return std::asin(x);
    if constexpr (Code == -2) return std::acos(x);
    if constexpr (Code == -3) return std::atan(x);
    if constexpr (Code == -4) return std::fabs(x) > kHuge ? std::fabs(x) : std::sqrt((x - 1.0) * (x + 1.0));
    // The library's inverse hyperbolic functions, rather than the logarithm
    // formulas, keep ¯5○B from cancelling to ln 0 for large negative B; their
    // faults are the formulas' (acosh below 1, atanh at or beyond ±1).
    if constexpr (Code == -5) return std::asinh(x);
    if constexpr (Code == -6) return std::acosh(x);
    if constexpr (Code == -7) return std::atanh(x);
}

double CircleOf(int32_t code, double x) {
    switch (code) {
        case 0: return Circle<0>(x);
        case 1: return Circle<1>(x);
        case 2: return Circle<2>(x);
        case 3: return Circle<3>(x);
        case 4: return Circle<4>(x);
        case 5: return Circle<5>(x);
        case 6: return Circle<6>(x);
        case 7: return Circle<7>(x);
        case -1: return Circle<-1>(x);
        case -2: return Circle<-2>(x);
        case -3: return Circle<-3>(x);
        case -4: return Circle<-4>(x);
        case -5: return Circle<-5>(x);
        case -6: return Circle<-6>(x);
        default: return Circle<-7>(x);
    }
}

// One code for every element: one loop per code, no test inside it.
template <int Code, class B>
void OneCode(double *out, const B *b, int64_t n) {
    ForEachStride(n, [&](int64_t begin, int64_t end) {
        for (int64_t i = begin; i < end; ++i) out[i] = Circle<Code>(static_cast<double>(b[i]));
    });
}

template <class B>
void SingleCode(int32_t code, double *out, const B *b, int64_t n) {
    switch (code) {
        case 0: OneCode<0>(out, b, n); break;
        case 1: OneCode<1>(out, b, n); break;
        case 2: OneCode<2>(out, b, n); break;
        case 3: OneCode<3>(out, b, n); break;
        case 4: OneCode<4>(out, b, n); break;
        case 5: OneCode<5>(out, b, n); break;
        case 6: OneCode<6>(out, b, n); break;
        case 7: OneCode<7>(out, b, n); break;
        case -1: OneCode<-1>(out, b, n); break;
        case -2: OneCode<-2>(out, b, n); break;
        case -3: OneCode<-3>(out, b, n); break;
        case -4: OneCode<-4>(out, b, n); break;
        case -5: OneCode<-5>(out, b, n); break;
        case -6: OneCode<-6>(out, b, n); break;
        default: OneCode<-7>(out, b, n); break;
    }
}

// A code per element; B has one element or as many as the codes.
template <class B>
void ManyCodes(const int32_t *codes, double *out, const B *b, int64_t nb, int64_t n) {
    const double x = static_cast<double>(b[0]);
    ForEachStride(n, [&](int64_t begin, int64_t end) {
        if (nb == n) {
            for (int64_t i = begin; i < end; ++i) out[i] = CircleOf(codes[i], static_cast<double>(b[i]));
        } else {
            for (int64_t i = begin; i < end; ++i) out[i] = CircleOf(codes[i], x);
        }
    });
}

// The first code that is not a circle function decides the error.
bool CheckCodes(const int32_t *codes, int64_t n) {
    for (int64_t i = 0; i < n; ++i) {
        const int32_t c = codes[i];
        if (c >= -7 && c <= 7) continue;
        SetError(c >= -12 && c <= 12 ? APL_ERR_NONCE : APL_ERR_DOMAIN);
        return false;
    }
    return true;
}

template <class B>
void Fill(const int32_t *codes, int64_t nCodes, double *out, const B *b, int64_t nb, int64_t n) {
    if (nCodes == 1)
        SingleCode(codes[0], out, b, n);
    else
        ManyCodes(codes, out, b, nb, n);
}

struct PiTimesOp : NoFault {
    double operator()(double x) const { return x * kPi; }
};

}  // namespace

// Routines: fill the result, borrow the arguments.
aplarray *CircleRoutine(aplarray *result, const aplarray *left, const aplarray *right) {
    // REAL codes must lie within 1e-13 of an integer; the integer view of a
    // REAL array is a block of its own, freed below.
    int32_t *codes = nullptr;
    const bool ownBlock = IntegerData(const_cast<aplarray *>(left), &codes);
    if (!codes) {
        if (!aplerrno) SetError(APL_ERR_DOMAIN);
        return nullptr;
    }
    const int64_t nCodes = ElementCount(left), n = ElementCount(result);
    bool ok = CheckCodes(codes, nCodes);
    if (ok) {
        ClearFloatFaults();
        double *out = DataOf<double>(result);
        if (right->eltype == APL_REAL)
            Fill(codes, nCodes, out, DataOf<const double>(right), ElementCount(right), n);
        else
            Fill(codes, nCodes, out, DataOf<const int32_t>(right), ElementCount(right), n);
        if (aplerrno) {
            ok = false;  // interrupted
        } else if (FloatFaulted() || (kScanEveryResult && !AllFinite(out, n))) {
            SetError(APL_ERR_DOMAIN);
            ok = false;
        }
    }
    if (ownBlock) FreeBlock(codes, HERE);
    return ok ? result : nullptr;
}

aplarray *PiTimesRoutine(aplarray *result, const aplarray *arg) { return NumericMonadic(result, arg, PiTimesOp{}); }
