// call: the one dispatch of a call to any function value (CallFunction, which
// APL_Evaluate exports) and the operator wrapper around every operator body.
// Relies on the primitive tables, the standard wrapper and the interpreter's hook.
#include "core/call.h"

#include "core/arrays.h"
#include "core/depths.h"
#include "core/errors.h"
#include "core/primitives.h"

#include <cstddef>

namespace {

DefinedFunctionRunner definedRunner = nullptr;

// Derived functions being evaluated, innermost last. An operand descriptor lies
// inside one of their records; a descriptor that does not is an outermost call.
constexpr int kMaxActiveRecords = 256;
const aplop *activeRecords[kMaxActiveRecords];

bool InsideActiveRecord(const aplfnc *function) {
    const auto address = reinterpret_cast<uintptr_t>(function);
    for (int i = 0; i < depths.activeRecords; ++i) {
        const auto start = reinterpret_cast<uintptr_t>(activeRecords[i]);
        if (address >= start && address < start + sizeof(aplop)) return true;
    }
    return false;
}

// The axes of a record live through every evaluation of the record: the
// operator consumes temporary arguments, so each axis gets a link for the call.
void HoldAxis(aplarray *axis, int step) {
    if (axis && !IsStatic(axis) && IsLiveBlock(axis)) axis->lnkcnt += step;
}
// An array operand is held as an axis is (compiled code passes temporaries).
aplarray *ArrayOperand(const aplfnc &operand) {
    return (operand.flags & kOperandArray) ? static_cast<aplarray *>(operand.function) : nullptr;
}
void HoldAxes(aplop *record, int step) {
    HoldAxis(record->axis, step);
    HoldAxis(record->leftAxis, step);
    HoldAxis(record->rightAxis, step);
    HoldAxis(ArrayOperand(record->left), step);
    HoldAxis(ArrayOperand(record->right), step);
}

// After the outermost evaluation the temporary axes and array operands of the
// record and of the records of its operands are released (`keep`, the result,
// excepted).
void ReleaseRecordAxes(aplfnc *function, const aplarray *keep, int depth) {
    if (depth > kMaxNestingDepth || !(function->flags & APL_FN_DERIVED) || !function->op) return;
    aplop *record = function->op;
    aplarray **axes[] = {&record->axis, &record->leftAxis, &record->rightAxis};
    for (int i = 0; i < 3; ++i) {
        aplarray *axis = *axes[i];
        if (!axis) continue;
        bool seen = axis == keep;
        for (int j = 0; j < i; ++j) seen = seen || *axes[j] == axis;
        if (!seen) APL_UnLinkTempEx(axis, HERE);
    }
    for (int i = 0; i < 3; ++i) *axes[i] = nullptr;
    // A temporary array operand goes too; the evaluator's are linked, so stay.
    aplfnc *operands[] = {&record->left, &record->right};
    for (aplfnc *operand : operands) {
        aplarray *array = ArrayOperand(*operand);
        if (!array) continue;
        if (array != keep && !IsStatic(array) && array->lnkcnt == 0) {
            APL_UnLinkTempEx(array, HERE);
            *operand = aplfnc{};
        }
    }
    ReleaseRecordAxes(&record->left, keep, depth + 1);
    ReleaseRecordAxes(&record->right, keep, depth + 1);
}

// Ends a call with an error (unless one is pending); releases temporary arguments.
aplarray *Refuse(aplarray *axis, aplarray *left, aplarray *right, int32_t code, const char *text) {
    if (!aplerrno) SetErrorText(code, "%s", text);
    ReleaseTemporaries(axis, left, right);
    return nullptr;
}

// A user-defined operator, as an aploperator: the operand is the record's
// first field, so the record and with it the derived function are found from it.
aplarray *RunDefinedOperator(aplarray *axis, aplarray *left, aplfnc *operand, aplarray *, aplfnc *, aplarray *,
                             aplarray *right) {
    aplop *record = reinterpret_cast<aplop *>(reinterpret_cast<char *>(operand) - offsetof(aplop, left));
    const aplfnc derived{APL_FN_DERIVED | APL_FN_FUNCTION, record, nullptr, 0};
    if (!definedRunner)
        return Refuse(axis, left, right, APL_ERR_SYSTEM, "Defined operator called without the interpreter");
    return definedRunner(derived, axis, left, right);
}

// Both return a temporary; consume temporary arguments, leave linked ones.
aplarray *EvaluateDerived(aplfnc *function, aplarray *axis, aplarray *left, aplarray *right) {
    aplop *record = function->op;
    if (!record) return Refuse(axis, left, right, APL_ERR_SYSTEM, "Derived function without operator");
    const aploperator run = (record->kind & APL_FN_PRIMITIVE)
                                ? reinterpret_cast<aploperator>(PrimitiveOperator(static_cast<uint8_t>(record->code)))
                            : (record->kind & APL_FN_DEFINED) ? RunDefinedOperator
                                                              : reinterpret_cast<aploperator>(record->function);
    const bool outermost = !InsideActiveRecord(function);
    if (!run || depths.activeRecords == kMaxActiveRecords) {
        if (outermost) ReleaseRecordAxes(function, nullptr, 0);
        if (run) return Refuse(axis, left, right, APL_ERR_LIMIT, "");
        return Refuse(axis, left, right, APL_ERR_SYSTEM,
                      (record->kind & APL_FN_PRIMITIVE) ? "primitive Function not implemented !"
                                                        : "Derived function without operator");
    }
    activeRecords[depths.activeRecords++] = record;
    HoldAxes(record, 1);
    aplarray *result = run(axis ? axis : record->axis, left, &record->left, record->leftAxis, &record->right,
                           record->rightAxis, right);
    HoldAxes(record, -1);
    --depths.activeRecords;
    if (outermost) ReleaseRecordAxes(function, result, 0);
    return result;
}

aplarray *EvaluatePrimitive(aplfnc *function, aplarray *axis, aplarray *left, aplarray *right) {
    const auto code = static_cast<uint8_t>(function->code);
    if (right && (right->type & APL_INDEXPOS) && !aplerrno) {
        const intptr_t allowed = left ? APL_FN_SELECT2 : APL_FN_SELECT1;
        if (!(function->flags & allowed)) {
            SetErrorText(APL_ERR_SYNTAX, "Function '%c' not allowed in selective specification",
                         static_cast<char>(code));
            ReleaseTemporaries(axis, left, right);
            return nullptr;
        }
    }
    // Never null: an unregistered character has the default handler.
    return PrimitiveFunction(code)(axis, left, right);
}

}  // namespace

aplarray *CallFunction(aplfnc *function, aplarray *axis, aplarray *left, aplarray *right) {
    if (!function) return Refuse(axis, left, right, APL_ERR_SYSTEM, "Function descriptor missing");
    if (function->flags & APL_FN_DERIVED) return EvaluateDerived(function, axis, left, right);
    if (function->flags & APL_FN_PRIMITIVE) return EvaluatePrimitive(function, axis, left, right);
    if (function->flags & APL_FN_DEFINED) {
        if (definedRunner) return definedRunner(*function, axis, left, right);
        return Refuse(axis, left, right, APL_ERR_SYSTEM, "Defined function called without the interpreter");
    }
    const auto run = reinterpret_cast<aplfunction>(function->function);
    if (!run) return Refuse(axis, left, right, APL_ERR_SYSTEM, "Function descriptor without function");
    return run(axis, left, right);
}

void InstallDefinedFunctionRunner(DefinedFunctionRunner runner) { definedRunner = runner; }

// ---- The operator wrapper ------------------------------------------------------

namespace {

// The operand axes are held like the arguments: linked on entry, unlinked once
// on the way out (a temporary axis is thereby consumed).
void HoldOperandAxes(OperatorArgs &op) {
    op.operandAxis = APL_LinkEx(op.operandAxis, HERE);
    op.secondAxis = APL_LinkEx(op.secondAxis, HERE);
}
void ReleaseOperandAxes(OperatorArgs &op) {
    APL_UnLinkEx(op.operandAxis, HERE);
    APL_UnLinkEx(op.secondAxis, HERE);
    op.operandAxis = op.secondAxis = nullptr;
}

}  // namespace

bool EnterOperator(const Signature &signature, OperatorArgs &op) {
    HoldOperandAxes(op);
    return EnterCall(signature, op.args);
}

aplarray *LeaveOperator(OperatorArgs &op, aplarray *result) {
    // The result may be an operand axis handed back; it outlives the release.
    const bool isAxis = result && (result == op.operandAxis || result == op.secondAxis);
    if (isAxis) ++result->lnkcnt;
    ReleaseOperandAxes(op);
    if (isAxis) --result->lnkcnt;
    return LeaveCall(op.args, result);
}
