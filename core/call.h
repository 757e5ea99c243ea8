// call: the one way to call a function value (primitive, derived, native or
// user-defined) and the wrapper every operator body runs in. Relies on the
// primitive tables, the standard wrapper, and one hook the interpreter installs.
#pragma once

#include "apl.h"
#include "core/eltypes.h"
#include "core/wrapper.h"

#include <cstdint>

// An operand descriptor that holds an array (in its function word) rather than
// a function: the left operand of compress, an operand of a dyadic operator.
constexpr intptr_t kOperandArray = APL_FN_ARRAY;

// Calls any function value: a derived function through its operator, a
// primitive through its table, a user-defined function through the hook, a
// native function directly. The axis applies to the function (null: none).
// Returns a temporary. Consumes temporary arguments; linked ones are left as
// they were. APL_Evaluate is this call for compiled code.
aplarray *CallFunction(aplfnc *function, aplarray *axis, aplarray *left, aplarray *right);

// Runs a user-defined function, or the derived function of a user-defined
// operator (`function.op` then names the record). Same convention as
// CallFunction. The interpreter installs it at start-up; without it such a
// call is a SYSTEM error.
using DefinedFunctionRunner = aplarray *(*)(const aplfnc &function, aplarray *axis, aplarray *left, aplarray *right);
void InstallDefinedFunctionRunner(DefinedFunctionRunner runner);

// ---- The operator wrapper ------------------------------------------------------
// What an operator body sees: the arguments checked, converted and linked as
// StandardCall does for functions, and the operands with their axes held for
// the whole call. The body borrows everything here and only computes.
struct OperatorArgs {
    CallArgs args;  // axis (of the operator), left, right
    aplfnc *operand;
    aplarray *operandAxis;
    aplfnc *second;  // the right operand of a dyadic operator, else null
    aplarray *secondAxis;

    // The array an operand holds, or null when it is a function.
    static aplarray *ArrayOf(const aplfnc *operand) {
        return operand && (operand->flags & kOperandArray) ? static_cast<aplarray *>(operand->function) : nullptr;
    }
    // Calls the (left) operand or the second operand. Returns a temporary.
    // Consumes temporary arguments: pass the held arguments or items of them
    // freely, and fresh temporaries to hand them over.
    aplarray *Call(aplarray *left, aplarray *right) const { return CallFunction(operand, operandAxis, left, right); }
    aplarray *CallSecond(aplarray *left, aplarray *right) const {
        return CallFunction(second, secondAxis, left, right);
    }
};

// Steps before and after an operator body (see OperatorCall).
bool EnterOperator(const Signature &signature, OperatorArgs &op);
aplarray *LeaveOperator(OperatorArgs &op, aplarray *result);

// The calling convention of every operator: returns a temporary (or an
// argument passed through). Consumes temporary arguments and operand axes;
// linked ones are left as they were. A function operand is required (SYNTAX
// otherwise) unless the body accepts an array there (`arrayOperand`). The body
// returns a fresh array, an argument as it is, or null with the error set;
// whatever it made is released once, here, when an error is pending.
//
//   extern "C" aplarray *APL_Each(aplarray *axis, aplarray *left, aplfnc *f, aplarray *fAxis,
//                                 aplfnc *g, aplarray *gAxis, aplarray *right) {
//       constexpr Signature kEach{kRefused, Optional(kAnyType), Required(kAnyType)};
//       return OperatorCall(kEach, false, axis, left, f, fAxis, g, gAxis, right,
//                           [](OperatorArgs &op) -> aplarray * {
//           // for each item i: TempGuard r(op.Call(ItemScalar(op.args.left, i), ...)); ...
//           return result;
//       });
//   }
template <class Body>
aplarray *OperatorCall(const Signature &signature, bool arrayOperand, aplarray *axis, aplarray *left, aplfnc *operand,
                       aplarray *operandAxis, aplfnc *second, aplarray *secondAxis, aplarray *right, Body body) {
    OperatorArgs op{{axis, left, right}, operand, operandAxis, second, secondAxis};
    if (!EnterOperator(signature, op)) return LeaveOperator(op, nullptr);
    if (!op.operand || (!arrayOperand && OperatorArgs::ArrayOf(op.operand))) {
        SetError(APL_ERR_SYNTAX);
        return LeaveOperator(op, nullptr);
    }
    return LeaveOperator(op, body(op));
}
