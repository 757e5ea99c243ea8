// matinverse: matrix inverse and matrix divide ⌹ (APL_MatInverse): Crout's LU
// with implicit partial pivoting for square systems, Householder QR for least
// squares. Relies on the array core and the standard wrapper; results are REAL.
#include "apl.h"
#include "core/arrays.h"
#include "core/eltypes.h"
#include "core/errors.h"
#include "core/wrapper.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

// A pivot whose magnitude relative to its row (of the scaled matrix), or a
// column left after the reflections relative to the column, below this
// makes the matrix singular.
constexpr double kSingular = 1e-13;
// Forward substitution starts at the first right-hand element this large.
constexpr double kNegligible = 1e-40;

constexpr int kAdmitted = APL_CHAR | APL_INTG | APL_REAL | APL_NESTED;

bool Numeric(const aplarray *a) { return a->eltype == APL_INTG || a->eltype == APL_REAL; }

// A raw block of n values freed at scope exit; WS FULL when it cannot be had.
template <class T>
struct Block {
    T *data = nullptr;
    explicit Block(int64_t n) {
        const int64_t bytes = (n > 0 ? n : 1) * static_cast<int64_t>(sizeof(T));
        if (bytes <= INT32_MAX) data = static_cast<T *>(AllocBlock(static_cast<size_t>(bytes), HERE));
        if (!data) SetError(APL_ERR_WSFULL);
    }
    ~Block() { FreeBlock(data, HERE); }
    Block(const Block &) = delete;
    Block &operator=(const Block &) = delete;
    T &operator[](int64_t i) { return data[i]; }
};
using Doubles = Block<double>;

// Copies the INTG or REAL elements of `a` as doubles.
void CopyAsDoubles(const aplarray *a, double *out) {
    if (a->eltype == APL_REAL) {
        memcpy(out, DataOf<double>(a), static_cast<size_t>(a->number) * sizeof(double));
        return;
    }
    const int32_t *in = DataOf<int32_t>(a);
    for (int32_t i = 0; i < a->number; ++i) out[i] = in[i];
}

aplarray *NewReal(int rank, const int32_t *shape) {
    return AllocArray(APL_SIMPLE | APL_TEMP, rank, APL_REAL, shape, HERE);
}

bool Fail(int32_t code) {
    SetError(code);
    return false;
}

// ---- Scaling by powers of two ------------------------------------------------------
// Numbers near the ends of the range overflow or vanish in the products of
// an elimination, and a threshold on magnitudes would take tiny units for
// singularity. Rows and columns are brought to magnitudes near 1 first by
// powers of two, which are exact; the scales return in the exponents of
// the result, applied once at the end.

// The e with 2^(e-1) <= |x| < 2^e; 0 for zero.
int Exponent(double x) {
    int e = 0;
    std::frexp(x, &e);
    return e;
}

// The exponent of the largest magnitude among count values a stride apart;
// false when all are zero.
bool LargestExponent(const double *x, int64_t count, int64_t stride, int &e) {
    double largest = 0;
    for (int64_t i = 0; i < count; ++i) largest = std::fmax(largest, std::fabs(x[i * stride]));
    e = Exponent(largest);
    return largest > 0;
}

// Divides each element a_ij of the m×n `a` by 2^(r_i + c_j), once: the r_i
// (when `rows`, else 0) bring every row's largest magnitude near 1, the c_j
// then every column's, reckoned in exponents so that an element small in its
// row but not in its column survives. False with DOMAIN for a zero row or column.
bool Equilibrate(double *a, int64_t m, int64_t n, bool rows, int *rowExponents, int *columnExponents) {
    for (int64_t i = 0; i < m; ++i) {
        rowExponents[i] = 0;
        if (rows && !LargestExponent(a + i * n, n, 1, rowExponents[i])) return Fail(APL_ERR_DOMAIN);
    }
    for (int64_t j = 0; j < n; ++j) {
        bool any = false;
        int &c = columnExponents[j];
        for (int64_t i = 0; i < m; ++i) {
            if (a[i * n + j] == 0) continue;
            const int e = Exponent(a[i * n + j]) - rowExponents[i];
            if (!any || e > c) c = e;
            any = true;
        }
        if (!any) return Fail(APL_ERR_DOMAIN);
    }
    for (int64_t i = 0; i < m; ++i)
        for (int64_t j = 0; j < n; ++j) a[i * n + j] = std::ldexp(a[i * n + j], -rowExponents[i] - columnExponents[j]);
    return true;
}

// ---- Vectors: the one-column case -------------------------------------------------

aplarray *VectorInverse(const aplarray *left, const aplarray *right) {
    Doubles v(right->number);
    if (!v.data) return nullptr;
    CopyAsDoubles(right, v.data);
    // V÷+/V×V and (+/L×V)÷+/V×V are worked out on V and L scaled near 1, so
    // that the sums neither overflow nor vanish.
    int e = 0;
    if (!LargestExponent(v.data, right->number, 1, e)) {
        SetError(APL_ERR_DOMAIN);
        return nullptr;
    }
    double squares = 0;
    for (int32_t i = 0; i < right->number; ++i) {
        v[i] = std::ldexp(v[i], -e);
        squares += v[i] * v[i];
    }
    if (!left) {
        aplarray *result = NewReal(right->rank, right->shape);
        if (!result) return nullptr;
        double *out = DataOf<double>(result);
        bool finite = true;
        for (int32_t i = 0; i < right->number; ++i) {
            out[i] = std::ldexp(v[i] / squares, -e);
            finite &= std::isfinite(out[i]);
        }
        if (finite) return result;
        APL_UnLinkTempEx(result, HERE);
        SetError(APL_ERR_DOMAIN);
        return nullptr;
    }
    if (left->rank > 1) {
        SetError(APL_ERR_RANK);
        return nullptr;
    }
    if (left->number != right->number) {
        SetError(APL_ERR_LENGTH);
        return nullptr;
    }
    Doubles l(left->number);
    if (!l.data) return nullptr;
    CopyAsDoubles(left, l.data);
    int f = 0;
    LargestExponent(l.data, left->number, 1, f);
    double products = 0;
    for (int32_t i = 0; i < left->number; ++i) products += std::ldexp(l[i], -f) * v[i];
    const double quotient = std::ldexp(products / squares, f - e);
    if (!std::isfinite(quotient)) {
        SetError(APL_ERR_DOMAIN);
        return nullptr;
    }
    return MakeReal(quotient);
}

// ---- Square systems: Crout's LU ------------------------------------------------------

// Decomposes the n×n row-major `a` in place (L below the diagonal with a unit
// diagonal, U on and above it), rows exchanged as `pivots` records. False with
// DOMAIN for a singular matrix, or with INTERRUPT.
bool DecomposeLU(double *a, int64_t n, int64_t *pivots) {
    Doubles scale(n);
    if (!scale.data) return false;
    // The rows come scaled near 1 (Equilibrate), none of them zero.
    for (int64_t i = 0; i < n; ++i) {
        double largest = 0;
        for (int64_t j = 0; j < n; ++j) largest = std::fmax(largest, std::fabs(a[i * n + j]));
        scale[i] = 1.0 / largest;
    }
    for (int64_t j = 0; j < n; ++j) {
        for (int64_t i = 0; i < j; ++i) {
            double sum = a[i * n + j];
            for (int64_t k = 0; k < i; ++k) sum -= a[i * n + k] * a[k * n + j];
            a[i * n + j] = sum;
        }
        double largest = 0;
        int64_t pivot = j;
        for (int64_t i = j; i < n; ++i) {
            double sum = a[i * n + j];
            for (int64_t k = 0; k < j; ++k) sum -= a[i * n + k] * a[k * n + j];
            a[i * n + j] = sum;
            const double scaled = scale[i] * std::fabs(sum);
            if (scaled >= largest) {
                largest = scaled;
                pivot = i;
            }
        }
        // Measured against its own row, so that the test does not depend on
        // the units of the matrix; this also keeps every non-finite value out.
        if (!(largest >= kSingular)) return Fail(APL_ERR_DOMAIN);
        if (pivot != j) {
            for (int64_t k = 0; k < n; ++k) std::swap(a[pivot * n + k], a[j * n + k]);
            scale[pivot] = scale[j];
        }
        pivots[j] = pivot;
        const double inverse = 1.0 / a[j * n + j];
        for (int64_t i = j + 1; i < n; ++i) a[i * n + j] *= inverse;
        if (InterruptRequested()) return false;
    }
    return true;
}

// Solves LU x = b in place for one right-hand side.
void SubstituteLU(const double *a, int64_t n, const int64_t *pivots, double *b) {
    int64_t first = -1;
    for (int64_t i = 0; i < n; ++i) {
        double sum = b[pivots[i]];
        b[pivots[i]] = b[i];
        if (first >= 0) {
            for (int64_t j = first; j < i; ++j) sum -= a[i * n + j] * b[j];
        } else if (std::fabs(sum) >= kNegligible) {
            first = i;
        }
        b[i] = sum;
    }
    for (int64_t i = n - 1; i >= 0; --i) {
        double sum = b[i];
        for (int64_t j = i + 1; j < n; ++j) sum -= a[i * n + j] * b[j];
        b[i] = sum / a[i * n + i];
    }
}

// ---- Overdetermined systems: Householder QR ----------------------------------------

// Reduces the m×n row-major `a` (m > n) to R in place; the reflector of column
// j is kept in a[j..m-1][j] with R's diagonal in `diagonal`. False with DOMAIN
// when the columns are dependent, or with INTERRUPT.
bool DecomposeQR(double *a, int64_t m, int64_t n, double *diagonal, double *reflectorSquares) {
    for (int64_t j = 0; j < n; ++j) {
        double column = 0;
        for (int64_t i = 0; i < m; ++i) column += a[i * n + j] * a[i * n + j];
        double rest = 0;
        for (int64_t i = j; i < m; ++i) rest += a[i * n + j] * a[i * n + j];
        const double norm = std::sqrt(rest);
        // What is left of the column after the earlier reflections, measured
        // against the column as it came: nothing left means a dependent column.
        if (!(norm >= kSingular * std::sqrt(column)) || !(column > 0)) return Fail(APL_ERR_DOMAIN);
        const double alpha = a[j * n + j] > 0 ? -norm : norm;
        a[j * n + j] -= alpha;
        double squares = 0;
        for (int64_t i = j; i < m; ++i) squares += a[i * n + j] * a[i * n + j];
        diagonal[j] = alpha;
        reflectorSquares[j] = squares;
        for (int64_t c = j + 1; c < n; ++c) {
            double s = 0;
            for (int64_t i = j; i < m; ++i) s += a[i * n + j] * a[i * n + c];
            const double f = 2 * s / squares;
            for (int64_t i = j; i < m; ++i) a[i * n + c] -= f * a[i * n + j];
        }
        if (InterruptRequested()) return false;
    }
    return true;
}

// The least-squares solution of one right-hand side b (m elements) in b[0..n-1].
void SubstituteQR(const double *a, int64_t m, int64_t n, const double *diagonal, const double *reflectorSquares,
                  double *b) {
    for (int64_t j = 0; j < n; ++j) {
        double s = 0;
        for (int64_t i = j; i < m; ++i) s += a[i * n + j] * b[i];
        const double f = 2 * s / reflectorSquares[j];
        for (int64_t i = j; i < m; ++i) b[i] -= f * a[i * n + j];
    }
    for (int64_t i = n - 1; i >= 0; --i) {
        double sum = b[i];
        for (int64_t c = i + 1; c < n; ++c) sum -= a[i * n + c] * b[c];
        b[i] = sum / diagonal[i];
    }
}

// ---- Matrices ---------------------------------------------------------------------------

// The right-hand sides as an m×k row-major matrix: `left`, or the identity.
void RightHandSides(const aplarray *left, int64_t m, Doubles &sides, int64_t &k) {
    if (!left) {
        k = m;
        for (int64_t i = 0; i < m * m; ++i) sides[i] = 0;
        for (int64_t i = 0; i < m; ++i) sides[i * m + i] = 1;
        return;
    }
    CopyAsDoubles(left, sides.data);
    k = left->number / m;
}

// Right-hand side c of the scaled system: each b_i divided by 2^rowExponent_i
// and the whole column then by a power of two 2^e that brings its largest
// magnitude near 1 (e is 0 for a zero column).
void ScaledSide(const Doubles &sides, int64_t m, int64_t k, int64_t c, const int *rowExponents, double *column,
                int &e) {
    bool any = false;
    e = 0;
    for (int64_t i = 0; i < m; ++i) {
        const double b = sides.data[i * k + c];
        if (b == 0) continue;
        const int exponent = Exponent(b) - rowExponents[i];
        if (!any || exponent > e) e = exponent;
        any = true;
    }
    for (int64_t i = 0; i < m; ++i) column[i] = std::ldexp(sides.data[i * k + c], -rowExponents[i] - e);
}

// A = R·A'·C with R and C diagonal powers of two (R the identity for a
// least-squares fit, whose rows must keep their weights). A x = b becomes
// A'·y = R⁻¹b scaled by 2^-e, and x = 2^e·C⁻¹·y.
aplarray *MatrixInverse(const aplarray *left, const aplarray *right) {
    const int64_t m = right->shape[0], n = right->shape[1];
    if (m < n) {
        SetError(APL_ERR_DOMAIN);
        return nullptr;
    }
    if (left && (left->rank == 0 ? 1 : left->shape[0]) != m) {
        SetError(APL_ERR_LENGTH);
        return nullptr;
    }
    int32_t shape[kMaxRank];
    int rank = 0;
    shape[rank++] = static_cast<int32_t>(n);
    if (!left)
        shape[rank++] = static_cast<int32_t>(m);
    else
        for (int i = 1; i < left->rank; ++i) shape[rank++] = left->shape[i];
    TempGuard result(NewReal(rank, shape));
    if (!result.get()) return nullptr;

    Doubles a(m * n), sides(left ? left->number : m * m), column(m), diagonal(n), squares(n);
    Block<int64_t> pivots(n);
    Block<int> rowExponents(m), columnExponents(n);
    if (aplerrno) return nullptr;
    CopyAsDoubles(right, a.data);
    int64_t k = 0;
    RightHandSides(left, m, sides, k);
    const bool square = m == n;
    if (!Equilibrate(a.data, m, n, square, rowExponents.data, columnExponents.data)) return nullptr;
    if (square ? !DecomposeLU(a.data, n, pivots.data) : !DecomposeQR(a.data, m, n, diagonal.data, squares.data))
        return nullptr;

    double *out = DataOf<double>(result.get());
    bool finite = true;
    for (int64_t c = 0; c < k; ++c) {
        int e = 0;
        ScaledSide(sides, m, k, c, rowExponents.data, column.data, e);
        if (square)
            SubstituteLU(a.data, n, pivots.data, column.data);
        else
            SubstituteQR(a.data, m, n, diagonal.data, squares.data, column.data);
        for (int64_t i = 0; i < n; ++i) {
            out[i * k + c] = std::ldexp(column[i], e - columnExponents[i]);
            finite &= std::isfinite(out[i * k + c]);
        }
        if ((c + 1) % 64 == 0 && InterruptRequested()) return nullptr;
    }
    // Scaled back, a result beyond the range of REAL is a fault, not a value.
    if (!finite) {
        SetError(APL_ERR_DOMAIN);
        return nullptr;
    }
    return result.release();
}

aplarray *MatInverseKernel(CallArgs &args) {
    if (args.axis) {
        SetError(APL_ERR_AXIS);
        return nullptr;
    }
    const aplarray *left = args.left, *right = args.right;
    if (!right) {
        SetError(APL_ERR_SYNTAX);
        return nullptr;
    }
    if (!Numeric(right) || right->number == 0 || (left && (!Numeric(left) || left->number == 0))) {
        SetError(APL_ERR_DOMAIN);
        return nullptr;
    }
    if (right->rank > 2) {
        SetError(APL_ERR_RANK);
        return nullptr;
    }
    return right->rank <= 1 ? VectorInverse(left, right) : MatrixInverse(left, right);
}

}  // namespace

// Matrix inverse (monadic) and matrix divide (dyadic). Returns a temporary REAL
// array. Consumes temporary arguments; linked ones are left as they were.
extern "C" aplarray *APL_MatInverse(aplarray *axis, aplarray *left, aplarray *right) {
    constexpr Signature kSignature{Optional(kAnyType), Optional(kAdmitted), Optional(kAdmitted)};
    return StandardCall(kSignature, axis, left, right, MatInverseKernel);
}
