// Element types: ConvertType and the converters, the tolerances, BOOL packing,
// the integer view, nested scalars and the system functions BOOL, SHORT, REAL.
#include "support.h"

#include "core/eltypes.h"
#include "core/symtab.h"
#include "core/wrapper.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace {

using namespace arrays_support;

const double kNaN = std::nan("");
const double kInfinity = HUGE_VAL;

// Every test runs with the system variables, so that CT can be changed.
class ElementTypes : public WorkspaceTest {
protected:
    // The result's type and elements, released afterwards; -1 for a null result.
    static std::pair<int, Values> Take(aplarray *r) {
        if (!r) return {-1, {}};
        std::pair<int, Values> seen{r->eltype, Elements(r)};
        APL_UnLinkTemp(r);
        return seen;
    }
    static std::pair<int, Values> Expect(int eltype, Values v) { return {eltype, v}; }
    // Checks that the call failed with `code` and clears it.
    static void Failed(aplarray *r, int code) {
        EXPECT_EQ(r, nullptr);
        EXPECT_EQ(aplerrno, code);
        aplerrno = 0;
    }
};

TEST_F(ElementTypes, ARefusedConversionConsumesATemporaryAndKeepsALinkedArgument) {
    // A converter that refuses an element sets DOMAIN without text.
    Failed(ConvertType(Vec(APL_INTG, {40000}), APL_SHORT), APL_ERR_DOMAIN);
    EXPECT_STREQ(APL_error_message, "");
    aplarray *held = APL_Link(Vec(APL_REAL, {2.5}));
    Failed(ConvertType(held, APL_INTG), APL_ERR_DOMAIN);
    EXPECT_EQ(held->lnkcnt, 1);
    APL_UnLink(held);
}

TEST_F(ElementTypes, RealToIntUsesTheCurrentComparisonTolerance) {
    EXPECT_EQ(Take(RealToInt(Vec(APL_REAL, {3.00000000000001, -2147483647.0, 2147483647.0, -0.0, -5}))),
              Expect(APL_INTG, {3, -2147483647, 2147483647, 0, -5}));
    for (double bad : {2.99999999999999, 1e10, -2147483648.0, 0.5, kNaN, kInfinity})
        Failed(RealToInt(Vec(APL_REAL, {1, bad})), APL_ERR_DOMAIN);
    SetSymbolValue(sys_CT_idx, MakeReal(0));
    Failed(RealToInt(Vec(APL_REAL, {3.00000000000001})), APL_ERR_DOMAIN);
    SetSymbolValue(sys_CT_idx, MakeReal(1e-10));
    EXPECT_EQ(Take(RealToInt(Vec(APL_REAL, {3.0000000001}))), Expect(APL_INTG, {3}));
    SetSymbolValue(sys_CT_idx, MakeInt(0));  // an INTG CT serves as well
    Failed(RealToInt(Vec(APL_REAL, {3.0000000001})), APL_ERR_DOMAIN);
}

TEST_F(ElementTypes, BoolRowsPackOnWordBoundariesAndRoundTrip) {
    const Shape shapes[] = {{0}, {1}, {31}, {32}, {33}, {3, 33}, {2, 32}, {4, 1}, {0, 5}, {5, 0}, {2, 3, 40}, {}};
    for (const Shape &shape : shapes) {
        Values v;
        int64_t n = 1;
        for (int32_t axis : shape) n *= axis;
        for (int64_t i = 0; i < n; ++i) v.push_back((i * 7 + i / 5) % 3 == 0 ? 0 : i - 50);
        aplarray *b = APL_ToBool(nullptr, nullptr, Make(APL_INTG, shape, v));
        ASSERT_NE(b, nullptr);
        const int64_t rows = RowLength(b) ? n / RowLength(b) : 0;
        EXPECT_EQ(b->number, rows * WordsPerRow(b)) << shape.size();
        EXPECT_EQ(static_cast<size_t>(b->rank), shape.size());
        EXPECT_EQ(PaddingBits(b), 0u);
        Values bits;
        for (double x : v) bits.push_back(x != 0);
        EXPECT_EQ(Elements(b), bits);
        EXPECT_EQ(Take(BoolToInt(b)), Expect(APL_INTG, bits));
    }
}

TEST_F(ElementTypes, BoolToIntReadsNoBitPastTheRow) {
    Values v(66, 0);
    v[0] = v[32] = v[33] = 1;
    aplarray *b = Make(APL_BOOL, {2, 33}, v);
    for (int w : {1, 3}) DataOf<uint32_t>(b)[w] |= 0xFFFFFFFEu;  // padding of each row
    EXPECT_EQ(Take(BoolToInt(b)), Expect(APL_INTG, v));
    // A scalar is a row of one element: only bit 0 counts.
    aplarray *s = Make(APL_BOOL, {}, {});
    *DataOf<uint32_t>(s) = 2;
    EXPECT_EQ(Take(BoolToInt(s)), Expect(APL_INTG, {0}));
}

TEST_F(ElementTypes, StaticArgumentsAreReadWithoutAlignment) {
    // A static REAL record whose data is only 4-byte aligned, as in a constant pool.
    alignas(8) unsigned char bytes[16 + 4 + 16];
    auto *a = reinterpret_cast<aplarray *>(bytes);
    const int32_t header[] = {sizeof bytes, APL_SIMPLE | APL_STATIC | APL_REAL << 16 | 1 << 8, 0, 2, 2};
    memcpy(a, header, sizeof header);
    const double values[] = {3.00000000000001, -7};
    memcpy(bytes + 20, values, sizeof values);
    EXPECT_EQ(Take(ConvertType(a, APL_INTG)), Expect(APL_INTG, {3, -7}));
    EXPECT_EQ(Take(APL_ToShort(nullptr, nullptr, a)), Expect(APL_SHORT, {3, -7}));
    aplarray *n = APL_MakeNested(a);
    EXPECT_EQ(Take(SimplifyArray(n)), Expect(APL_REAL, {3.00000000000001, -7}));
    EXPECT_EQ(a->lnkcnt, 0);
}

}  // namespace
