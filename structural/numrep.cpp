// numrep: number representation, the base value ⊥ (APL_Encode) that combines
// digits under radices into numbers and the representation ⊤ (APL_Decode) that
// splits numbers into digits. Relies on the array core and the standard wrapper.
#if defined(__GNUC__) && !defined(__clang__)
// GCC 12 at -O2 vectorises only loops whose trip count is a multiple of the
// vector width; the digit loops need the full vectoriser.
#pragma GCC optimize("tree-vectorize")
#endif

#include "apl.h"
#include "core/arrays.h"
#include "core/eltypes.h"
#include "core/errors.h"
#include "core/wrapper.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// A radix of smaller magnitude counts as zero in REAL data; floors use the same
// fuzz as the residue function, so that digits agree with it.
constexpr double kZeroRadix = 1e-13;
constexpr double kFloorFuzz = 1e-13;
// Integers up to this magnitude are exact in a double.
constexpr double kExactInDouble = 9007199254740992.0;  // 2^53

constexpr int kAdmitted = APL_CHAR | APL_INTG | APL_REAL | APL_NESTED;

bool Numeric(const aplarray *a) { return a->eltype == APL_INTG || a->eltype == APL_REAL; }

// The common checks of both functions: axis, missing arguments, types. A
// left argument of rank above `leftRankLimit` is NONCE.
bool CheckDyadicNumeric(const CallArgs &args, int leftRankLimit) {
    if (args.axis) {
        SetError(APL_ERR_AXIS);
        return false;
    }
    if (!args.right) {
        SetError(APL_ERR_SYNTAX);
        return false;
    }
    if (!args.left || args.left->rank > leftRankLimit) {
        SetError(APL_ERR_NONCE);
        return false;
    }
    if (!Numeric(args.left) || !Numeric(args.right)) {
        SetError(APL_ERR_DOMAIN);
        return false;
    }
    return true;
}

// The argument itself when REAL, else a new REAL temporary (INTG widened).
aplarray *AsReal(aplarray *a) { return a->eltype == APL_REAL ? a : IntToReal(a); }

// Returns a new temporary of the shape, or null with WS FULL or LIMIT.
aplarray *NewResult(int eltype, const int32_t *shape, int rank) {
    if (rank > kMaxRank) {
        SetError(APL_ERR_LIMIT);
        return nullptr;
    }
    int64_t count = 1;
    for (int i = 0; i < rank; ++i) {
        count *= shape[i];
        if (count > INT32_MAX) {
            SetError(APL_ERR_WSFULL);
            return nullptr;
        }
    }
    return AllocArray(APL_SIMPLE | APL_TEMP, rank, eltype, shape, HERE);
}

// A scratch vector of n elements in a raw block, freed at scope exit.
template <class T>
struct Scratch {
    T *data = nullptr;
    explicit Scratch(int64_t n) {
        const int64_t bytes = (n > 0 ? n : 1) * static_cast<int64_t>(sizeof(T));
        if (bytes <= INT32_MAX) data = static_cast<T *>(AllocBlock(static_cast<size_t>(bytes), HERE));
        if (!data) SetError(APL_ERR_WSFULL);
    }
    ~Scratch() { FreeBlock(data, HERE); }
    Scratch(const Scratch &) = delete;
    Scratch &operator=(const Scratch &) = delete;
};

// Counts work done and looks at the interrupt flag every kInterruptStride elements.
struct InterruptCheck {
    int64_t done = 0;
    bool Stop(int64_t elements) {
        done += elements;
        if (done < kInterruptStride) return false;
        done = 0;
        return InterruptRequested();
    }
};

// Runs body(begin, end) over [0, n) a stride at a time, counting each piece,
// so that one long row or column cannot run on past a Ctrl-C. False when the
// host asked to stop.
template <class Body>
bool InStrides(InterruptCheck &interrupt, int64_t n, Body body) {
    for (int64_t begin = 0; begin < n; begin += kInterruptStride) {
        const int64_t end = n - begin < kInterruptStride ? n : begin + kInterruptStride;
        body(begin, end);
        if (interrupt.Stop(end - begin)) return false;
    }
    return true;
}

// ---- Base value ------------------------------------------------------------------

// How the radices (rows of left) meet the digits (columns of right). A
// single-element argument is repeated along the joined axis: stride 0.
struct Joined {
    int64_t rows = 1;     // radix rows: the result's leading part
    int64_t columns = 1;  // digit columns: the result's trailing part
    int64_t length = 1;   // radices per row = digits per column
    int64_t radixStep = 1;
    int64_t digitStep = 1;  // between digits of one column, in elements
};

bool SingleElement(const aplarray *a) { return a->rank <= 1 && a->number == 1; }

// The joined axes and the result shape; false with LENGTH when they differ.
bool JoinAxes(const aplarray *left, const aplarray *right, Joined &j, int32_t *shape, int &rank) {
    const bool leftSingle = SingleElement(left), rightSingle = SingleElement(right);
    const int64_t leftLength = left->rank ? left->shape[left->rank - 1] : 1;
    const int64_t rightLength = right->rank ? right->shape[0] : 1;
    if (!leftSingle && !rightSingle && leftLength != rightLength) {
        SetError(APL_ERR_LENGTH);
        return false;
    }
    j.length = leftSingle ? (rightSingle ? 1 : rightLength) : leftLength;
    rank = 0;
    if (!leftSingle)
        for (int i = 0; i + 1 < left->rank; ++i) {
            shape[rank++] = left->shape[i];
            j.rows *= left->shape[i];
        }
    if (!rightSingle)
        for (int i = 1; i < right->rank; ++i) {
            if (rank < kMaxRank) shape[rank] = right->shape[i];
            ++rank;
            j.columns *= right->shape[i];
        }
    j.radixStep = leftSingle ? 0 : 1;
    j.digitStep = rightSingle ? 0 : j.columns;
    return true;
}

// Horner's rule for one radix row over every digit column: acc = acc × r + d.
template <class Digit>
bool BaseValueRows(const Joined &j, const double *radices, const Digit *digits, double *out) {
    InterruptCheck interrupt;
    for (int64_t row = 0; row < j.rows; ++row) {
        double *acc = out + row * j.columns;
        for (int64_t c = 0; c < j.columns; ++c) acc[c] = 0;
        const double *radix = radices + row * j.length * j.radixStep;
        for (int64_t k = 0; k < j.length; ++k) {
            const double r = radix[k * j.radixStep];
            const Digit *d = digits + k * j.digitStep;
            // A single-element right argument has one column: d[c] is d[0].
            if (!InStrides(interrupt, j.columns, [&](int64_t begin, int64_t end) {
                    for (int64_t c = begin; c < end; ++c) acc[c] = acc[c] * r + d[c];
                }))
                return false;
        }
    }
    return true;
}

// The same with 64-bit integers; false when a value leaves them.
bool BaseValueInt64(const Joined &j, const int32_t *radices, const int32_t *digits, int64_t *out) {
    InterruptCheck interrupt;
    for (int64_t row = 0; row < j.rows; ++row) {
        int64_t *acc = out + row * j.columns;
        for (int64_t c = 0; c < j.columns; ++c) acc[c] = 0;
        const int32_t *radix = radices + row * j.length * j.radixStep;
        bool overflow = false;
        for (int64_t k = 0; k < j.length; ++k) {
            const int64_t r = radix[k * j.radixStep];
            const int32_t *d = digits + k * j.digitStep;
            if (!InStrides(interrupt, j.columns, [&](int64_t begin, int64_t end) {
                    for (int64_t c = begin; c < end; ++c) {
                        int64_t t;
                        overflow |= __builtin_mul_overflow(acc[c], r, &t);
                        overflow |= __builtin_add_overflow(t, static_cast<int64_t>(d[c]), &acc[c]);
                    }
                }))
                return false;
        }
        if (overflow) return false;
    }
    return true;
}

// The largest magnitude that any partial sum of Horner's rule can reach on
// INTG data whose digits lie in lowest ... highest, over every row (+inf when
// it is beyond every double).
double LargestPartialSum(const Joined &j, const int32_t *radices, int32_t lowest, int32_t highest) {
    const double digitMax = std::fmax(-static_cast<double>(lowest), static_cast<double>(highest));
    double largest = 0;
    for (int64_t row = 0; row < j.rows; ++row) {
        double bound = 0;
        const int32_t *radix = radices + row * j.length * j.radixStep;
        for (int64_t k = 0; k < j.length; ++k) {
            bound = bound * std::fabs(double(radix[k * j.radixStep])) + digitMax;
            largest = std::fmax(largest, bound);
        }
    }
    return largest;
}

// Horner's rule in 32-bit integers, wrapping, noting the smallest and largest
// digit on the way: the values are right when LargestPartialSum then says that
// no partial sum can have left 32 bits. One pass over the digits either way.
bool BaseValueInt32(const Joined &j, const int32_t *radices, const int32_t *digits, int32_t *out, int32_t &lowest,
                    int32_t &highest) {
    InterruptCheck interrupt;
    int32_t low = 0, high = 0;
    for (int64_t row = 0; row < j.rows; ++row) {
        int32_t *__restrict acc = out + row * j.columns;
        for (int64_t c = 0; c < j.columns; ++c) acc[c] = 0;
        const int32_t *radix = radices + row * j.length * j.radixStep;
        for (int64_t k = 0; k < j.length; ++k) {
            const auto r = static_cast<uint32_t>(radix[k * j.radixStep]);
            const int32_t *__restrict d = digits + k * j.digitStep;
            for (int64_t begin = 0; begin < j.columns; begin += kInterruptStride) {
                const int64_t end = j.columns - begin < kInterruptStride ? j.columns : begin + kInterruptStride;
                for (int64_t c = begin; c < end; ++c) {
                    const int32_t digit = d[c];
                    low = digit < low ? digit : low;
                    high = digit > high ? digit : high;
                    acc[c] = static_cast<int32_t>(static_cast<uint32_t>(acc[c]) * r + static_cast<uint32_t>(digit));
                }
                if (interrupt.Stop(end - begin)) return false;
            }
        }
    }
    lowest = low;
    highest = high;
    return true;
}

// A sum that overflowed the doubles is a floating-point fault: DOMAIN.
bool AllFinite(const double *values, int64_t n) {
    bool finite = true;
    for (int64_t i = 0; i < n; ++i) finite &= std::isfinite(values[i]);
    return finite;
}

// Narrows exact values to a new INTG array, or returns the REAL array when one
// does not fit. Consumes `real`.
aplarray *IntegerIfItFits(aplarray *real) {
    const double *in = DataOf<double>(real);
    bool fits = true;
    for (int32_t i = 0; i < real->number; ++i) fits &= in[i] >= INT32_MIN && in[i] <= INT32_MAX;
    if (!fits) return real;
    TempGuard guard(real);
    aplarray *result = AllocArray(APL_SIMPLE | APL_TEMP, real->rank, APL_INTG, real->shape, HERE);
    if (!result) return nullptr;
    int32_t *out = DataOf<int32_t>(result);
    for (int32_t i = 0; i < real->number; ++i) out[i] = static_cast<int32_t>(in[i]);
    return result;
}

// Both arguments INTG: exact arithmetic, an INTG result when every value fits.
// In 32-bit integers when every partial sum fits, else in doubles while they
// are exact, else in 64-bit integers. Returns a new temporary or null with the
// error set.
aplarray *BaseValueIntegers(const Joined &j, const aplarray *left, const aplarray *right, const int32_t *shape,
                            int rank) {
    const int32_t *radices = DataOf<int32_t>(left);
    const int32_t *digits = DataOf<int32_t>(right);
    int32_t lowest = 0, highest = 0;
    double largest;
    {
        TempGuard result(NewResult(APL_INTG, shape, rank));
        if (!result.get() || !BaseValueInt32(j, radices, digits, DataOf<int32_t>(result.get()), lowest, highest))
            return nullptr;
        largest = LargestPartialSum(j, radices, lowest, highest);
        if (largest <= INT32_MAX) return result.release();
    }
    TempGuard guard(NewResult(APL_REAL, shape, rank));
    if (!guard.get()) return nullptr;
    aplarray *real = guard.get();
    double *out = DataOf<double>(real);
    if (largest < kExactInDouble) {
        Scratch<double> wide(left->number);
        if (!wide.data) return nullptr;
        for (int32_t i = 0; i < left->number; ++i) wide.data[i] = radices[i];
        if (!BaseValueRows(j, wide.data, digits, out)) return nullptr;
        return IntegerIfItFits(guard.release());
    }
    Scratch<int64_t> exact(static_cast<int64_t>(real->number));
    if (!exact.data) return nullptr;
    if (BaseValueInt64(j, radices, digits, exact.data)) {
        for (int32_t i = 0; i < real->number; ++i) out[i] = static_cast<double>(exact.data[i]);
        return IntegerIfItFits(guard.release());
    }
    if (aplerrno) return nullptr;
    // Beyond 64 bits the result is REAL in any case, and may leave the doubles.
    Scratch<double> wide(left->number);
    if (!wide.data) return nullptr;
    for (int32_t i = 0; i < left->number; ++i) wide.data[i] = radices[i];
    if (!BaseValueRows(j, wide.data, digits, out)) return nullptr;
    if (!AllFinite(out, real->number)) {
        SetError(APL_ERR_DOMAIN);
        return nullptr;
    }
    return guard.release();
}

aplarray *BaseValue(CallArgs &args) {
    if (!CheckDyadicNumeric(args, kMaxRank)) return nullptr;
    Joined j;
    int32_t shape[kMaxRank];
    int rank = 0;
    if (!JoinAxes(args.left, args.right, j, shape, rank)) return nullptr;
    if (args.left->eltype == APL_INTG && args.right->eltype == APL_INTG)
        return BaseValueIntegers(j, args.left, args.right, shape, rank);
    aplarray *real = NewResult(APL_REAL, shape, rank);
    if (!real) return nullptr;
    TempGuard guard(real);
    TempGuard radices(AsReal(args.left));
    if (aplerrno) return nullptr;
    TempGuard digits(AsReal(args.right));
    if (aplerrno) return nullptr;
    double *out = DataOf<double>(real);
    if (!BaseValueRows(j, DataOf<double>(radices.get()), DataOf<double>(digits.get()), out)) return nullptr;
    if (!AllFinite(out, real->number)) {
        SetError(APL_ERR_DOMAIN);
        return nullptr;
    }
    return guard.release();
}

// ---- Representation ----------------------------------------------------------------
// Digits follow the floor rule of the residue function: each digit is the
// residue of the value under its radix (so it has the radix's sign), and the
// value goes on as the floor of the quotient. Then L⊥L⊤R reproduces R whenever
// R is representable under L, negative values included.

// One row of INTG digits under the radix r (|r| ≥ 2), the rest held in doubles.
// The quotient comes from the reciprocal: every value is below 2^31 in
// magnitude, so the product is off from the true quotient by less than the
// distance of a non-integral quotient to the next integer, and truncating it
// leaves q at most one away from the floor; the remainder, exact in doubles,
// says which way. Written without branches so that the loop vectorises: the
// values are integers of at most 2^32 in magnitude, no operation here can
// trap, and saying so lets the compiler turn the corrections into selects.
#if !defined(__clang__)  // clang (the fuzz build) has no such attribute
__attribute__((optimize("tree-vectorize", "no-trapping-math")))
#endif
void DigitsUnder(int32_t r, double *__restrict rest, int64_t n, int32_t *__restrict digit) {
    const double radix = r, inverse = 1.0 / radix;
    const double sign = r > 0 ? 1.0 : -1.0, magnitude = std::fabs(radix);
    for (int64_t j = 0; j < n; ++j) {
        const double v = rest[j];
        double q = static_cast<double>(static_cast<int32_t>(v * inverse));
        double remainder = v - q * radix;
        const double signedRemainder = remainder * sign;
        const double under = signedRemainder < 0 ? 1.0 : 0.0;
        const double over = signedRemainder >= magnitude ? 1.0 : 0.0;
        q += over - under;
        remainder += (under - over) * radix;
        digit[j] = static_cast<int32_t>(remainder);
        rest[j] = q;
    }
}

// Values go a block at a time through every radix, so that the rest stays
// in the first-level cache.
constexpr int64_t kDigitBlock = 1024;

// A radix d ≥ 2 as a multiply and a shift: for every n below 2^31,
// ⌊n÷d⌋ = (n × multiplier) >> shift, with shift = 31 + ⌈log2 d⌉ and the
// multiplier the smallest at or above 2^shift ÷ d (below 2^32), whose error
// is less than d in 2^shift: too little to reach the next integer.
struct Divisor {
    uint32_t d = 0;
    uint32_t multiplier = 0;
    int shift = 0;
    explicit Divisor(uint32_t divisor) : d(divisor) {
        int log = 0;
        while ((uint64_t{1} << log) < divisor) ++log;
        shift = 31 + log;
        multiplier = static_cast<uint32_t>(((uint64_t{1} << shift) + divisor - 1) / divisor);
    }
};

// One row of digits of values from 0 to 2^31-1 under a radix of 2 or more:
// exact integer arithmetic without corrections, which vectorises.
#if !defined(__clang__)
__attribute__((optimize("tree-vectorize")))
#endif
void DigitsOfNaturals(const Divisor &radix, uint32_t *__restrict rest, int64_t n, int32_t *__restrict digit) {
    const uint32_t d = radix.d, multiplier = radix.multiplier;
    const int shift = radix.shift;
    for (int64_t j = 0; j < n; ++j) {
        const uint32_t v = rest[j];
        const auto q = static_cast<uint32_t>((static_cast<uint64_t>(v) * multiplier) >> shift);
        digit[j] = static_cast<int32_t>(v - q * d);
        rest[j] = q;
    }
}

// The digits of a block of values none of which is negative, under radices
// none of which is: the quotients stay natural numbers below 2^31 and every
// digit fits.
void RepresentNaturals(const int32_t *radices, const Divisor *divisors, int64_t m, const int32_t *values, int64_t count,
                       int64_t n, int32_t *out) {
    uint32_t rest[kDigitBlock];
    for (int64_t j = 0; j < count; ++j) rest[j] = static_cast<uint32_t>(values[j]);
    for (int64_t k = m - 1; k >= 0; --k) {
        int32_t *digit = out + k * n;
        if (radices[k] == 0) {
            for (int64_t j = 0; j < count; ++j) {
                digit[j] = static_cast<int32_t>(rest[j]);
                rest[j] = 0;
            }
        } else if (radices[k] == 1) {
            for (int64_t j = 0; j < count; ++j) digit[j] = 0;
        } else {
            DigitsOfNaturals(divisors[k], rest, count, digit);
        }
    }
}

bool NoneNegative(const int32_t *values, int64_t n) {
    int32_t low = 0;
    for (int64_t j = 0; j < n; ++j) low = values[j] < low ? values[j] : low;
    return low >= 0;
}

// INTG digits, from the last radix to the first; false when a digit does not
// fit in 32 bits (a zero radix after a radix of -1 can hold 2^31). The rest
// stays within ±2^31, exact in doubles.
bool RepresentIntegers(const int32_t *radices, int64_t m, const int32_t *values, int64_t n, int32_t *out) {
    double rest[kDigitBlock];
    bool fits = true;
    // Radices and values that are natural numbers (the usual case) take the
    // exact integer division; any negative one, the doubles below.
    std::vector<Divisor> divisors;
    if (NoneNegative(radices, m))
        for (int64_t k = 0; k < m; ++k) divisors.emplace_back(static_cast<uint32_t>(radices[k] < 2 ? 2 : radices[k]));
    for (int64_t from = 0; from < n; from += kDigitBlock) {
        const int64_t count = n - from < kDigitBlock ? n - from : kDigitBlock;
        if (!divisors.empty() && NoneNegative(values + from, count)) {
            RepresentNaturals(radices, divisors.data(), m, values + from, count, n, out + from);
            if (InterruptAt(from)) return false;
            continue;
        }
        for (int64_t j = 0; j < count; ++j) rest[j] = values[from + j];
        for (int64_t k = m - 1; k >= 0; --k) {
            const int32_t r = radices[k];
            int32_t *digit = out + k * n + from;
            if (r == 0) {
                // A zero radix takes the whole remaining value; radices before it get 0.
                for (int64_t j = 0; j < count; ++j) {
                    fits &= rest[j] <= INT32_MAX;
                    digit[j] = static_cast<int32_t>(std::fmin(rest[j], INT32_MAX));
                    rest[j] = 0;
                }
            } else if (r == 1 || r == -1) {
                // Every value is a multiple: digit 0, quotient ±value.
                for (int64_t j = 0; j < count; ++j) {
                    digit[j] = 0;
                    rest[j] *= r;
                }
            } else {
                DigitsUnder(r, rest, count, digit);
            }
        }
        if (InterruptAt(from)) return false;
    }
    return fits;
}

// REAL digits, the same rule with the fuzz of floor; false on interrupt.
bool RepresentReals(const double *radices, int64_t m, const double *values, int64_t n, double *out) {
    Scratch<double> rest(n);
    if (!rest.data) return false;
    memcpy(rest.data, values, static_cast<size_t>(n) * sizeof(double));
    InterruptCheck interrupt;
    for (int64_t k = m - 1; k >= 0; --k) {
        const double r = radices[k];
        double *digit = out + k * n;
        const bool done = InStrides(interrupt, n, [&](int64_t begin, int64_t end) {
            if (std::fabs(r) < kZeroRadix) {
                for (int64_t j = begin; j < end; ++j) {
                    digit[j] = rest.data[j];
                    rest.data[j] = 0;
                }
            } else {
                for (int64_t j = begin; j < end; ++j) {
                    const double q = std::floor(rest.data[j] / r + kFloorFuzz);
                    digit[j] = rest.data[j] - q * r;
                    rest.data[j] = q;
                }
            }
        });
        if (!done) return false;
    }
    return true;
}

aplarray *Representation(CallArgs &args) {
    if (!CheckDyadicNumeric(args, 1)) return nullptr;
    const aplarray *left = args.left, *right = args.right;
    int32_t shape[2 * kMaxRank];
    int rank = 0;
    for (int i = 0; i < left->rank; ++i) shape[rank++] = left->shape[i];
    for (int i = 0; i < right->rank; ++i) shape[rank++] = right->shape[i];
    const int64_t m = left->number, n = right->number;
    if (left->eltype == APL_INTG && right->eltype == APL_INTG) {
        TempGuard result(NewResult(APL_INTG, shape, rank));
        if (!result.get()) return nullptr;
        if (RepresentIntegers(DataOf<int32_t>(left), m, DataOf<int32_t>(right), n, DataOf<int32_t>(result.get())))
            return result.release();
        if (aplerrno) return nullptr;
    }
    TempGuard result(NewResult(APL_REAL, shape, rank));
    if (!result.get()) return nullptr;
    TempGuard radices(AsReal(args.left));
    if (aplerrno) return nullptr;
    TempGuard values(AsReal(args.right));
    if (aplerrno) return nullptr;
    double *out = DataOf<double>(result.get());
    if (!RepresentReals(DataOf<double>(radices.get()), m, DataOf<double>(values.get()), n, out)) return nullptr;
    if (!AllFinite(out, result.get()->number)) {
        SetError(APL_ERR_DOMAIN);
        return nullptr;
    }
    return result.release();
}

constexpr Signature kSignature{Optional(kAnyType), Optional(kAdmitted), Optional(kAdmitted)};

}  // namespace

// Base value. Returns a temporary INTG or REAL array. Consumes temporary
// arguments; linked ones are left as they were.
extern "C" aplarray *APL_Encode(aplarray *axis, aplarray *left, aplarray *right) {
    return StandardCall(kSignature, axis, left, right, BaseValue);
}

// Representation. Returns a temporary INTG or REAL array. Consumes temporary
// arguments; linked ones are left as they were.
extern "C" aplarray *APL_Decode(aplarray *axis, aplarray *left, aplarray *right) {
    return StandardCall(kSignature, axis, left, right, Representation);
}
