// Indexing where the session cannot look: Boolean rows with junk padding,
// temporaries changed in place, and index arrays nested or too large. Values
// and errors of bracket indexing and squad are in indexing.tr, those of
// indexed and selective assignment in assignment.tr.
#include "support.h"

#include "core/errors.h"
#include "core/symtab.h"
#include "structural/indexing.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace arrays_support;

// Boolean arguments come with junk in the padding of their rows, which
// indexing must never read.
constexpr uint8_t kJunk = 0xA5;
aplarray *Scalar(double v) { return Make(APL_INTG, {}, {v}); }
aplarray *El() { return APL_Variable(sys_ELIDE_idx); }
// Positions as a selection function would leave them: flagged and temporary.
aplarray *Positions(aplarray *a) {
    a->type |= APL_INDEXPOS;
    return a;
}

class Indexing : public WorkspaceTest {
protected:
    // A variable holding the value (one link, the name's).
    static uint16_t Variable(const char *name, aplarray *value) {
        void *none = nullptr;
        const uint16_t v = DefineName(name, static_cast<int32_t>(strlen(name)), APL_KIND_VARIABLE, &none);
        SetSymbolValue(v, value);
        return v;
    }
    // Selects from a linked array; expects success and returns the result.
    static aplarray *Select(aplarray *array, aplarray *list) {
        aplerrno = 0;
        aplarray *r = APL_IndexData(array, list, nullptr);
        EXPECT_EQ(aplerrno, 0);
        if (r) {
            EXPECT_EQ(r->lnkcnt, 0);
        }
        return r;
    }
    static void ExpectSelects(aplarray *array, aplarray *list, const Shape &shape, const Values &values) {
        TempGuard r(Select(array, list));
        ASSERT_NE(r.get(), nullptr);
        EXPECT_EQ(ShapeOf(r.get()), shape);
        EXPECT_EQ(Elements(r.get()), values);
    }
    static int32_t ErrorOf(aplarray *array, aplarray *list, aplarray *value = nullptr) {
        aplerrno = 0;
        EXPECT_EQ(APL_IndexData(array, list, value), nullptr);
        const int32_t e = aplerrno;
        aplerrno = 0;
        return e;
    }
};

// ---- Selection ------------------------------------------------------------------------

TEST_F(Indexing, BooleanRowsLongerThanOneWord) {
    Values bits;
    for (int i = 0; i < 3 * 40; ++i) bits.push_back((i * 7 + i / 5) % 3 == 0);
    aplarray *b = APL_Link(Make(APL_BOOL, {3, 40}, bits, kJunk));
    Values row2(bits.begin() + 40, bits.begin() + 80);
    ExpectSelects(b, Nest({Scalar(2), El()}), {40}, row2);
    ExpectSelects(b, Nest({El(), Ints({33, 40, 1, 32})}), {3, 4},
                  {bits[32], bits[39], bits[0], bits[31], bits[72], bits[79], bits[40], bits[71], bits[112], bits[119],
                   bits[80], bits[111]});
    TempGuard whole(Select(b, Nest({El(), El()})));
    EXPECT_EQ(whole.get()->eltype, APL_INTG);
    EXPECT_EQ(Elements(whole.get()), bits);
    APL_UnLink(b);
    // Rows of exactly two words.
    Values wide;
    for (int i = 0; i < 2 * 64; ++i) wide.push_back(i % 5 == 1);
    aplarray *w = APL_Link(Make(APL_BOOL, {2, 64}, wide, kJunk));
    ExpectSelects(w, Nest({Ints({2, 1}), Ints({64, 2})}), {2, 2}, {wide[127], wide[65], wide[63], wide[1]});
    APL_UnLink(w);
}

// ---- Indexed assignment ---------------------------------------------------------------

TEST_F(Indexing, IndexDataChangesOnlyTemporariesInPlace) {
    aplarray *temp = Ints({1, 2, 3});
    aplarray *r = APL_IndexData(temp, Scalar(2), Scalar(0));
    EXPECT_EQ(r, temp);
    EXPECT_EQ(Elements(r), Values({1, 0, 3}));
    APL_UnLinkTemp(r);
    aplarray *held = APL_Link(Ints({1, 2, 3}));
    TempGuard copy(APL_IndexData(held, Scalar(2), Scalar(0)));
    EXPECT_NE(copy.get(), held);
    EXPECT_EQ(Elements(copy.get()), Values({1, 0, 3}));
    EXPECT_EQ(Elements(held), Values({1, 2, 3}));
    EXPECT_EQ(held->lnkcnt, 1);
    APL_UnLink(held);
    // A temporary that is also the value is read whole before it is written.
    aplarray *both = Ints({1, 2, 3});
    TempGuard reversed(APL_IndexData(both, Enclosed(Ints({3, 2, 1})), both));
    EXPECT_EQ(Elements(reversed.get()), Values({3, 2, 1}));
    // A static array (a constant) is never changed.
    alignas(8) int32_t record[] = {32, 0, 1, 3, 3, 7, 8, 9};
    auto *constant = reinterpret_cast<aplarray *>(record);
    constant->type = APL_SIMPLE | APL_STATIC;
    constant->rank = 1;
    constant->eltype = APL_INTG;
    TempGuard changed(APL_IndexData(constant, Scalar(1), Scalar(0)));
    EXPECT_EQ(Elements(changed.get()), Values({0, 8, 9}));
    EXPECT_EQ(Elements(constant), Values({7, 8, 9}));
}

// ---- Index arrays ---------------------------------------------------------------------------

TEST_F(Indexing, DeepNestingAndHugeSelectionsEndInErrors) {
    aplarray *deep = APL_Link(Ints({1, 2}));
    for (int i = 0; i < 10050; ++i) {
        aplarray *outer = APL_Link(Enclosed(deep));
        APL_UnLink(deep);
        deep = outer;
    }
    int32_t counter = 0;
    EXPECT_EQ(APL_IndexArray(deep, &counter), nullptr);
    EXPECT_EQ(aplerrno, APL_ERR_LIMIT);
    aplerrno = 0;
    const uint16_t x = Variable("X", deep);
    APL_UnLink(deep);
    EXPECT_EQ(APL_AssignSel(x, Positions(Ints({1})), Scalar(0)), nullptr);
    EXPECT_EQ(aplerrno, APL_ERR_LIMIT);
    aplerrno = 0;
    // 10^5 by 10^5 selected elements do not fit the 32-bit count.
    aplarray *m = APL_Link(Make(APL_INTG, {2, 2}, {1, 2, 3, 4}));
    EXPECT_EQ(ErrorOf(m, Nest({Ints(Values(100000, 1)), Ints(Values(100000, 2))})), APL_ERR_DOMAIN);
    APL_UnLink(m);
}

}  // namespace
