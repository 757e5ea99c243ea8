// The scalar engine where the session cannot look: reuse of temporaries, the
// floating-point status, broken and static records, the INTG limits, and
// factorials against exact references (binomials are in scalar.tr). Values, types and Boolean words are in
// scalar.tr.
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
#include <string>
#include <vector>

namespace {

using namespace arrays_support;

aplarray *Int(int32_t x) { return APL_Int(x); }

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

// A temporary is computed in place (the chain below counts the blocks); a
// linked argument is read, never written, and one temporary on both sides
// is consumed once.
TEST_F(ScalarEngine, LinkedArgumentsAreNeverWrittenAndTemporariesGoOnce) {
    aplarray *held = APL_Link(Reals({1, 2}));
    aplarray *r = APL_Add(nullptr, held, Int(1));
    EXPECT_NE(r, held);
    EXPECT_EQ(held->lnkcnt, 1);
    EXPECT_EQ(Elements(held), (Values{1, 2}));
    ExpectVector(r, APL_REAL, {2, 3});
    APL_UnLink(held);

    aplarray *x = Reals({1.5, 2});
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

}  // namespace
