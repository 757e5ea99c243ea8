// Reshape through APL_Shape where the session cannot look (Boolean rows on and
// off word boundaries with clear padding) and prototypes of broken or deep
// data. Shapes, values, fills and errors are in rho.tr and take.tr.
#include "support.h"

#include "structural/rho.h"

#include <vector>

namespace {

using namespace arrays_support;

Values Cycle(const Values &v, size_t n) {
    Values out;
    for (size_t i = 0; i < n; ++i) out.push_back(v[i % v.size()]);
    return out;
}

// What a call returned (type 0 for null), the result released. Padding bits of
// BOOL rows must be clear, so that word-wise kernels can compare words.
Got Take(aplarray *r) {
    if (!r) return {0, {}, {}};
    Got got{r->eltype, Shape(r->shape, r->shape + r->rank), IsNested(r) ? Values{} : Elements(r)};
    EXPECT_EQ(r->lnkcnt, 0);
    if (r->eltype == APL_BOOL) {
        EXPECT_EQ(PaddingBits(r), 0u) << "padding of the rows";
    }
    APL_UnLinkTemp(r);
    return got;
}

using ShapeAndReshape = LibraryTest;

TEST_F(ShapeAndReshape, ReshapeCyclesTheRavel) {
    const Values seven = {1, 2, 3, 4, 5, 6, 7}, bits32 = Cycle({1, 0, 0}, 32), bits33 = Cycle({1, 0}, 33);
    struct Case {
        const char *what;
        aplarray *left, *right;
        Got expected;
    } cases[] = {
        {"across rows", Ints({2, 3}), Ints({1, 2, 3, 4}), {APL_INTG, {2, 3}, {1, 2, 3, 4, 1, 2}}},
        {"from a scalar", Ints({1, 2}), Make(APL_CHAR, {}, {'A'}), {APL_CHAR, {1, 2}, {'A', 'A'}}},
        {"clipped doubling", APL_Int(1001), Make(APL_SHORT, {7}, seven), {APL_SHORT, {1001}, Cycle(seven, 1001)}},
        {"64 axes", Ints(Values(64, 1)), APL_Int(5), {APL_INTG, Shape(64, 1), {5}}},
        {"near-integer left", Make(APL_REAL, {1}, {2.00000000000001}), APL_Int(9), {APL_INTG, {2}, {9, 9}}},
        {"empty left", Make(APL_INTG, {0, 3}), Make(APL_REAL, {2, 2}, {1.5, 2, 3, 4}), {APL_REAL, {}, {1.5}}},
        {"empty into empty", Ints({0, 3}), Make(APL_CHAR, {2, 0}), {APL_CHAR, {0, 3}, {}}},
        {"bits, word-aligned", APL_Int(64), Make(APL_BOOL, {32}, bits32), {APL_BOOL, {64}, Cycle(bits32, 64)}},
        {"bits into 33-bit rows", Ints({2, 33}), Make(APL_BOOL, {33}, bits33), {APL_BOOL, {2, 33}, Cycle(bits33, 66)}},
        {"bits from 33-bit rows",
         Ints({3, 32}),
         Make(APL_BOOL, {1, 33}, bits33),
         {APL_BOOL, {3, 32}, Cycle(bits33, 96)}},
        {"five bits", APL_Int(5), Make(APL_BOOL, {33}, bits33), {APL_BOOL, {5}, Cycle(bits33, 5)}},
    };
    for (const Case &c : cases) EXPECT_EQ(Take(APL_Shape(nullptr, c.left, c.right)), c.expected) << c.what;
}

using Prototype = LibraryTest;

TEST_F(Prototype, UnknownTypesAndImpossiblyDeepNesting) {
    aplarray *corrupt = APL_Link(Ints({1, 2}));
    corrupt->eltype = 3;
    const Got got = Take(prototype(corrupt, kPrototypeWhole));
    corrupt->eltype = APL_INTG;
    EXPECT_EQ(CapturedOutput::Take(), "unknown type in function 'prototype' !\n");
    EXPECT_EQ(got, (Got{APL_INTG, {2}, {0, 0}}));
    APL_UnLink(corrupt);
    aplarray *deep = Ints({1});
    for (int i = 0; i < 10002; ++i) deep = Nest({deep});
    APL_Link(deep);
    EXPECT_EQ(prototype(deep, kPrototypeWhole), nullptr);
    EXPECT_EQ(aplerrno, APL_ERR_LIMIT);
    APL_UnLink(deep);
}

}  // namespace
