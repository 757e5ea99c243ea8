// Reshape through APL_Shape where the session cannot look (Boolean rows on and
// off word boundaries with clear padding, nested items linked, not copied) and
// the three modes of prototype. Shapes, values and errors are in rho.tr.
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

TEST_F(ShapeAndReshape, NestedItemsAreLinkedNotCopied) {
    aplarray *first = Ints({1, 2}), *second = Make(APL_CHAR, {1}, {'a'});
    aplarray *right = APL_Link(Nest({first, second}));
    aplarray *r = APL_Shape(nullptr, APL_Int(5), right);
    EXPECT_EQ(ItemsOf(r)[4], first);
    EXPECT_EQ(first->lnkcnt + second->lnkcnt, 7);
    APL_UnLinkTemp(r);
    r = APL_Shape(nullptr, Ints({}), right);  // the first item, enclosed
    EXPECT_EQ(r->rank, 0);
    EXPECT_EQ(ItemsOf(r)[0], first);
    APL_UnLinkTemp(r);
    r = APL_Shape(nullptr, APL_Int(0), right);  // keeps the first item as prototype
    EXPECT_EQ(r->number, 0);
    EXPECT_EQ(ItemsOf(r)[0], first);
    APL_UnLinkTemp(r);
    APL_UnLink(right);
    EXPECT_EQ(Take(APL_Shape(nullptr, Ints({}), Nest({APL_Int(3), Ints({1})}))), (Got{APL_INTG, {}, {3}}));
}

using Prototype = LibraryTest;

TEST_F(Prototype, SimpleArraysGiveBlanksOrZerosOfTheirType) {
    for (int eltype : {APL_CHAR, APL_INTG, APL_REAL, APL_BOOL, APL_SHORT}) {
        aplarray *a = APL_Link(Make(eltype, {2, 3}, Values(6, 1)));
        const double fill = eltype == APL_CHAR ? ' ' : 0;
        EXPECT_EQ(Take(prototype(a, kPrototypeWhole)), (Got{eltype, {2, 3}, Values(6, fill)}));
        EXPECT_EQ(Take(prototype(a, kPrototypeTypical)), (Got{eltype, {}, {fill}}));
        EXPECT_EQ(Take(prototype(a, kPrototypeZeros)), (Got{APL_INTG, {2, 3}, Values(6, 0)}));
        APL_UnLink(a);
    }
}

TEST_F(Prototype, NestedArraysFollowTheirItems) {
    aplarray *a = APL_Link(Nest({Ints({1, 2}), Make(APL_CHAR, {3}, {'a', 'b', 'c'}), Make(APL_REAL, {}, {2.5})}));
    aplarray *whole = prototype(a, kPrototypeWhole), *zeros = prototype(a, kPrototypeZeros);
    EXPECT_EQ(Take(prototype(a, kPrototypeTypical)), (Got{APL_INTG, {2}, {0, 0}}));
    EXPECT_EQ(Elements(ItemsOf(whole)[1]), Values(3, ' '));
    EXPECT_EQ(ItemsOf(whole)[2]->eltype, APL_REAL);
    EXPECT_EQ(ItemsOf(zeros)[1]->eltype, APL_INTG);
    APL_UnLinkTemp(whole);
    APL_UnLinkTemp(zeros);
    APL_UnLink(a);
    a = APL_Link(Nest({Make(APL_CHAR, {}, {'A'}), APL_Int(1)}));  // simple scalars keep their types
    whole = prototype(a, kPrototypeWhole);
    EXPECT_EQ(Elements(ItemsOf(whole)[0]), Values{' '});
    EXPECT_EQ(ItemsOf(whole)[1]->eltype, APL_INTG);
    APL_UnLinkTemp(whole);
    EXPECT_EQ(Take(prototype(a, kPrototypeZeros)), (Got{APL_INTG, {2}, {0, 0}}));
    APL_UnLink(a);
}

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
