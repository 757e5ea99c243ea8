// Monadic enclose: simple scalars stay, everything else gains a level of
// nesting; the forms still to come answer NONCE.
#include "support.h"

#include "core/errors.h"

#include <cstring>

namespace {

aplarray *Vector(int eltype, int32_t n) {
    aplarray *a = APL_Create(1, eltype, &n);
    memset(DataOf(a), 0, ElementSize(eltype) * static_cast<size_t>(a->number));
    return a;
}

using Enclose = LibraryTest;

TEST_F(Enclose, SimpleScalarIsItsOwnEnclosure) {
    aplarray *five = APL_Int(5);
    EXPECT_EQ(APL_Enclose(nullptr, nullptr, five), five);
    EXPECT_EQ(five->lnkcnt, 0);
    APL_UnLinkTemp(five);
}

TEST_F(Enclose, ArraysBecomeNestedScalarsHoldingThem) {
    aplarray *v = APL_Link(APL_String("abc"));
    aplarray *box = APL_Enclose(nullptr, nullptr, v);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->type, APL_NESTEDARRAY);
    EXPECT_EQ(box->rank, 0);
    EXPECT_EQ(box->lnkcnt, 0);
    EXPECT_EQ(ItemsOf(box)[0], v);
    EXPECT_EQ(v->lnkcnt, 2);
    // A nested scalar is enclosed once more.
    aplarray *outer = APL_Enclose(nullptr, nullptr, box);
    ASSERT_NE(outer, nullptr);
    EXPECT_EQ(ItemsOf(outer)[0], box);
    APL_UnLinkTemp(outer);
    EXPECT_EQ(v->lnkcnt, 1);
    APL_UnLink(v);
}

TEST_F(Enclose, BooleansWidenShortsStay) {
    aplarray *box = APL_Enclose(nullptr, nullptr, Vector(APL_BOOL, 40));
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(ItemsOf(box)[0]->eltype, APL_INTG);
    EXPECT_EQ(ItemsOf(box)[0]->number, 40);
    APL_UnLinkTemp(box);
    box = APL_Enclose(nullptr, nullptr, Vector(APL_SHORT, 3));
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(ItemsOf(box)[0]->eltype, APL_SHORT);
    APL_UnLinkTemp(box);
}

TEST_F(Enclose, FormsNotYetBuiltAndMissingArgument) {
    EXPECT_EQ(APL_Enclose(APL_Int(1), nullptr, APL_String("ab")), nullptr);
    EXPECT_EQ(aplerrno, APL_ERR_NONCE);
    aplerrno = 0;
    EXPECT_EQ(APL_Enclose(nullptr, Vector(APL_INTG, 2), APL_String("ab")), nullptr);
    EXPECT_EQ(aplerrno, APL_ERR_NONCE);
    aplerrno = 0;
    EXPECT_EQ(APL_Enclose(nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(aplerrno, APL_ERR_SYNTAX);
}

}  // namespace
