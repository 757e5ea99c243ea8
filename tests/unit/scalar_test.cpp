// The scalar functions: result types, conformability, empty arguments, nested
// pervasion, reuse of temporaries, the axis form, floating-point faults and
// the element rules of the 21 members, through the exported entry points.
#include "support.h"

#include "core/eltypes.h"
#include "core/symtab.h"
#include "scalar/scllib.h"

#include <cfenv>
#include <climits>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

using namespace arrays_support;

aplarray *Bits(const Values &v) { return Vec(APL_BOOL, v); }
aplarray *Int(int32_t x) { return APL_Int(x); }
aplarray *Bit(int x) { return Make(APL_BOOL, {}, {static_cast<double>(x)}); }

// One serial further than every block allocated so far.
int32_t NextSerial() {
    void *probe = AllocBlock(1, HERE);
    const int32_t serial = BlockHeader(probe)->serial;
    FreeBlock(probe, HERE);
    return serial + 1;
}

class Scalar : public WorkspaceTest {
protected:
    void SetUp() override {
        WorkspaceTest::SetUp();
        feclearexcept(FE_ALL_EXCEPT);
    }
    void TearDown() override {
        APL_Callback(10, nullptr);
        APL_interrupted = 0;
        WorkspaceTest::TearDown();
    }
    static void SetSystem(uint16_t index, aplarray *value) { SetSymbolValue(index, value); }

    // Checks a result's type, shape and elements (to a relative tolerance) and
    // releases it.
    static void Expect(aplarray *r, int eltype, const Shape &shape, const Values &v, double tolerance = 0) {
        ASSERT_NE(r, nullptr) << "aplerrno " << aplerrno;
        EXPECT_EQ(r->eltype, eltype);
        EXPECT_EQ(ShapeOf(r), shape);
        const Values got = Elements(r);
        EXPECT_EQ(got.size(), v.size());
        for (size_t i = 0; i < got.size() && i < v.size(); ++i)
            EXPECT_NEAR(got[i], v[i], tolerance * std::fabs(v[i])) << "element " << i;
        EXPECT_EQ(r->lnkcnt, 0);
        APL_UnLinkTemp(r);
    }
    static void ExpectVector(aplarray *r, int eltype, const Values &v, double tolerance = 0) {
        Expect(r, eltype, {static_cast<int32_t>(v.size())}, v, tolerance);
    }
    static void ExpectScalar(aplarray *r, int eltype, double v, double tolerance = 0) {
        Expect(r, eltype, {}, {v}, tolerance);
    }
    // Checks that the call failed with `code` and clears it.
    static void Failed(aplarray *r, int code) {
        EXPECT_EQ(r, nullptr);
        EXPECT_EQ(aplerrno, code);
        aplerrno = 0;
        APL_error_message[0] = 0;
    }
};

// ---- Engine ------------------------------------------------------------------------

using ScalarEngine = Scalar;

TEST_F(ScalarEngine, ResultTypesFollowTheMemberRules) {
    ExpectScalar(APL_Add(nullptr, Int(2), Int(3)), APL_REAL, 5);
    ExpectScalar(APL_Max(nullptr, Int(2), Int(3)), APL_INTG, 3);
    ExpectScalar(APL_Mul(nullptr, Int(2), Int(3)), APL_REAL, 6);
    ExpectScalar(APL_Mul(nullptr, Bit(1), Bit(1)), APL_BOOL, 1);
    ExpectScalar(APL_Mul(nullptr, Bit(1), Int(3)), APL_REAL, 3);
    ExpectScalar(APL_Max(nullptr, Bit(0), Bit(1)), APL_BOOL, 1);
    ExpectScalar(APL_Min(nullptr, Bit(1), Int(-4)), APL_INTG, -4);
    ExpectScalar(APL_Residue(nullptr, Int(3), Int(7)), APL_INTG, 1);
    ExpectScalar(APL_Residue(nullptr, Real(2.5), Int(7)), APL_REAL, 2);
    ExpectScalar(APL_Equal(nullptr, Bit(1), Bit(1)), APL_BOOL, 1);
    ExpectScalar(APL_Equal(nullptr, Int(2), Real(2)), APL_INTG, 1);
    ExpectScalar(APL_Equal(nullptr, Bit(1), Int(1)), APL_INTG, 1);
    // A logical function with a BOOL argument is BOOL: the partner counts as non-zero.
    ExpectScalar(APL_And(nullptr, Int(2), Bit(1)), APL_BOOL, 1);
    ExpectScalar(APL_And(nullptr, Int(4), Int(6)), APL_INTG, 12);
    // SHORT arrives as INTG.
    aplarray *shorts = APL_ToShort(nullptr, nullptr, Ints({7, -3}));
    ASSERT_EQ(shorts->eltype, APL_SHORT);
    ExpectVector(APL_Max(nullptr, shorts, Int(0)), APL_INTG, {7, 0});
}

TEST_F(ScalarEngine, ShapesExtendSingleElementsAndRefuseTheRest) {
    Failed(APL_Add(nullptr, Ints({1, 2, 3}), Ints({4, 5})), APL_ERR_LENGTH);
    Failed(APL_Add(nullptr, Make(APL_INTG, {2, 3}, {1, 2, 3, 4, 5, 6}), Ints({1, 2, 3})), APL_ERR_RANK);
    Failed(APL_Add(nullptr, Make(APL_INTG, {1, 3}, {1, 2, 3}), Make(APL_INTG, {2, 3}, {1, 2, 3, 4, 5, 6})),
           APL_ERR_RANK);
    Failed(APL_Add(nullptr, Make(APL_INTG, {2, 1, 1}, {1, 2}), Make(APL_INTG, {2, 3}, {1, 2, 3, 4, 5, 6})),
           APL_ERR_RANK);
    // The argument of higher rank is the larger even with fewer elements.
    Failed(APL_Add(nullptr, Ints({1, 2, 3}), Make(APL_INTG, {1, 1}, {5})), APL_ERR_RANK);
    Expect(APL_Add(nullptr, Ints({5}), Make(APL_INTG, {2, 3}, {1, 2, 3, 4, 5, 6})), APL_REAL, {2, 3},
           {6, 7, 8, 9, 10, 11});
    Expect(APL_Sub(nullptr, Make(APL_INTG, {2, 3}, {1, 2, 3, 4, 5, 6}), Int(5)), APL_REAL, {2, 3},
           {-4, -3, -2, -1, 0, 1});
    Expect(APL_Sub(nullptr, Make(APL_INTG, {1, 1}, {10}), Make(APL_INTG, {2, 3}, {1, 2, 3, 4, 5, 6})), APL_REAL, {2, 3},
           {9, 8, 7, 6, 5, 4});
    Expect(APL_Add(nullptr, Make(APL_INTG, {1, 1}, {5}), Int(7)), APL_REAL, {1, 1}, {12});
    Expect(APL_Add(nullptr, Ints({5}), Make(APL_INTG, {1, 1}, {7})), APL_REAL, {1, 1}, {12});
}

TEST_F(ScalarEngine, EmptyArgumentsGiveEmptyIntegerResults) {
    Expect(APL_Add(nullptr, Ints({}), Int(5)), APL_INTG, {0}, {});
    Expect(APL_Power(nullptr, Reals({}), Ints({5})), APL_INTG, {0}, {});
    Expect(APL_Equal(nullptr, Int(5), Vec(APL_CHAR, {})), APL_INTG, {0}, {});
    Failed(APL_Add(nullptr, Make(APL_INTG, {2, 0}, {}), Make(APL_INTG, {3, 4}, Values(12))), APL_ERR_LENGTH);
    Failed(APL_Add(nullptr, Ints({}), Ints({1, 2, 3})), APL_ERR_LENGTH);
    Expect(APL_Add(nullptr, Make(APL_INTG, {2, 0}, {}), Make(APL_INTG, {2, 0}, {})), APL_INTG, {2, 0}, {});
    Expect(APL_Sub(nullptr, nullptr, Reals({})), APL_INTG, {0}, {});
    // A non-scalar typical element: an empty nested result with integer zeros
    // of its structure as prototype.
    const int32_t none = 0;
    aplarray *empty = APL_Create(1, APL_NESTED, &none);
    ItemsOf(empty)[0] = APL_Link(Make(APL_CHAR, {2}, {'a', 'b'}));
    aplarray *r = APL_Add(nullptr, empty, Int(1));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->eltype, APL_NESTED);
    EXPECT_EQ(ShapeOf(r), Shape{0});
    EXPECT_EQ(ItemsOf(r)[0]->eltype, APL_INTG);
    EXPECT_EQ(Elements(ItemsOf(r)[0]), (Values{0, 0}));
    APL_UnLinkTemp(r);
    // The monadic comparison has no element to fail on.
    Expect(APL_Lower(nullptr, nullptr, Ints({})), APL_INTG, {0}, {});
}

TEST_F(ScalarEngine, NestedArgumentsArePervaded) {
    // Each item is stretched against the single element.
    aplarray *r = APL_Add(nullptr, Nest({Ints({1, 2}), Ints({3, 4, 5})}), Int(10));
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(r->eltype, APL_NESTED);
    EXPECT_EQ(ItemsOf(r)[0]->eltype, APL_REAL);
    EXPECT_EQ(Elements(ItemsOf(r)[0]), (Values{11, 12}));
    EXPECT_EQ(Elements(ItemsOf(r)[1]), (Values{13, 14, 15}));
    APL_UnLinkTemp(r);
    // Item with element, in their order.
    r = APL_Sub(nullptr, Nest({Ints({1, 2}), Ints({3, 4})}), Ints({10, 20}));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(Elements(ItemsOf(r)[0]), (Values{-9, -8}));
    EXPECT_EQ(Elements(ItemsOf(r)[1]), (Values{-17, -16}));
    APL_UnLinkTemp(r);
    // A simple larger argument against an enclosed item.
    r = APL_Sub(nullptr, Ints({10, 20}), Enclosed(Ints({1, 2})));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(Elements(ItemsOf(r)[0]), (Values{9, 8}));
    EXPECT_EQ(Elements(ItemsOf(r)[1]), (Values{19, 18}));
    APL_UnLinkTemp(r);
    // Deeper nesting on both sides.
    r = APL_Mul(nullptr, Nest({Nest({Int(2), Ints({3, 4})}), Int(5)}), Nest({Int(10), Reals({0.5, 2})}));
    ASSERT_NE(r, nullptr);
    aplarray *inner = ItemsOf(r)[0];
    ASSERT_EQ(inner->eltype, APL_NESTED);
    EXPECT_EQ(Elements(ItemsOf(inner)[0]), (Values{20}));
    EXPECT_EQ(Elements(ItemsOf(inner)[1]), (Values{30, 40}));
    EXPECT_EQ(Elements(ItemsOf(r)[1]), (Values{2.5, 10}));
    APL_UnLinkTemp(r);
    Failed(APL_Add(nullptr, Nest({Ints({1, 2}), Int(3)}), Nest({Ints({1, 2, 3}), Int(3)})), APL_ERR_LENGTH);
}

TEST_F(ScalarEngine, NestedResultsDecideTypesAtTheLeavesAndSimplify) {
    // Items that end as simple scalars give a simple result.
    ExpectVector(APL_Add(nullptr, Nest({Int(1), Int(2)}), Int(1)), APL_REAL, {2, 3});
    ExpectVector(APL_Max(nullptr, Nest({Int(1), Real(2.5)}), Int(2)), APL_REAL, {2, 2.5});
    ExpectVector(APL_Max(nullptr, Nest({Int(1), Int(5)}), Int(2)), APL_INTG, {2, 5});
    // Residue at the leaves: INTG items stay INTG beside a REAL one.
    aplarray *r = APL_Residue(nullptr, Int(3), Nest({Ints({7, 8}), Reals({7.5})}));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(ItemsOf(r)[0]->eltype, APL_INTG);
    EXPECT_EQ(Elements(ItemsOf(r)[0]), (Values{1, 2}));
    EXPECT_EQ(ItemsOf(r)[1]->eltype, APL_REAL);
    EXPECT_EQ(Elements(ItemsOf(r)[1]), (Values{1.5}));
    APL_UnLinkTemp(r);
    // Products of INTG leaves are INTG and refuse to wrap.
    r = APL_Mul(nullptr, Nest({Ints({6, 7}), Int(1)}), Int(3));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(ItemsOf(r)[0]->eltype, APL_INTG);
    APL_UnLinkTemp(r);
    Failed(APL_Mul(nullptr, Nest({Ints({65536}), Int(1)}), Int(65536)), APL_ERR_DOMAIN);
    // Comparisons of BOOL leaves inside nested arguments are INTG.
    r = APL_Equal(nullptr, Nest({Bits({1, 0}), Int(1)}), Bit(1));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(ItemsOf(r)[0]->eltype, APL_INTG);
    EXPECT_EQ(Elements(ItemsOf(r)[0]), (Values{1, 0}));
    APL_UnLinkTemp(r);
    // Monadic pervasion keeps the structure.
    r = APL_Sub(nullptr, nullptr, Nest({Ints({1, 2}), Ints({3, 4})}));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(ItemsOf(r)[0]->eltype, APL_REAL);
    EXPECT_EQ(Elements(ItemsOf(r)[1]), (Values{-3, -4}));
    APL_UnLinkTemp(r);
}

TEST_F(ScalarEngine, TemporariesAreComputedInPlace) {
    aplarray *x = Reals({1, 2, 3});
    aplarray *r = APL_Add(nullptr, x, Int(1));
    EXPECT_EQ(r, x);
    EXPECT_EQ(r->lnkcnt, 0);
    r = APL_Sub(nullptr, Int(10), r);  // right side too
    EXPECT_EQ(r, x);
    r = APL_Sub(nullptr, nullptr, r);  // monadic
    EXPECT_EQ(r, x);
    ExpectVector(r, APL_REAL, {-8, -7, -6});

    aplarray *integers = Ints({4, -9});
    r = APL_Max(nullptr, integers, Int(0));
    EXPECT_EQ(r, integers);
    ExpectVector(r, APL_INTG, {4, 0});
    integers = Ints({4, -9});
    r = APL_Residue(nullptr, nullptr, integers);
    EXPECT_EQ(r, integers);
    ExpectVector(r, APL_INTG, {4, 9});
    aplarray *bits = Make(APL_BOOL, {2, 40}, Values(80, 1));
    EXPECT_EQ(APL_And(nullptr, bits, Bit(0)), bits);
    EXPECT_EQ(Elements(bits), Values(80, 0));
    APL_UnLinkTemp(bits);

    // A linked argument is read, never written.
    aplarray *held = APL_Link(Reals({1, 2}));
    r = APL_Add(nullptr, held, Int(1));
    EXPECT_NE(r, held);
    EXPECT_EQ(held->lnkcnt, 1);
    EXPECT_EQ(Elements(held), (Values{1, 2}));
    ExpectVector(r, APL_REAL, {2, 3});
    APL_UnLink(held);

    // One temporary on both sides is consumed once.
    x = Reals({1.5, 2});
    ExpectVector(APL_Mul(nullptr, x, x), APL_REAL, {2.25, 4});
    aplarray *n = Nest({Ints({1, 2}), Real(3)});
    r = APL_Add(nullptr, n, n);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(Elements(ItemsOf(r)[0]), (Values{2, 4}));
    APL_UnLinkTemp(r);
}

TEST_F(ScalarEngine, NestedTemporariesAreReusedDownToTheLeaves) {
    aplarray *leaf = Reals({1, 2});
    aplarray *n = Nest({leaf, Reals({3})});
    aplarray *r = APL_Mul(nullptr, n, Int(2));
    EXPECT_EQ(r, n);
    ASSERT_EQ(r->eltype, APL_NESTED);
    EXPECT_EQ(ItemsOf(r)[0], leaf);
    EXPECT_EQ(leaf->lnkcnt, 1);
    EXPECT_EQ(Elements(leaf), (Values{2, 4}));
    APL_UnLinkTemp(r);
    // An item that someone else still holds is not overwritten.
    aplarray *shared = APL_Link(Reals({1, 2}));
    n = Nest({shared, Reals({3})});
    r = APL_Add(nullptr, n, Int(1));
    EXPECT_EQ(r, n);
    EXPECT_NE(ItemsOf(r)[0], shared);
    EXPECT_EQ(shared->lnkcnt, 1);
    EXPECT_EQ(Elements(shared), (Values{1, 2}));
    APL_UnLinkTemp(r);
    APL_UnLink(shared);
}

TEST_F(ScalarEngine, AChainOfThreeOnATemporaryAllocatesNothing) {
    aplarray *one = APL_Link(Int(1)), *two = APL_Link(Real(2)), *three = APL_Link(Int(3));
    aplarray *x = Reals(Values(1000, 1.0));
    const int32_t before = NextSerial();
    aplarray *r = APL_Sub(nullptr, APL_Mul(nullptr, APL_Add(nullptr, x, one), two), three);
    EXPECT_EQ(NextSerial(), before + 1);  // only the probe block
    EXPECT_EQ(r, x);
    ExpectVector(r, APL_REAL, Values(1000, 1.0));
    APL_UnLink(one);
    APL_UnLink(two);
    APL_UnLink(three);
}

TEST_F(ScalarEngine, AxisFormStretchesTheLowerArgument) {
    auto matrix = [] { return Make(APL_INTG, {2, 3}, {1, 2, 3, 4, 5, 6}); };
    Expect(APL_Add(Int(1), Ints({10, 20}), matrix()), APL_REAL, {2, 3}, {11, 12, 13, 24, 25, 26});
    Expect(APL_Add(Int(2), Ints({10, 20, 30}), matrix()), APL_REAL, {2, 3}, {11, 22, 33, 14, 25, 36});
    Expect(APL_Sub(Real(1), matrix(), Ints({1, 2})), APL_REAL, {2, 3}, {0, 1, 2, 2, 3, 4});
    Expect(APL_Add(Enclosed(Int(1)), Ints({10, 20}), matrix()), APL_REAL, {2, 3}, {11, 12, 13, 24, 25, 26});
    Failed(APL_Add(Int(3), Ints({1, 2}), matrix()), APL_ERR_INDEX);
    Failed(APL_Add(Int(1), Ints({1, 2, 3}), matrix()), APL_ERR_LENGTH);
    Failed(APL_Add(Ints({1, 2}), Ints({1, 2}), matrix()), APL_ERR_AXIS);
    Failed(APL_Add(Make(APL_INTG, {1, 1}, {1}), Ints({1, 2}), matrix()), APL_ERR_AXIS);
    Failed(APL_Add(Real(1.5), Ints({1, 2}), matrix()), APL_ERR_DOMAIN);
    Failed(APL_Add(Nest({Int(1), Int(2)}), Ints({1, 2}), matrix()), APL_ERR_AXIS);
    // Index origin 0.
    SetSystem(sys_IO_idx, Int(0));
    Expect(APL_Add(Int(0), Ints({10, 20}), matrix()), APL_REAL, {2, 3}, {11, 12, 13, 24, 25, 26});
    Failed(APL_Add(Int(2), Ints({10, 20}), matrix()), APL_ERR_INDEX);
    SetSystem(sys_IO_idx, Int(1));
    // Rank 3 against rank 2, axes written in any order.
    Values cube(24), sums(24);
    for (int i = 0; i < 24; ++i) cube[i] = i;
    for (int i = 0; i < 24; ++i) sums[i] = i + 100 * (i / 12 + 1) + (i % 4);
    Expect(APL_Add(Ints({3, 1}), Make(APL_INTG, {2, 4}, {100, 101, 102, 103, 200, 201, 202, 203}),
                   Make(APL_INTG, {2, 3, 4}, cube)),
           APL_REAL, {2, 3, 4}, sums);
    // A Boolean vector stretched along the rows of a 2 by 40 Boolean matrix.
    Values ones(80, 1), expected(80);
    for (int i = 0; i < 80; ++i) expected[i] = i < 40 ? 1 : 0;
    Expect(APL_And(Int(1), Bits({1, 0}), Make(APL_BOOL, {2, 40}, ones)), APL_BOOL, {2, 40}, expected);
    // The monadic form ignores the axis.
    ExpectScalar(APL_Sub(Int(5), nullptr, Int(3)), APL_REAL, -3);
}

TEST_F(ScalarEngine, StretchRepeatsEveryElementAlongOneAxis) {
    aplarray *m = Make(APL_INTG, {2, 2}, {1, 2, 3, 4});
    Expect(StretchAxis(m, 0, 2), APL_INTG, {4, 2}, {1, 2, 1, 2, 3, 4, 3, 4});
    Expect(StretchAxis(m, 1, 3), APL_INTG, {2, 6}, {1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4});
    Expect(StretchAxis(m, 1, 0), APL_INTG, {2, 0}, {});
    APL_UnLinkTemp(m);
    Values bits(40), twice(80);
    for (int i = 0; i < 40; ++i) bits[i] = twice[2 * i] = twice[2 * i + 1] = i % 3 == 0;
    aplarray *b = Make(APL_BOOL, {1, 40}, bits);
    aplarray *r = StretchAxis(b, 1, 2);
    EXPECT_EQ(PaddingBits(r), 0u);
    Expect(r, APL_BOOL, {1, 80}, twice);
    Expect(StretchAxis(b, 0, 3), APL_BOOL, {3, 40}, [&] {
        Values v;
        for (int k = 0; k < 3; ++k) v.insert(v.end(), bits.begin(), bits.end());
        return v;
    }());
    APL_UnLinkTemp(b);
    aplarray *item = APL_Link(Ints({7}));
    aplarray *n = Nest({item});
    r = StretchAxis(n, 0, 3);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(ItemsOf(r)[2], item);
    EXPECT_EQ(item->lnkcnt, 5);
    APL_UnLinkTemp(r);
    APL_UnLinkTemp(n);
    APL_UnLink(item);
    aplarray *pair = Ints({1, 2});
    Failed(StretchAxis(pair, 0, INT32_MAX), APL_ERR_DOMAIN);
    APL_UnLinkTemp(pair);
}

TEST_F(ScalarEngine, FloatingPointFaultsAreDomainErrors) {
    Failed(APL_Mul(nullptr, Real(1e300), Reals({1, 1e300})), APL_ERR_DOMAIN);
    Failed(APL_Add(nullptr, Real(1.7e308), Real(1.7e308)), APL_ERR_DOMAIN);
    Failed(APL_Sub(nullptr, Real(-1.7e308), Real(1.7e308)), APL_ERR_DOMAIN);
    Failed(APL_Circle(nullptr, nullptr, Real(1e308)), APL_ERR_DOMAIN);
    // A fault in one item fails the whole nested call; the temporaries go.
    Failed(APL_Mul(nullptr, Nest({Reals({1, 2}), Real(1e300)}), Real(1e300)), APL_ERR_DOMAIN);
    // Comparisons never fault, even where A−B overflows.
    ExpectScalar(APL_Equal(nullptr, Real(1.7e308), Real(-1.7e308)), APL_INTG, 0);
    ExpectScalar(APL_Lower(nullptr, Real(-1.7e308), Real(1.7e308)), APL_INTG, 1);
    // Without the host's restore option the status stays as the fault left
    // it; with it the status is clean after every call.
    feclearexcept(FE_ALL_EXCEPT);
    Failed(APL_Mul(nullptr, Real(1e300), Real(1e300)), APL_ERR_DOMAIN);
    EXPECT_TRUE(fetestexcept(FE_OVERFLOW));
    static int restoreCalls = 0;
    APL_Callback(10, reinterpret_cast<void *>(+[] { ++restoreCalls; }));
    Failed(APL_Mul(nullptr, Real(1e300), Real(1e300)), APL_ERR_DOMAIN);
    EXPECT_FALSE(fetestexcept(FE_OVERFLOW));
    EXPECT_EQ(restoreCalls, 0);  // only tested for being set
}

TEST_F(ScalarEngine, BadCallsEndInErrorsWithNothingLeaked) {
    Failed(APL_Add(nullptr, Ints({1, 2}), nullptr), APL_ERR_SYNTAX);
    Failed(APL_Sub(nullptr, nullptr, Vec(APL_CHAR, {'a'})), APL_ERR_DOMAIN);
    // A pending error: the call does nothing but release its temporaries.
    aplerrno = APL_ERR_INDEX;
    Failed(APL_Add(nullptr, Ints({1}), Ints({2})), APL_ERR_INDEX);
    // A nested array with an empty item slot is refused, not followed.
    const int32_t two = 2;
    aplarray *broken = APL_Create(1, APL_NESTED, &two);
    ItemsOf(broken)[0] = APL_Link(Ints({1}));
    Failed(APL_Add(nullptr, broken, Int(1)), APL_ERR_DOMAIN);
    // A record that is not one of ours.
    alignas(8) unsigned char fake[24] = {24, 0, 0, 0, APL_SIMPLE, 0, APL_INTG, 0, 0, 0, 0, 0, 1, 0, 0, 0};
    Failed(APL_Add(nullptr, reinterpret_cast<aplarray *>(fake), Int(1)), APL_ERR_DOMAIN);
    // Nesting beyond what real data has.
    aplarray *deep = Int(1);
    for (int i = 0; i < 1200; ++i) deep = Enclosed(deep);
    Failed(APL_Add(nullptr, deep, Int(1)), APL_ERR_LIMIT);
    // An interrupt stops a pervasion between items.
    APL_interrupted = 1;
    Failed(APL_Add(nullptr, Nest({Int(1), Int(2)}), Int(1)), APL_ERR_INTERRUPT);
}

TEST_F(ScalarEngine, StaticArgumentsAreReadAndLeftAlone) {
    // A static record as the constant pool holds it: 4-byte aligned data.
    alignas(8) unsigned char bytes[40];
    aplarray *s = reinterpret_cast<aplarray *>(bytes);
    const int32_t header[] = {36, 0, 0, 2, 2};
    memcpy(s, header, sizeof header);
    s->type = APL_SIMPLE | APL_STATIC;
    s->rank = 1;
    s->eltype = APL_REAL;
    const double values[] = {1.5, -2};
    memcpy(reinterpret_cast<char *>(s) + 20, values, sizeof values);
    ExpectVector(APL_Mul(nullptr, s, Int(2)), APL_REAL, {3, -4});
    ExpectVector(APL_Add(nullptr, s, s), APL_REAL, {3, -4});
    double after[2];
    memcpy(after, reinterpret_cast<char *>(s) + 20, sizeof after);
    EXPECT_EQ(after[0], 1.5);
    EXPECT_EQ(after[1], -2);
}

// ---- Element rules -------------------------------------------------------------------

using ScalarMembers = Scalar;

TEST_F(ScalarMembers, DivisionAndTheValueOfZeroByZero) {
    ExpectScalar(APL_Division(nullptr, Int(0), Int(0)), APL_REAL, 1);
    ExpectScalar(APL_Division(nullptr, Real(1e-14), Int(0)), APL_REAL, 1);
    ExpectVector(APL_Division(nullptr, Ints({1, 3}), Ints({4, -2})), APL_REAL, {0.25, -1.5});
    Failed(APL_Division(nullptr, Int(5), Int(0)), APL_ERR_DOMAIN);
    Failed(APL_Division(nullptr, Ints({0, 5}), Int(0)), APL_ERR_DOMAIN);
    SetSystem(sys_DIV_idx, Int(0));
    ExpectVector(APL_Division(nullptr, Reals({0, 1e-15}), Int(0)), APL_REAL, {0, 0});
    ExpectScalar(APL_Division(nullptr, nullptr, Int(4)), APL_REAL, 0.25);
    Failed(APL_Division(nullptr, nullptr, Ints({2, 0})), APL_ERR_DOMAIN);
}

TEST_F(ScalarMembers, ResidueKeepsTheSignOfTheModulus) {
    ExpectVector(APL_Residue(nullptr, Ints({0, 7, 3, -3, -3, -3}), Ints({7, 0, -7, 7, -7, 6})), APL_INTG,
                 {0, 0, 2, -2, -1, 0});
    // The most negative INTG on either side, without overflow.
    ExpectVector(APL_Residue(nullptr, Ints({-1, INT_MIN, INT_MIN, INT_MAX}), Ints({INT_MIN, -1, 5, INT_MIN})), APL_INTG,
                 {0, -1, -2147483643.0, 2147483646});
    ExpectVector(APL_Residue(nullptr, Reals({0.5, -2.5, 0}), Reals({1.25, 7, 3.5})), APL_REAL, {0.25, -0.5, 0});
    // Tolerance: a quotient that is whole but for rounding leaves exactly zero.
    ExpectVector(APL_Residue(nullptr, Reals({0.1, -0.1, 0.2, 1 / 3.0}), Reals({0.3, -0.3, 1.2, 1})), APL_REAL,
                 {0, 0, 0, 0});
    Failed(APL_Residue(nullptr, Real(1e-300), Real(1e300)), APL_ERR_DOMAIN);
    ExpectVector(APL_Residue(nullptr, nullptr, Ints({-5, 5})), APL_INTG, {5, 5});
    ExpectScalar(APL_Residue(nullptr, nullptr, Real(-5.5)), APL_REAL, 5.5);
    Failed(APL_Residue(nullptr, nullptr, Int(INT_MIN)), APL_ERR_DOMAIN);
}

TEST_F(ScalarMembers, PowerUsesIntegerPowersAndTheSmallExponentPath) {
    ExpectVector(APL_Power(nullptr, Ints({0, 0, 2, 2, -2}), Ints({0, -1, -2, 10, 3})), APL_REAL,
                 {1, 0, 0.25, 1024, -8});
    // One small exponent for many bases, INTG and REAL.
    ExpectVector(APL_Power(nullptr, Reals({1.5, -2}), Int(3)), APL_REAL, {3.375, -8});
    ExpectVector(APL_Power(nullptr, Ints({3, -2}), Int(4)), APL_REAL, {81, 16});
    ExpectVector(APL_Power(nullptr, Reals({2, 0.5}), Int(6)), APL_REAL, {64, 0.015625});
    ExpectVector(APL_Power(nullptr, Reals({2, 3}), Int(0)), APL_REAL, {1, 1});
    ExpectVector(APL_Power(nullptr, Ints({2, 3}), Int(7)), APL_REAL, {128, 2187});
    ExpectScalar(APL_Power(nullptr, Int(1), Int(INT_MIN)), APL_REAL, 1);
    ExpectScalar(APL_Power(nullptr, Int(2), Real(0.5)), APL_REAL, std::sqrt(2.0), 1e-15);
    Failed(APL_Power(nullptr, Int(10), Int(400)), APL_ERR_DOMAIN);
    Failed(APL_Power(nullptr, Reals({1e200, 2}), Int(2)), APL_ERR_DOMAIN);
    Failed(APL_Power(nullptr, Int(-8), Real(0.5)), APL_ERR_DOMAIN);
    Failed(APL_Power(nullptr, Int(0), Real(-1.5)), APL_ERR_DOMAIN);
    ExpectScalar(APL_Power(nullptr, nullptr, Int(1)), APL_REAL, std::exp(1.0));
    Failed(APL_Power(nullptr, nullptr, Int(1000)), APL_ERR_DOMAIN);
}

TEST_F(ScalarMembers, LogarithmsFaultOutsideTheirDomain) {
    ExpectVector(APL_Logarithm(nullptr, Ints({2, 10}), Ints({8, 1000})), APL_REAL, {3, 3}, 1e-15);
    ExpectScalar(APL_Logarithm(nullptr, nullptr, Int(1)), APL_REAL, 0);
    Failed(APL_Logarithm(nullptr, Int(1), Int(5)), APL_ERR_DOMAIN);
    Failed(APL_Logarithm(nullptr, Int(0), Int(5)), APL_ERR_DOMAIN);
    Failed(APL_Logarithm(nullptr, Int(2), Int(0)), APL_ERR_DOMAIN);
    Failed(APL_Logarithm(nullptr, Int(2), Int(-1)), APL_ERR_DOMAIN);
    Failed(APL_Logarithm(nullptr, nullptr, Int(0)), APL_ERR_DOMAIN);
    Failed(APL_Logarithm(nullptr, nullptr, Int(-1)), APL_ERR_DOMAIN);
}

TEST_F(ScalarMembers, MonadicArithmetic) {
    ExpectScalar(APL_Add(nullptr, nullptr, Int(3)), APL_REAL, 3);
    ExpectScalar(APL_Sub(nullptr, nullptr, Int(5)), APL_REAL, -5);
    ExpectVector(APL_Mul(nullptr, nullptr, Reals({-2.5, 0, 1e-300})), APL_INTG, {-1, 0, 1});
    ExpectVector(APL_Mul(nullptr, nullptr, Ints({-7, 0, INT_MIN})), APL_INTG, {-1, 0, -1});
    ExpectVector(APL_Min(nullptr, nullptr, Reals({-2.5, 2.99999999999999, 2.9})), APL_REAL, {-3, 3, 2});
    ExpectVector(APL_Max(nullptr, nullptr, Reals({2.00000000000001, 2.1, -0.5})), APL_REAL, {2, 3, 0});
    ExpectScalar(APL_Min(nullptr, nullptr, Int(7)), APL_INTG, 7);
    ExpectScalar(APL_Max(nullptr, nullptr, Bit(1)), APL_INTG, 1);
    ExpectScalar(APL_Circle(nullptr, nullptr, Int(1)), APL_REAL, 3.141592653589793);
    EXPECT_EQ(APL_Sub(nullptr, nullptr, Vec(APL_CHAR, {'a'})), nullptr);
    EXPECT_STREQ(APL_error_message, "Invalid data type(CHAR)");
    Failed(nullptr, APL_ERR_DOMAIN);  // the call above failed with DOMAIN
    Failed(APL_Lower(nullptr, nullptr, Int(5)), APL_ERR_NONCE);
    Failed(APL_And(nullptr, nullptr, Int(1)), APL_ERR_NONCE);
    Failed(APL_Equal(nullptr, nullptr, Vec(APL_CHAR, {'a'})), APL_ERR_NONCE);
}

TEST_F(ScalarMembers, FactorialAndBinomialFollowTheGammaSeries) {
    ExpectVector(APL_Factorial(nullptr, nullptr, Ints({0, 1})), APL_REAL, {1, 1});  // exactly
    ExpectVector(APL_Factorial(nullptr, nullptr, Reals({5, 0.5, 10})), APL_REAL, {120, 0.886226925452758, 3628800},
                 1e-9);
    Failed(APL_Factorial(nullptr, nullptr, Int(-2)), APL_ERR_DOMAIN);
    Failed(APL_Factorial(nullptr, nullptr, Int(-1)), APL_ERR_DOMAIN);
    Failed(APL_Factorial(nullptr, nullptr, Int(171)), APL_ERR_DOMAIN);
    // The six cases of the sign table.
    ExpectVector(APL_Factorial(nullptr, Ints({5, 2, 2, -1, 2, 3, -2, -1}), Ints({3, 4, 200, 3, -1, -2, -1, -3})),
                 APL_REAL, {0, 6, 19900, 0, 1, -4, -1, 0}, 1e-9);
    Failed(APL_Factorial(nullptr, Int(-1), Real(-0.5)), APL_ERR_DOMAIN);
}

TEST_F(ScalarMembers, CircleFunctions) {
    const double x = 0.5;
    struct Case {
        int code;
        double b, expected;
    };
    const Case cases[] = {
        {0, x, std::sqrt(1 - x * x)},
        {1, x, std::sin(x)},
        {2, x, std::cos(x)},
        {3, x, std::tan(x)},
        {4, x, std::sqrt(1 + x * x)},
        {5, x, std::sinh(x)},
        {6, x, std::cosh(x)},
        {7, x, std::tanh(x)},
        {-1, x, std::asin(x)},
        {-2, x, std::acos(x)},
        {-3, x, std::atan(x)},
        {-4, 2, std::sqrt(3.0)},
        {-5, x, std::log(x + std::sqrt(x * x + 1))},
        {-6, 2, std::log(2 + std::sqrt(3.0))},
        {-7, x, 0.5 * std::log((1 + x) / (1 - x))},
        {-5, -1e8, -std::asinh(1e8)},
        {4, 1e200, 1e200},
        {-4, 1e200, 1e200},
    };
    for (const Case &c : cases) ExpectScalar(APL_Circle(nullptr, Int(c.code), Real(c.b)), APL_REAL, c.expected, 1e-15);
    // A code per element, and REAL codes near an integer.
    ExpectVector(APL_Circle(nullptr, Reals({1.00000000000001, 2, -3}), Ints({0, 0, 1})), APL_REAL,
                 {0, 1, std::atan(1.0)}, 1e-15);
    ExpectVector(APL_Circle(nullptr, Ints({1, 2}), Int(0)), APL_REAL, {0, 1});
    Failed(APL_Circle(nullptr, Int(8), Int(1)), APL_ERR_NONCE);
    Failed(APL_Circle(nullptr, Ints({1, -12}), Int(1)), APL_ERR_NONCE);
    Failed(APL_Circle(nullptr, Int(13), Int(1)), APL_ERR_DOMAIN);
    Failed(APL_Circle(nullptr, Int(INT_MIN), Int(1)), APL_ERR_DOMAIN);
    Failed(APL_Circle(nullptr, Real(1.5), Int(1)), APL_ERR_DOMAIN);
    for (auto [code, b] : {std::pair{0, 2.0}, {-1, 2.0}, {-6, 0.5}, {-7, 1.0}, {-7, -1.0}, {5, 1000.0}, {-4, 0.5}})
        Failed(APL_Circle(nullptr, Int(code), Real(b)), APL_ERR_DOMAIN);
}

TEST_F(ScalarMembers, ComparisonsAreTolerantForRealPairsOnly) {
    // = ≠ < ≤ ≥ > of (1, 1+1E¯14), (1, 1.1) and the INTG pair (1, 2).
    aplarray *(*const functions[])(aplarray *, aplarray *, aplarray *) = {APL_Equal,  APL_NEqual, APL_Lower,
                                                                          APL_LEqual, APL_GEqual, APL_Greater};
    const Values near = {1, 0, 0, 1, 1, 0}, apart = {0, 1, 1, 1, 0, 0};
    for (int f = 0; f < 6; ++f) {
        ExpectScalar(functions[f](nullptr, Int(1), Real(1 + 1e-14)), APL_INTG, near[f]);
        ExpectScalar(functions[f](nullptr, Int(1), Real(1.1)), APL_INTG, apart[f]);
        ExpectScalar(functions[f](nullptr, Int(1), Int(2)), APL_INTG, apart[f]);
    }
    // The tolerance scales with the magnitudes.
    ExpectScalar(APL_Equal(nullptr, Int(0), Real(1e-20)), APL_INTG, 0);
    // A large CT: INTG pairs stay exact, a REAL partner does not.
    SetSystem(sys_CT_idx, Real(0.1));
    ExpectVector(APL_Equal(nullptr, Ints({10, 10}), Vec(APL_INTG, {11, 11})), APL_INTG, {0, 0});
    ExpectVector(APL_Equal(nullptr, Ints({10, 10}), Reals({11, 12.5})), APL_INTG, {1, 0});
    SetSystem(sys_CT_idx, Real(0));
    ExpectScalar(APL_Equal(nullptr, Int(1), Real(1 + 1e-14)), APL_INTG, 0);
    // Maximum and minimum compare exactly.
    ExpectScalar(APL_Max(nullptr, Int(1), Real(1 + 1e-14)), APL_REAL, 1 + 1e-14);
    // Characters: equal to characters only; ordered comparisons refuse them.
    ExpectVector(APL_Equal(nullptr, Vec(APL_CHAR, {'a', 'b'}), Vec(APL_CHAR, {'a', 'c'})), APL_INTG, {1, 0});
    ExpectVector(APL_Equal(nullptr, Vec(APL_CHAR, {'a'}), Int(97)), APL_INTG, {0});
    ExpectVector(APL_NEqual(nullptr, Vec(APL_CHAR, {'a', 'b'}), Reals({97, 1.5})), APL_INTG, {1, 1});
    EXPECT_EQ(APL_Lower(nullptr, Vec(APL_CHAR, {'a'}), Vec(APL_CHAR, {'b'})), nullptr);
    EXPECT_STREQ(APL_error_message, "Invalid data type(CHAR)");
    Failed(nullptr, APL_ERR_DOMAIN);  // the call above failed with DOMAIN
}

TEST_F(ScalarMembers, GcdAndLcmOnIntegers) {
    ExpectVector(APL_Or(nullptr, Ints({12, 0, -4, -4, 0, INT_MIN}), Ints({18, 5, 6, -6, -7, 2})), APL_INTG,
                 {6, 5, 2, 2, 7, 2});
    ExpectVector(APL_And(nullptr, Ints({12, 0, -4, 46340}), Ints({18, 5, 6, 46341})), APL_INTG,
                 {36, 0, 12, 2147441940});
    Failed(APL_Or(nullptr, Int(INT_MIN), Int(0)), APL_ERR_DOMAIN);
    Failed(APL_And(nullptr, Int(INT_MIN), Int(1)), APL_ERR_DOMAIN);
    Failed(APL_And(nullptr, Int(65536), Int(65537)), APL_ERR_DOMAIN);
    ExpectVector(APL_Nand(nullptr, Ints({2, 3, 0}), Ints({4, 1, 0})), APL_INTG, {1, 0, 1});
    ExpectVector(APL_Nor(nullptr, Ints({0, 0, 2}), Ints({0, 1, 0})), APL_INTG, {1, 0, 0});
    // REAL arguments must be near integers.
    ExpectScalar(APL_Or(nullptr, Real(2), Int(4)), APL_INTG, 2);
    Failed(APL_Or(nullptr, Real(2.5), Int(4)), APL_ERR_DOMAIN);
}

// Every Boolean function on rows of 33 and 70 bits, element by element against
// the same function on the widened values, with single bits on either side.
TEST_F(ScalarMembers, BooleanWordsAgreeWithElements) {
    using Entry = aplarray *(*)(aplarray *, aplarray *, aplarray *);
    struct Function {
        Entry entry;
        int (*element)(int, int);
    };
    const Function functions[] = {
        {APL_And, [](int a, int b) { return a & b; }},          {APL_Or, [](int a, int b) { return a | b; }},
        {APL_Nand, [](int a, int b) { return 1 - (a & b); }},   {APL_Nor, [](int a, int b) { return 1 - (a | b); }},
        {APL_Equal, [](int a, int b) { return int(a == b); }},  {APL_NEqual, [](int a, int b) { return int(a != b); }},
        {APL_Lower, [](int a, int b) { return int(a < b); }},   {APL_LEqual, [](int a, int b) { return int(a <= b); }},
        {APL_GEqual, [](int a, int b) { return int(a >= b); }}, {APL_Greater, [](int a, int b) { return int(a > b); }},
        {APL_Max, [](int a, int b) { return a | b; }},          {APL_Min, [](int a, int b) { return a & b; }},
        {APL_Mul, [](int a, int b) { return a & b; }},
    };
    std::mt19937 random(7);
    for (const Shape &shape : {Shape{3, 33}, Shape{2, 70}}) {
        const int n = shape[0] * shape[1];
        Values a(n), b(n);
        for (int i = 0; i < n; ++i) {
            a[i] = random() & 1;
            b[i] = random() & 1;
        }
        for (const Function &f : functions) {
            for (int single = 0; single < 2; ++single) {
                // Many against many, many against a scalar, a one-element vector against many.
                Values ab(n), as(n), sb(n);
                for (int i = 0; i < n; ++i) {
                    ab[i] = f.element(int(a[i]), int(b[i]));
                    as[i] = f.element(int(a[i]), single);
                    sb[i] = f.element(single, int(b[i]));
                }
                aplarray *r = f.entry(nullptr, Make(APL_BOOL, shape, a), Make(APL_BOOL, shape, b));
                ASSERT_NE(r, nullptr);
                EXPECT_EQ(PaddingBits(r), 0u);
                Expect(r, APL_BOOL, shape, ab);
                r = f.entry(nullptr, Make(APL_BOOL, shape, a), Bit(single));
                ASSERT_NE(r, nullptr);
                EXPECT_EQ(PaddingBits(r), 0u);
                Expect(r, APL_BOOL, shape, as);
                Expect(f.entry(nullptr, Bits({double(single)}), Make(APL_BOOL, shape, b)), APL_BOOL, shape, sb);
            }
        }
        // Against integers: comparisons widen the bits, logical functions pack the integers.
        Values ints(n), equal(n), both(n);
        for (int i = 0; i < n; ++i) {
            ints[i] = (i % 3) - 1;
            equal[i] = a[i] == ints[i];
            both[i] = a[i] != 0 && ints[i] != 0;
        }
        Expect(APL_Equal(nullptr, Make(APL_BOOL, shape, a), Make(APL_INTG, shape, ints)), APL_INTG, shape, equal);
        Expect(APL_And(nullptr, Make(APL_INTG, shape, ints), Make(APL_BOOL, shape, a)), APL_BOOL, shape, both);
    }
}

}  // namespace
