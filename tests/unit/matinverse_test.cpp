// Matrix inverse and divide through the export against a wide reference on
// scaled random systems, which a transcript cannot compute.
#include "support.h"

#include "tests/fixtures/fixture_arrays.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace {

using Matrix = std::vector<double>;

aplarray *RealMatrix(const Matrix &values, int32_t rows, int32_t columns) {
    return fixture::Reals(values, {rows, columns});
}

Matrix Values(aplarray *a) {
    const double *data = DataOf<double>(a);
    Matrix out(data, data + a->number);
    APL_UnLinkTemp(a);
    return out;
}

class MatInverse : public LibraryTest {};

using Wide = std::vector<long double>;

// Gauss-Jordan with scaled partial pivoting in long double, whose wider exponent
// holds every product of numbers near the ends of the REAL range: the
// solutions of a·x = b for the k columns of b (n×k). Empty for a singular a.
Wide ReferenceSolve(const Matrix &a, const Matrix &b, int n, int k) {
    Wide m(a.begin(), a.end()), x(b.begin(), b.end());
    for (int j = 0; j < n; ++j) {
        // The pivot is largest relative to its own row, whatever the rows' scales.
        auto relative = [&](int i) {
            long double size = 0;
            for (int c = 0; c < n; ++c) size = std::fmax(size, std::fabs(m[i * n + c]));
            return size > 0 ? std::fabs(m[i * n + j]) / size : 0;
        };
        int pivot = j;
        for (int i = j + 1; i < n; ++i)
            if (relative(i) > relative(pivot)) pivot = i;
        if (m[pivot * n + j] == 0) return {};
        for (int c = 0; c < n; ++c) std::swap(m[j * n + c], m[pivot * n + c]);
        for (int c = 0; c < k; ++c) std::swap(x[j * k + c], x[pivot * k + c]);
        for (int i = 0; i < n; ++i) {
            if (i == j) continue;
            const long double f = m[i * n + j] / m[j * n + j];
            for (int c = 0; c < n; ++c) m[i * n + c] -= f * m[j * n + c];
            for (int c = 0; c < k; ++c) x[i * k + c] -= f * x[j * k + c];
        }
    }
    for (int i = 0; i < n; ++i)
        for (int c = 0; c < k; ++c) x[i * k + c] /= m[i * n + i];
    return x;
}

// The largest difference from the reference, element by element, relative
// to the reference's largest magnitude in the element's row or in its column,
// whichever is smaller: rows and columns of an inverse may differ in scale by
// hundreds of orders of magnitude.
double ScaledError(const Matrix &got, const Wide &want, int rows, int k, bool byColumn) {
    Wide rowSize(static_cast<size_t>(rows), 0), columnSize(static_cast<size_t>(k), 0);
    for (int i = 0; i < rows; ++i)
        for (int c = 0; c < k; ++c) {
            rowSize[i] = std::fmax(rowSize[i], std::fabs(want[i * k + c]));
            columnSize[c] = std::fmax(columnSize[c], std::fabs(want[i * k + c]));
        }
    double worst = 0;
    for (int i = 0; i < rows; ++i)
        for (int c = 0; c < k; ++c) {
            const long double size = byColumn ? std::fmin(rowSize[i], columnSize[c]) : rowSize[i];
            const long double difference = std::fabs(static_cast<long double>(got[i * k + c]) - want[i * k + c]);
            worst = std::fmax(worst, static_cast<double>(difference / size));
        }
    return worst;
}

// A random n×n system (entries of a and of the three columns of b in
// [-1, 1], a fixed seed) whose whole matrix (how 0), rows (1) or columns (2)
// are multiplied by powers of ten up to 1E±300; b's rows go with a's rows.
struct ScaledSystem {
    Matrix a, b;
};
ScaledSystem RandomScaled(uint32_t &seed, int n, int how) {
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<double>(seed >> 8) / static_cast<double>(1u << 24);
    };
    auto power = [&next] { return std::pow(10.0, std::round(600 * next() - 300)); };
    const double whole = next() < 0.5 ? 1e300 : 1e-300;
    std::vector<double> rows(static_cast<size_t>(n), 1), columns(static_cast<size_t>(n), 1);
    for (int i = 0; i < n; ++i) {
        if (how == 0) rows[i] = whole;
        if (how == 1) rows[i] = power();
        if (how == 2) columns[i] = power();
    }
    ScaledSystem s{Matrix(static_cast<size_t>(n * n)), Matrix(static_cast<size_t>(n * 3))};
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) s.a[i * n + j] = (2 * next() - 1) * rows[i] * columns[j];
        for (int c = 0; c < 3; ++c) s.b[i * 3 + c] = (2 * next() - 1) * rows[i];
    }
    return s;
}

TEST_F(MatInverse, MatricesNearTheEndsOfTheRangeAgreeWithAWideReference) {
    uint32_t seed = 12345;
    int checked = 0;
    for (int how = 0; how < 3; ++how)
        for (int trial = 0; trial < 40; ++trial) {
            const int n = 1 + trial % 5;
            const ScaledSystem s = RandomScaled(seed, n, how);
            Matrix identity(static_cast<size_t>(n * n), 0);
            for (int i = 0; i < n; ++i) identity[i * n + i] = 1;
            const Wide want = ReferenceSolve(s.a, identity, n, n);
            ASSERT_FALSE(want.empty());
            aplarray *inverse = APL_MatInverse(nullptr, nullptr, RealMatrix(s.a, n, n));
            ASSERT_NE(inverse, nullptr) << "how " << how << " trial " << trial << " error " << aplerrno;
            // Random matrices of this size are well enough conditioned for this.
            EXPECT_LT(ScaledError(Values(inverse), want, n, n, true), 1e-9) << "how " << how << " trial " << trial;

            const Wide solution = ReferenceSolve(s.a, s.b, n, 3);
            aplarray *x = APL_MatInverse(nullptr, RealMatrix(s.b, n, 3), RealMatrix(s.a, n, n));
            ASSERT_NE(x, nullptr) << "how " << how << " trial " << trial << " error " << aplerrno;
            EXPECT_LT(ScaledError(Values(x), solution, n, 3, false), 1e-9) << "how " << how << " trial " << trial;
            ++checked;
        }
    EXPECT_EQ(checked, 120);
}

}  // namespace
