// commute: the operator that swaps the arguments of its function operand
// (L f⍨ R is R f L) or doubles the one argument (f⍨ R is R f R).
// Relies on the operator wrapper and the one function call of core/call.
#include "core/call.h"

// Returns a temporary; consumes temporary arguments, leaves linked ones.
// The operator's own axis is accepted and ignored.
extern "C" aplarray *APL_Commute(aplarray *axis, aplarray *left, aplfnc *operand, aplarray *operandAxis, aplfnc *second,
                                 aplarray *secondAxis, aplarray *right) {
    constexpr Signature kSignature{Optional(kAnyType), Optional(kAnyType), Required(kAnyType)};
    return OperatorCall(kSignature, false, axis, left, operand, operandAxis, second, secondAxis, right,
                        [](OperatorArgs &op) {
                            aplarray *l = op.args.left, *r = op.args.right;
                            aplarray *z = op.Call(r, l ? l : r);
                            // A value a variable also holds comes back linked: the wrapper
                            // gives up one link of such a result, which must be the body's own.
                            if (z && z->lnkcnt > 0 && z != l && z != r) ++z->lnkcnt;
                            return z;
                        });
}
