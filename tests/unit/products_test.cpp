// +.× against a plain triple loop, bit for bit, and each of a long argument
// stopped by an interrupt (the other products against the item-by-item path
// are in products.tr).
#include "support.h"

#include "core/glyphs.h"

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

aplarray *RandomArray(std::mt19937 &random, int eltype, std::vector<int32_t> shape) {
    aplarray *a = APL_Create(static_cast<int32_t>(shape.size()), eltype, shape.data());
    const int64_t n = ElementCount(a);
    std::uniform_int_distribution<int32_t> small(-9, 9);
    for (int64_t i = 0; i < n; ++i) {
        if (eltype == APL_INTG) DataOf<int32_t>(a)[i] = small(random) * 1000;
        if (eltype == APL_REAL) DataOf<double>(a)[i] = small(random) / 7.0;
    }
    return a;
}

aplfnc Primitive(uint8_t code) { return aplfnc{APL_FN_PRIMITIVE | APL_FN_FUNCTION, nullptr, nullptr, code}; }

// The plain loop the product must equal bit for bit: Σ in increasing k from 0.0.
template <class TL, class TR>
std::vector<double> PlainProduct(const aplarray *l, const aplarray *r, int rows, int n, int cols) {
    std::vector<double> z(static_cast<size_t>(rows) * cols);
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j) {
            double sum = 0.0;
            for (int k = 0; k < n; ++k) {
                volatile double product = static_cast<double>(DataOf<const TL>(l)[i * n + k]) *
                                          static_cast<double>(DataOf<const TR>(r)[k * cols + j]);
                sum += product;
            }
            z[static_cast<size_t>(i) * cols + j] = sum;
        }
    return z;
}

using MatrixProduct = LibraryTest;

TEST_F(MatrixProduct, EqualsAPlainTripleLoopBitForBit) {
    std::mt19937 random(300);
    aplfnc plus = Primitive(glyph::kPlus), times = Primitive(glyph::kTimes);
    for (int left : {APL_INTG, APL_REAL})
        for (int right : {APL_INTG, APL_REAL}) {
            aplarray *l = APL_Link(RandomArray(random, left, {7, 33}));
            aplarray *r = APL_Link(RandomArray(random, right, {33, 2, 5}));
            std::vector<double> expected = left == APL_INTG
                                               ? (right == APL_INTG ? PlainProduct<int32_t, int32_t>(l, r, 7, 33, 10)
                                                                    : PlainProduct<int32_t, double>(l, r, 7, 33, 10))
                                               : (right == APL_INTG ? PlainProduct<double, int32_t>(l, r, 7, 33, 10)
                                                                    : PlainProduct<double, double>(l, r, 7, 33, 10));
            aplarray *z = APL_InnerProduct(nullptr, l, &plus, nullptr, &times, nullptr, r);
            ASSERT_NE(z, nullptr);
            ASSERT_EQ(z->eltype, APL_REAL);
            ASSERT_EQ(z->rank, 3);
            EXPECT_EQ(z->shape[0], 7);
            EXPECT_EQ(z->shape[2], 5);
            EXPECT_EQ(memcmp(DataOf(z), expected.data(), expected.size() * sizeof(double)), 0);
            EXPECT_EQ(l->lnkcnt, 1);
            APL_UnLinkTemp(z);
            APL_UnLink(l);
            APL_UnLink(r);
        }
}

using Operators = LibraryTest;

// A native operand that asks to stop at its thousandth call.
int nativeCalls = 0;
aplarray *CountingIdentity(aplarray *axis, aplarray *left, aplarray *right) {
    ReleaseTemporaries(axis, left, right);
    if (++nativeCalls == 1000) APL_interrupted = 1;
    return APL_Int(nativeCalls);
}

TEST_F(Operators, EachOfALongArgumentCanBeInterrupted) {
    const int32_t n = 1000000;
    aplarray *right = APL_Link(APL_Create(1, APL_INTG, &n));
    aplfnc f{APL_FN_FUNCTION, nullptr, reinterpret_cast<void *>(&CountingIdentity), 0}, none{};
    nativeCalls = 0;
    EXPECT_EQ(APL_Each(nullptr, nullptr, &f, nullptr, &none, nullptr, right), nullptr);
    EXPECT_EQ(aplerrno, APL_ERR_INTERRUPT);
    EXPECT_LT(nativeCalls, n);
    EXPECT_EQ(right->lnkcnt, 1);
    APL_interrupted = 0;
    APL_UnLink(right);
}

}  // namespace
