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

TEST_F(ElementTypes, ConvertTypeRefusesEveryOtherPairWithTheTypeName) {
    const struct {
        int from, mask;
        const char *message;
    } cases[] = {
        {APL_CHAR, kNumeric, "Invalid data type(CHAR)"},
        {APL_NESTED, 55, "Invalid data type(UNKNOWN)"},
        {APL_REAL, 49, "Invalid data type(REAL)"},
        {APL_BOOL, APL_REAL | APL_SHORT, "Invalid data type(BOOL)"},
        {APL_INTG, APL_REAL | APL_CHAR, "Invalid data type(INTG)"},  // never widened to REAL
        {APL_SHORT, APL_REAL | APL_CHAR, "Invalid data type(SHORT)"},
    };
    for (const auto &c : cases) {
        aplarray *a = c.from == APL_NESTED ? Nest({APL_Int(1)}) : Vec(c.from, {1});
        EXPECT_EQ(ConvertType(a, c.mask), a);
        EXPECT_EQ(aplerrno, APL_ERR_DOMAIN);
        EXPECT_STREQ(APL_error_message, c.message);
        aplerrno = 0;
        APL_UnLinkTemp(a);
    }
    // A converter that refuses an element sets DOMAIN without text and consumes
    // a temporary; a linked argument survives.
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

TEST_F(ElementTypes, ShortAcceptsOnlyValuesThatFit) {
    EXPECT_EQ(Take(APL_ToShort(nullptr, nullptr, Vec(APL_INTG, {-32768, 32767, 0}))),
              Expect(APL_SHORT, {-32768, 32767, 0}));
    EXPECT_EQ(Take(APL_ToShort(nullptr, nullptr, Vec(APL_REAL, {3.00000000000001, 2.99999999999999, -32768}))),
              Expect(APL_SHORT, {3, 3, -32768}));
    EXPECT_EQ(Take(APL_ToShort(nullptr, nullptr, Vec(APL_CHAR, {0, 65, 255}))), Expect(APL_SHORT, {0, 65, 255}));
    EXPECT_EQ(Take(APL_ToShort(nullptr, nullptr, Vec(APL_BOOL, {1, 0}))), Expect(APL_SHORT, {1, 0}));
    for (double bad : {32768.0, -32769.0})
        Failed(APL_ToShort(nullptr, nullptr, Vec(APL_INTG, {1, bad})), APL_ERR_DOMAIN);
    for (double bad : {2.5, 32767.9999999, -32768.5, kNaN})
        Failed(APL_ToShort(nullptr, nullptr, Vec(APL_REAL, {1, bad})), APL_ERR_DOMAIN);
    Failed(APL_ToShort(nullptr, nullptr, Nest({APL_Int(1)})), APL_ERR_DOMAIN);
    EXPECT_STREQ(APL_error_message, "");
}

TEST_F(ElementTypes, BoolAndRealByType) {
    EXPECT_EQ(Take(APL_ToBool(nullptr, nullptr, Vec(APL_INTG, {0, 5, -1}))), Expect(APL_BOOL, {0, 1, 1}));
    EXPECT_EQ(Take(APL_ToBool(nullptr, nullptr, Vec(APL_SHORT, {7, 0}))), Expect(APL_BOOL, {1, 0}));
    Failed(APL_ToBool(nullptr, nullptr, Vec(APL_REAL, {1})), APL_ERR_NONCE);
    Failed(APL_ToBool(nullptr, nullptr, Vec(APL_CHAR, {1})), APL_ERR_DOMAIN);
    EXPECT_EQ(Take(APL_ToReal(nullptr, nullptr, Vec(APL_INTG, {-3, 4}))), Expect(APL_REAL, {-3, 4}));
    EXPECT_EQ(Take(APL_ToReal(nullptr, nullptr, Vec(APL_BOOL, {1, 0}))), Expect(APL_REAL, {1, 0}));
    EXPECT_EQ(Take(APL_ToReal(nullptr, nullptr, Vec(APL_SHORT, {-9}))), Expect(APL_REAL, {-9}));
    Failed(APL_ToReal(nullptr, nullptr, Nest({APL_Int(1)})), APL_ERR_DOMAIN);
    // An argument that already has the type comes back as it is.
    const std::pair<aplfunction, int> same[] = {
        {APL_ToBool, APL_BOOL}, {APL_ToShort, APL_SHORT}, {APL_ToReal, APL_REAL}};
    for (auto [function, eltype] : same) {
        aplarray *a = Vec(eltype, {1, 0});
        EXPECT_EQ(function(nullptr, nullptr, a), a);
        EXPECT_EQ(a->lnkcnt, 0);
        APL_UnLinkTemp(a);
    }
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

TEST_F(ElementTypes, IntegerDataGivesAnIntegerView) {
    int32_t *out = nullptr;
    aplarray *i = Vec(APL_INTG, {4, 5});
    EXPECT_FALSE(IntegerData(i, &out));
    EXPECT_EQ(out, DataOf<int32_t>(i));
    aplarray *r = Vec(APL_REAL, {2.99999999999999, 3.00000000000001, -1.99999999999999, -2.00000000000001});
    ASSERT_TRUE(IntegerData(r, &out));
    EXPECT_EQ(std::vector<int32_t>(out, out + 4), (std::vector<int32_t>{3, 3, -2, -2}));
    FreeBlock(out, HERE);
    const std::pair<aplarray *, int> refused[] = {
        {Vec(APL_REAL, {1, 2.5}), APL_ERR_DOMAIN},
        {Vec(APL_REAL, {1e10}), APL_ERR_DOMAIN},
        {Vec(APL_CHAR, {1}), APL_ERR_DOMAIN},
        {Nest({}), APL_ERR_DOMAIN},
        {Vec(APL_BOOL, {1}), 0},
        {Vec(APL_SHORT, {1}), 0},
        {Vec(APL_CHAR, {}), 0},  // empty: the type is not looked at
    };
    for (auto [a, code] : refused) {
        out = DataOf<int32_t>(i);
        EXPECT_FALSE(IntegerData(a, &out));
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(aplerrno, code) << TypeName(a->eltype);
        aplerrno = 0;
        APL_UnLinkTemp(a);
    }
    APL_UnLinkTemp(i);
    APL_UnLinkTemp(r);
}

TEST_F(ElementTypes, SimplifyJoinsCompatibleScalars) {
    EXPECT_EQ(Take(SimplifyArray(Nest({APL_Int(1), APL_Int(2), MakeReal(2.5)}))), Expect(APL_REAL, {1, 2, 2.5}));
    EXPECT_EQ(Take(SimplifyArray(Nest({MakeChar('A'), MakeChar('b')}))), Expect(APL_CHAR, {'A', 'b'}));
    EXPECT_EQ(Take(SimplifyArray(Nest({}, MakeReal(0)))), Expect(APL_REAL, {}));
    aplarray *vector = APL_Link(Vec(APL_INTG, {1}));
    const struct {
        std::vector<aplarray *> items;
        bool scalarList;
    } kept[] = {
        {{MakeChar('A'), APL_Int(1)}, true},
        {{Make(APL_BOOL, {}, {1}), Make(APL_BOOL, {}, {0})}, true},
        {{APL_Int(1), Vec(APL_BOOL, {1})}, false},
        {{APL_Int(1), Nest({vector})}, false},
        {{APL_Int(1), APL_MakeNested(APL_Int(2))}, false},  // a nested scalar
        {{APL_Int(1), APL_Int(2), APL_Int(3), APL_Int(4), APL_Int(5), vector}, false},
        {{}, false},  // prototype: the vector
    };
    for (const auto &c : kept) {
        aplarray *n = Nest(c.items, c.items.empty() ? vector : nullptr);
        EXPECT_EQ(IsScalarList(n), c.scalarList);
        EXPECT_EQ(SimplifyArray(n), n);
        EXPECT_EQ(aplerrno, 0);
        APL_UnLinkTemp(n);
    }
    APL_UnLink(vector);
    aplarray *held = APL_Link(Nest({APL_Int(7)}));
    EXPECT_TRUE(IsScalarList(held));
    EXPECT_EQ(Take(SimplifyArray(held)), Expect(APL_INTG, {7}));
    EXPECT_EQ(held->lnkcnt, 1);
    APL_UnLink(held);
}

TEST_F(ElementTypes, MakeNestedAndSimplifyRoundTrip) {
    for (int eltype : {APL_CHAR, APL_INTG, APL_REAL}) {
        aplarray *n = APL_MakeNested(Make(eltype, {2, 2}, {65, 66, 67, 68}));
        ASSERT_EQ(n->eltype, APL_NESTED);
        EXPECT_EQ(n->lnkcnt, 0);
        EXPECT_EQ(ItemsOf(n)[3]->lnkcnt, 1);
        EXPECT_EQ(ItemsOf(n)[3]->eltype, eltype);
        aplarray *s = SimplifyArray(n);
        EXPECT_EQ(std::vector<int32_t>(s->shape, s->shape + s->rank), (Shape{2, 2}));
        EXPECT_EQ(Take(s), Expect(eltype, {65, 66, 67, 68}));
    }
    // BOOL and SHORT elements become INTG scalars.
    for (int eltype : {APL_BOOL, APL_SHORT})
        EXPECT_EQ(Take(SimplifyArray(APL_MakeNested(Vec(eltype, {1, 0, 1})))), Expect(APL_INTG, {1, 0, 1}));
    aplarray *empty = APL_MakeNested(Vec(APL_CHAR, {}));
    EXPECT_EQ(empty->number, 0);
    EXPECT_EQ(ItemsOf(empty)[0], nullptr);
    EXPECT_EQ(SimplifyArray(empty), empty);  // no prototype to say what it was
    APL_UnLinkTemp(empty);
}

TEST_F(ElementTypes, MakeNestedEnclosesTheItemsOfANestedArray) {
    aplarray *item = APL_Link(Vec(APL_INTG, {1, 2}));
    aplarray *n = APL_MakeNested(Nest({item}));
    aplarray *box = ItemsOf(n)[0];
    EXPECT_EQ(box->eltype, APL_NESTED);
    EXPECT_EQ(box->rank, 0);
    EXPECT_EQ(ItemsOf(box)[0], item);
    EXPECT_EQ(item->lnkcnt, 2);  // ours and the box's: the old array is gone
    APL_UnLinkTemp(n);
    EXPECT_EQ(item->lnkcnt, 1);
    aplarray *proto = APL_MakeNested(Nest({}, item));
    EXPECT_EQ(ItemsOf(ItemsOf(proto)[0])[0], item);
    APL_UnLinkTemp(proto);
    aplarray *none = APL_MakeNested(Nest({}));  // a missing prototype stays missing
    EXPECT_EQ(aplerrno, 0);
    EXPECT_EQ(ItemsOf(none)[0], nullptr);
    APL_UnLinkTemp(none);
    // With an error pending nothing is made and the temporary is released.
    aplerrno = APL_ERR_DOMAIN;
    Failed(APL_MakeNested(Nest({item})), APL_ERR_DOMAIN);
    EXPECT_EQ(item->lnkcnt, 1);
    APL_UnLink(item);
}

TEST_F(ElementTypes, WrapperConsumesTemporariesAndKeepsLinkedArguments) {
    const int32_t before = LiveBlocks();
    aplarray *held = APL_Link(Vec(APL_INTG, {1, 2}));
    EXPECT_EQ(Take(APL_ToReal(nullptr, nullptr, held)), Expect(APL_REAL, {1, 2}));
    EXPECT_EQ(held->lnkcnt, 1);
    EXPECT_EQ(LiveBlocks(), before + 1);
    for (aplfunction function : {APL_ToBool, APL_ToShort, APL_ToReal}) {
        Failed(function(nullptr, APL_Int(1), APL_Int(2)), APL_ERR_SYNTAX);
        Failed(function(APL_Int(1), nullptr, held), APL_ERR_SYNTAX);
        Failed(function(nullptr, nullptr, nullptr), APL_ERR_SYNTAX);
    }
    aplerrno = APL_ERR_INDEX;  // pending: nothing runs, the temporaries go
    Failed(APL_ToReal(nullptr, APL_Int(1), APL_Int(2)), APL_ERR_INDEX);
    EXPECT_EQ(held->lnkcnt, 1);
    EXPECT_EQ(LiveBlocks(), before + 1);
    APL_UnLink(held);
}

TEST_F(ElementTypes, WrapperHandsOverAResultTheKernelLinked) {
    // A kernel that returns an item of its argument holds a link on it; the
    // item must come back as a temporary once the argument is gone.
    const Signature pick{kRefused, kRefused, Required(APL_NESTED)};
    aplarray *item = StandardCall(pick, nullptr, nullptr, Nest({Vec(APL_INTG, {4, 5})}),
                                  [](CallArgs &args) { return APL_LinkEx(ItemsOf(args.right)[0], HERE); });
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->lnkcnt, 0);
    EXPECT_EQ(Take(item), Expect(APL_INTG, {4, 5}));
    // The mask converts before the kernel runs: here a SHORT item list is refused.
    Failed(StandardCall(pick, nullptr, nullptr, Vec(APL_SHORT, {1}), [](CallArgs &) -> aplarray * { return nullptr; }),
           APL_ERR_DOMAIN);
    EXPECT_STREQ(APL_error_message, "Invalid data type(SHORT)");
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
