// The operator wrapper: what it holds, hands back and releases around an
// operator body, seen through small operators written with it.
#include "support.h"

#include "core/call.h"
#include "core/errors.h"
#include "core/symtab.h"

namespace {

using Call = LibraryTest;

constexpr Signature kAny{Optional(kAnyType), Optional(kAnyType), Required(kAnyType)};

aplarray *Minus(aplarray *axis, aplarray *left, aplarray *right) { return APL_Sub(axis, left, right); }
aplfnc MinusOperand() { return aplfnc{0, nullptr, reinterpret_cast<void *>(&Minus), 0}; }

// An operator whose body hands back its right argument as it is.
aplarray *PassRight(aplarray *axis, aplarray *left, aplfnc *f, aplarray *fAxis, aplarray *right) {
    return OperatorCall(kAny, false, axis, left, f, fAxis, nullptr, nullptr, right,
                        [](OperatorArgs &op) { return op.args.right; });
}

TEST_F(Call, AnArgumentHandedBackSurvivesAndLinkedOnesKeepTheirLinks) {
    aplfnc f = MinusOperand();
    aplarray *temporary = PassRight(nullptr, nullptr, &f, APL_Int(1), APL_Int(7));
    ASSERT_NE(temporary, nullptr);
    EXPECT_EQ(temporary->lnkcnt, 0);
    EXPECT_EQ(FirstNumber(temporary, -1), 7);
    APL_UnLinkTemp(temporary);

    aplarray *linked = APL_Link(APL_Int(8));
    aplarray *same = PassRight(nullptr, linked, &f, nullptr, linked);
    EXPECT_EQ(same, linked);
    EXPECT_EQ(linked->lnkcnt, 1);
    APL_UnLink(linked);
}

TEST_F(Call, TheOperandRunsThroughTheOneCallAndTemporariesGoOnce) {
    aplfnc f = MinusOperand();
    aplarray *twice = APL_Int(5);  // one temporary as both arguments
    aplarray *result = OperatorCall(kAny, false, nullptr, twice, &f, nullptr, nullptr, nullptr, twice,
                                    [](OperatorArgs &op) { return op.Call(op.args.left, APL_Int(2)); });
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(FirstNumber(result, -1), 3);
    APL_UnLinkTemp(result);
}

TEST_F(Call, ErrorsReleaseArgumentsOperandAxesAndWhatTheBodyMade) {
    aplfnc f = MinusOperand();
    // Pending before the call: nothing runs, everything given is released.
    SetError(APL_ERR_DOMAIN);
    bool ran = false;
    aplarray *r = OperatorCall(kAny, false, APL_Int(1), APL_Int(2), &f, APL_Int(3), nullptr, nullptr, APL_Int(4),
                               [&ran](OperatorArgs &) -> aplarray * {
                                   ran = true;
                                   return nullptr;
                               });
    EXPECT_EQ(r, nullptr);
    EXPECT_FALSE(ran);
    aplerrno = 0;
    // Raised by the body after it made a result: the result is released too.
    r = OperatorCall(kAny, false, nullptr, nullptr, &f, APL_Int(3), nullptr, nullptr, APL_Int(4), [](OperatorArgs &) {
        SetError(APL_ERR_LENGTH);
        return APL_Int(9);
    });
    EXPECT_EQ(r, nullptr);
    EXPECT_EQ(aplerrno, APL_ERR_LENGTH);
}

TEST_F(Call, AnArrayOperandIsRefusedUnlessTheOperatorTakesOne) {
    aplarray *mask = APL_Link(APL_Int(1));
    aplfnc array{kOperandArray, nullptr, mask, 0};
    auto body = [](OperatorArgs &op) { return APL_LinkEx(OperatorArgs::ArrayOf(op.operand), HERE); };
    EXPECT_EQ(OperatorCall(kAny, false, nullptr, nullptr, &array, nullptr, nullptr, nullptr, APL_Int(4), body),
              nullptr);
    EXPECT_EQ(aplerrno, APL_ERR_SYNTAX);
    aplerrno = 0;
    aplarray *taken = OperatorCall(kAny, true, nullptr, nullptr, &array, nullptr, nullptr, nullptr, APL_Int(4), body);
    EXPECT_EQ(taken, mask);
    EXPECT_EQ(mask->lnkcnt, 1) << "the operand keeps its own link only";
    APL_UnLink(mask);
}

}  // namespace
