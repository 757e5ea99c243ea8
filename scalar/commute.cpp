// commute: the operator that swaps the arguments of its function operand
// (L f⍨ R is R f L) or doubles the one argument (f⍨ R is R f R).
// Relies on the generic function call of the interpreter.
#include "core/arrays.h"
#include "core/errors.h"
#include "interpreter/execline.h"

// Returns a temporary; consumes temporary arguments, leaves linked ones.
extern "C" aplarray *APL_Commute(aplarray *axis, aplarray *left, aplfnc *operand, aplarray *operandAxis,
                                 aplfnc *second, aplarray *secondAxis, aplarray *right) {
    (void)second;
    (void)secondAxis;
    APL_UnLinkTempEx(axis, HERE);  // accepted and ignored
    if (aplerrno || !right || !operand) {
        if (!aplerrno) SetError(APL_ERR_SYNTAX);
        APL_UnLinkTempEx(left, HERE);
        if (right != left) APL_UnLinkTempEx(right, HERE);
        return nullptr;
    }
    // Each argument is held while the function runs, since it may stand twice.
    aplarray *newRight = APL_LinkEx(left ? left : right, HERE);
    aplarray *newLeft = APL_LinkEx(right, HERE);
    aplarray *result = CallFunction(operand, operandAxis, newLeft, newRight);
    if (result) ++result->lnkcnt;
    APL_UnLinkEx(newLeft, HERE);
    APL_UnLinkEx(newRight, HERE);
    if (result) --result->lnkcnt;
    if (aplerrno) {
        APL_UnLinkTempEx(result, HERE);
        return nullptr;
    }
    return result;
}
