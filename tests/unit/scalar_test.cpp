// The scalar engine where the session cannot look: reuse of temporaries,
// stretching along an axis, the floating-point status, broken and static
// records, the INTG limits and Boolean words. Values and types are in scalar.tr.
#include "support.h"

#include "core/eltypes.h"
#include "core/symtab.h"
#include "scalar/scllib.h"
#include "structural/cells.h"

#include <cfenv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
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
using ScalarMembers = Scalar;

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

// The most negative INTG cannot be typed in the session (it reads as REAL):
// residue, magnitude, signum and gcd take it with 64-bit steps.
TEST_F(ScalarMembers, MostNegativeIntegerNeverOverflows) {
    ExpectVector(APL_Residue(nullptr, Ints({-1, INT_MIN, INT_MIN, INT_MAX}), Ints({INT_MIN, -1, 5, INT_MIN})), APL_INTG,
                 {0, -1, -2147483643.0, 2147483646});
    Failed(APL_Residue(nullptr, nullptr, Int(INT_MIN)), APL_ERR_DOMAIN);
    ExpectScalar(APL_Mul(nullptr, nullptr, Int(INT_MIN)), APL_INTG, -1);
    ExpectScalar(APL_Or(nullptr, Int(INT_MIN), Int(2)), APL_INTG, 2);
    Failed(APL_Or(nullptr, Int(INT_MIN), Int(0)), APL_ERR_DOMAIN);
    Failed(APL_And(nullptr, Int(INT_MIN), Int(1)), APL_ERR_DOMAIN);
    Failed(APL_Circle(nullptr, Int(INT_MIN), Int(1)), APL_ERR_DOMAIN);
    ExpectScalar(APL_Power(nullptr, Int(1), Int(INT_MIN)), APL_REAL, 1);
}

// Without the host's restore option the status stays as a fault left it; with
// it the status is clean after every call.
TEST_F(ScalarEngine, FloatingPointStatusAfterAFault) {
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

// ---- Boolean words ------------------------------------------------------------------

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

// ---- Factorial and binomial -----------------------------------------------------------

// n! as decimal digits, multiplied out in base 10^9, read back by strtod, which
// rounds to the nearest double: an exact reference independent of the library.
double ExactFactorialByDigits(int n) {
    std::vector<uint32_t> limbs{1};  // base 10^9, least significant first
    for (int k = 2; k <= n; ++k) {
        uint64_t carry = 0;
        for (uint32_t &limb : limbs) {
            const uint64_t v = uint64_t{limb} * static_cast<uint64_t>(k) + carry;
            limb = static_cast<uint32_t>(v % 1000000000u);
            carry = v / 1000000000u;
        }
        while (carry) {
            limbs.push_back(static_cast<uint32_t>(carry % 1000000000u));
            carry /= 1000000000u;
        }
    }
    std::string digits = std::to_string(limbs.back());
    char part[16];
    for (size_t i = limbs.size() - 1; i-- > 0;) {
        snprintf(part, sizeof part, "%09u", static_cast<unsigned>(limbs[i]));
        digits += part;
    }
    return std::strtod(digits.c_str(), nullptr);
}

TEST_F(ScalarMembers, FactorialOfWholeNumbersIsTheNearestDoubleToTheProduct) {
    for (int n = 0; n <= 170; ++n) {
        aplarray *r = APL_Factorial(nullptr, nullptr, Int(n));
        ASSERT_NE(r, nullptr) << n;
        EXPECT_EQ(Elements(r)[0], ExactFactorialByDigits(n)) << "!" << n;
        APL_UnLinkTemp(r);
    }
    // A REAL that holds a whole number is a whole number too.
    ExpectScalar(APL_Factorial(nullptr, nullptr, Real(20)), APL_REAL, 2432902008176640000.0);
    Failed(APL_Factorial(nullptr, nullptr, Int(171)), APL_ERR_DOMAIN);
    Failed(APL_Factorial(nullptr, nullptr, Int(-1)), APL_ERR_DOMAIN);  // a pole of the gamma function
    Failed(APL_Factorial(nullptr, nullptr, Real(-2.5)), APL_ERR_DOMAIN);
}

TEST_F(ScalarMembers, BinomialOfWholeNumbersIsExact) {
    // Pascal's triangle in 64-bit integers up to n = 66, where C(66, 33) still fits.
    std::vector<std::vector<uint64_t>> c{{1}};
    for (int n = 1; n <= 66; ++n) {
        c.push_back(std::vector<uint64_t>(static_cast<size_t>(n) + 1, 1));
        for (int k = 1; k < n; ++k)
            c[static_cast<size_t>(n)][static_cast<size_t>(k)] =
                c[static_cast<size_t>(n) - 1][static_cast<size_t>(k) - 1] + c[static_cast<size_t>(n) - 1][static_cast<size_t>(k)];
    }
    for (int n = 0; n <= 66; ++n)
        for (int k = 0; k <= n; ++k) {
            aplarray *r = APL_Factorial(nullptr, Int(k), Int(n));
            ASSERT_NE(r, nullptr);
            EXPECT_EQ(Elements(r)[0], static_cast<double>(c[static_cast<size_t>(n)][static_cast<size_t>(k)]))
                << k << "!" << n;
            APL_UnLinkTemp(r);
        }
    // Negative arguments by the signed formulas; out of range is 0.
    ExpectVector(APL_Factorial(nullptr, Ints({3, 2, -4, 5, -1}), Ints({-2, -1, -2, 3, 3})), APL_REAL,
                 {-4, 1, 3, 0, 0});
    ExpectScalar(APL_Factorial(nullptr, Int(2), Int(200)), APL_REAL, 19900);
    Failed(APL_Factorial(nullptr, Int(600), Int(1200)), APL_ERR_DOMAIN);  // beyond the double's range
}

}  // namespace
