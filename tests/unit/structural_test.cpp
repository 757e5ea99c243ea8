// Catenate, take, drop, replicate, expand, rotate and transpose through the
// exported interface: Boolean rows of more than one word, and properties on
// random shapes checked against plain reference code.
#include "support.h"

#include <cstring>
#include <numeric>
#include <ostream>
#include <random>
#include <vector>

namespace {

using namespace arrays_support;

// What a call returned (type 0 with the error for null); the result released
// (a linked argument passed through keeps its links).
Got Take(aplarray *r) {
    if (!r) return {0, {aplerrno}, {}};
    Got got{r->eltype, Shape(r->shape, r->shape + r->rank), IsNested(r) ? Values{} : Elements(r)};
    APL_UnLinkTemp(r);
    return got;
}

// Runs a call on arguments that the test holds linked, then releases them.
template <class Call>
Got Held(Call call, aplarray *left, aplarray *right, aplarray *axis = nullptr) {
    APL_Link(right);
    if (left) APL_Link(left);
    if (axis) APL_Link(axis);
    Got got = Take(call(axis, left, right));
    aplerrno = 0;
    APL_UnLink(right);
    if (left) APL_UnLink(left);
    if (axis) APL_UnLink(axis);
    return got;
}

using StructuralTypes = LibraryTest;

// Rows of 33 and more bits span two words each: every element must arrive
// from its own row, whatever the padding of the words holds.
TEST_F(StructuralTypes, BooleanRowsOfMoreThanOneWord) {
    Values bits(3 * 33);
    for (size_t i = 0; i < bits.size(); ++i) bits[i] = (i * 7 % 5) < 2;
    auto matrix = [&] {
        aplarray *m = Make(APL_BOOL, {3, 33}, bits);
        for (int row = 0; row < 3; ++row) DataOf<uint32_t>(m)[row * 2 + 1] |= 0xFFFFFFFEu;  // padding
        return m;
    };
    Values transposed, reversed, dropped;
    for (int c = 0; c < 33; ++c)
        for (int r = 0; r < 3; ++r) transposed.push_back(bits[r * 33 + c]);
    for (int r = 0; r < 3; ++r)
        for (int c = 32; c >= 0; --c) reversed.push_back(bits[r * 33 + c]);
    for (int r = 1; r < 3; ++r)
        for (int c = 0; c < 32; ++c) dropped.push_back(bits[r * 33 + c + 1]);
    EXPECT_EQ(Take(APL_Transpose(nullptr, nullptr, matrix())), (Got{APL_INTG, {33, 3}, transposed}));
    EXPECT_EQ(Take(APL_Rotate(nullptr, nullptr, matrix())), (Got{APL_INTG, {3, 33}, reversed}));
    EXPECT_EQ(Take(APL_Drop(nullptr, Ints({1, 1}), matrix())), (Got{APL_INTG, {2, 32}, dropped}));
    EXPECT_EQ(Take(APL_Catenate(nullptr, nullptr, matrix())), (Got{APL_INTG, {99}, bits}));
    // A 33-bit compress mask picks exactly the elements of its set bits.
    Values mask(40), kept, numbers(40);
    std::iota(numbers.begin(), numbers.end(), 1);
    for (size_t i = 0; i < 40; ++i) mask[i] = i % 3 == 0 || i == 39;
    for (size_t i = 0; i < 40; ++i)
        if (mask[i]) kept.push_back(numbers[i]);
    aplarray *m = Make(APL_BOOL, {40}, mask);
    DataOf<uint32_t>(m)[1] |= 0xFFFFFF00u;  // padding beyond element 39
    EXPECT_EQ(Take(APL_Replicate(nullptr, m, Ints(numbers))),
              (Got{APL_INTG, {static_cast<int32_t>(kept.size())}, kept}));
}

// ---- Properties on random shapes ------------------------------------------------------

// A simple INTG array described for the reference code.
struct Ref {
    Shape shape;
    Values v;
    int64_t Count() const {
        int64_t n = 1;
        for (int32_t s : shape) n *= s;
        return n;
    }
};

// Multi-index of ravel position i.
Shape IndexOf(const Shape &shape, int64_t i) {
    Shape index(shape.size());
    for (size_t j = shape.size(); j-- > 0;) {
        index[j] = static_cast<int32_t>(i % shape[j]);
        i /= shape[j];
    }
    return index;
}
int64_t PositionOf(const Shape &shape, const Shape &index) {
    int64_t p = 0;
    for (size_t j = 0; j < shape.size(); ++j) p = p * shape[j] + index[j];
    return p;
}

Ref RefTake(const Ref &x, int k, int64_t n) {
    Ref r{x.shape, {}};
    const int64_t len = x.shape[k];
    r.shape[k] = static_cast<int32_t>(n < 0 ? -n : n);
    for (int64_t i = 0; i < r.Count(); ++i) {
        Shape index = IndexOf(r.shape, i);
        const int64_t at = n >= 0 ? index[k] : index[k] - (-n - len);
        if (at < 0 || at >= len) {
            r.v.push_back(0);
            continue;
        }
        index[k] = static_cast<int32_t>(at);
        r.v.push_back(x.v[PositionOf(x.shape, index)]);
    }
    return r;
}

Ref RefRotate(const Ref &x, int k, int64_t s) {
    Ref r{x.shape, {}};
    for (int64_t i = 0; i < x.Count(); ++i) {
        Shape index = IndexOf(x.shape, i);
        const int64_t n = x.shape[k];
        index[k] = static_cast<int32_t>(((index[k] + s) % n + n) % n);
        r.v.push_back(x.v[PositionOf(x.shape, index)]);
    }
    return r;
}

Ref RefTranspose(const Ref &x, const Shape &perm) {
    Ref r{Shape(x.shape.size()), {}};
    for (size_t j = 0; j < perm.size(); ++j) r.shape[perm[j]] = x.shape[j];
    for (int64_t i = 0; i < r.Count(); ++i) {
        const Shape index = IndexOf(r.shape, i);
        Shape from(x.shape.size());
        for (size_t j = 0; j < perm.size(); ++j) from[j] = index[perm[j]];
        r.v.push_back(x.v[PositionOf(x.shape, from)]);
    }
    return r;
}

Got AsGot(const Ref &r) { return {APL_INTG, r.shape, r.v}; }

using Properties = LibraryTest;

TEST_F(Properties, RandomShapesAgreeWithReferenceCode) {
    std::mt19937 random(15);
    auto below = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    for (int trial = 0; trial < 300; ++trial) {
        Ref x;
        const int rank = 1 + below(3);
        for (int j = 0; j < rank; ++j) x.shape.push_back(below(5));
        for (int64_t i = 0; i < x.Count(); ++i) x.v.push_back(below(1000) - 500);
        aplarray *a = APL_Link(Make(APL_INTG, x.shape, x.v));
        const int k = below(rank);
        const int32_t n = below(2 * x.shape[k] + 3) - x.shape[k] - 1;
        const int32_t s = below(20) - 10;
        aplarray *axis = APL_Link(APL_Int(k + 1));
        SCOPED_TRACE(testing::Message() << "trial " << trial << " axis " << k << " n " << n << " s " << s);

        // (n take X), n drop X along one axis is X again. (A one-element
        // X refuses an axis on take and drop.)
        if (x.Count() != 1) {
            EXPECT_EQ(Held(APL_Take, APL_Int(n), a, axis), AsGot(RefTake(x, k, n)));
            aplarray *taken = APL_Take(axis, APL_Int(n), a);
            aplarray *rest = APL_Drop(axis, APL_Int(n), a);
            aplarray *joined = n >= 0 ? APL_Catenate(axis, taken, rest) : APL_Catenate(axis, rest, taken);
            if (std::abs(n) <= x.shape[k])
                EXPECT_EQ(Take(joined), AsGot(x));
            else
                APL_UnLinkTemp(joined);
        }

        EXPECT_EQ(Held(APL_Rotate, APL_Int(s), a, axis), AsGot(RefRotate(x, k, s)));
        EXPECT_EQ(Take(APL_Rotate(axis, APL_Int(-s), APL_Rotate(axis, APL_Int(s), a))), AsGot(x));
        EXPECT_EQ(Take(APL_Rotate(axis, nullptr, APL_Rotate(axis, nullptr, a))), AsGot(x));
        EXPECT_EQ(Take(APL_Transpose(nullptr, nullptr, APL_Transpose(nullptr, nullptr, a))), AsGot(x));

        Shape perm(rank);
        std::iota(perm.begin(), perm.end(), 0);
        std::shuffle(perm.begin(), perm.end(), random);
        Values left(perm.begin(), perm.end());
        for (double &p : left) p += 1;
        EXPECT_EQ(Held(APL_Transpose, Ints(left), a), AsGot(RefTranspose(x, perm)));

        // Compress after expand by the same random mask.
        Values mask;
        for (int i = 0; i < x.shape[k]; ++i) {
            while (below(3) == 0) mask.push_back(0);
            mask.push_back(1);
        }
        aplarray *m = APL_Link(Ints(mask));
        EXPECT_EQ(Take(APL_Replicate(axis, m, APL_Expand(axis, m, a))), AsGot(x));
        APL_UnLink(m);
        APL_UnLink(axis);
        APL_UnLink(a);
    }
}

}  // namespace
