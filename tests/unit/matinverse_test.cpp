// Matrix inverse and divide through the export, checked by residuals that a
// transcript cannot compute: ill-conditioned inverses and least-squares fits.
#include "support.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace {

using Matrix = std::vector<double>;

aplarray *RealMatrix(const Matrix &values, int32_t rows, int32_t columns) {
    const int32_t shape[2] = {rows, columns};
    aplarray *a = AllocArray(APL_TEMP, 2, APL_REAL, shape, HERE);
    memcpy(DataOf(a), values.data(), values.size() * sizeof(double));
    return a;
}

Matrix Values(aplarray *a) {
    const double *data = DataOf<double>(a);
    Matrix out(data, data + a->number);
    APL_UnLinkTemp(a);
    return out;
}

class MatInverse : public LibraryTest {};

TEST_F(MatInverse, HilbertInverseLeavesASmallResidual) {
    for (int32_t n : {4, 6}) {
        Matrix h(static_cast<size_t>(n * n));
        for (int32_t i = 0; i < n; ++i)
            for (int32_t j = 0; j < n; ++j) h[i * n + j] = 1.0 / (i + j + 1);
        aplarray *inverse = APL_MatInverse(nullptr, nullptr, RealMatrix(h, n, n));
        ASSERT_NE(inverse, nullptr);
        ASSERT_EQ(inverse->eltype, APL_REAL);
        const Matrix x = Values(inverse);
        double worst = 0;
        for (int32_t i = 0; i < n; ++i)
            for (int32_t j = 0; j < n; ++j) {
                double sum = 0;
                for (int32_t k = 0; k < n; ++k) sum += h[i * n + k] * x[k * n + j];
                worst = std::fmax(worst, std::fabs(sum - (i == j)));
            }
        EXPECT_LT(worst, n == 4 ? 1e-10 : 1e-7) << "n=" << n;
    }
}

TEST_F(MatInverse, LeastSquaresMatchesTheNormalEquations) {
    // A line through noisy points: the fit is the solution of AᵀA x = Aᵀb,
    // solved here by hand for two unknowns.
    const int32_t m = 50;
    Matrix a(2 * m), b(m);
    double sx = 0, sxx = 0, sy = 0, sxy = 0;
    for (int32_t i = 0; i < m; ++i) {
        const double x = i * 0.37, y = 3 - 0.5 * x + std::sin(i * 1.7);
        a[2 * i] = 1;
        a[2 * i + 1] = x;
        b[i] = y;
        sx += x, sxx += x * x, sy += y, sxy += x * y;
    }
    const double det = m * sxx - sx * sx;
    const double intercept = (sxx * sy - sx * sxy) / det, slope = (m * sxy - sx * sy) / det;
    const int32_t length = m;
    aplarray *left = AllocArray(APL_TEMP, 1, APL_REAL, &length, HERE);
    memcpy(DataOf(left), b.data(), b.size() * sizeof(double));
    aplarray *fit = APL_MatInverse(nullptr, left, RealMatrix(a, m, 2));
    ASSERT_NE(fit, nullptr);
    ASSERT_EQ(fit->rank, 1);
    ASSERT_EQ(fit->shape[0], 2);
    const Matrix x = Values(fit);
    EXPECT_NEAR(x[0], intercept, 1e-10);
    EXPECT_NEAR(x[1], slope, 1e-10);

    // The pseudo-inverse applied to b gives the same fit.
    aplarray *pseudo = APL_MatInverse(nullptr, nullptr, RealMatrix(a, m, 2));
    ASSERT_NE(pseudo, nullptr);
    ASSERT_EQ(pseudo->shape[0], 2);
    ASSERT_EQ(pseudo->shape[1], m);
    const Matrix p = Values(pseudo);
    for (int32_t r = 0; r < 2; ++r) {
        double sum = 0;
        for (int32_t i = 0; i < m; ++i) sum += p[r * m + i] * b[i];
        EXPECT_NEAR(sum, x[r], 1e-10);
    }
}

TEST_F(MatInverse, NearlySingularMatricesAreRefusedWithoutLeaks) {
    // Rows that differ only by rounding: the pivot vanishes relative to its row.
    const Matrix rows = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    EXPECT_EQ(APL_MatInverse(nullptr, nullptr, RealMatrix(rows, 3, 3)), nullptr);
    EXPECT_EQ(aplerrno, APL_ERR_DOMAIN);
    aplerrno = 0;
    const Matrix tall = {1, 2, 2, 4, 3, 6 + 1e-15};
    EXPECT_EQ(APL_MatInverse(nullptr, nullptr, RealMatrix(tall, 3, 2)), nullptr);
    EXPECT_EQ(aplerrno, APL_ERR_DOMAIN);
    aplerrno = 0;
}

}  // namespace
