// operands: the depth count of operand calls, the scalar-primitive test and the
// finishing and empty results of item-by-item operators.
// Relies on the primitive tables, arrays and the simplification of eltypes.
#include "scalar/operands.h"

#include "core/arrays.h"
#include "core/depths.h"
#include "core/eltypes.h"
#include "core/errors.h"
#include "core/primitives.h"

OperandDepth::OperandDepth() : ok_(++depths.operand <= kMaxOperandDepth) {
    if (!ok_ && !aplerrno) SetError(APL_ERR_LIMIT);
}
OperandDepth::~OperandDepth() { --depths.operand; }

bool IsScalarPrimitive(const aplfnc *operand, bool dyadic) {
    if (!operand || (operand->flags & (APL_FN_DERIVED | APL_FN_DEFINED)) || !(operand->flags & APL_FN_PRIMITIVE))
        return false;
    return (PrimitiveFlags(static_cast<uint8_t>(operand->code)) & (dyadic ? APL_FN_SCALAR2 : APL_FN_SCALAR1)) != 0;
}

bool IsPrimitive(const aplfnc *operand, uint8_t code) {
    return operand && !(operand->flags & (APL_FN_DERIVED | APL_FN_DEFINED)) && (operand->flags & APL_FN_PRIMITIVE) &&
           static_cast<uint8_t>(operand->code) == code;
}

// Consumes the temporary result; returns a temporary, or null.
aplarray *FinishItems(aplarray *result) {
    if (!result || !IsNested(result) || result->number == 0) return SimplifyArray(result);
    int64_t missing = 0;
    for (int64_t i = 0; i < result->number; ++i) missing += ItemsOf(result)[i] == nullptr;
    if (missing == 0) return SimplifyArray(result);
    const bool some = missing < result->number;
    APL_UnLinkTempEx(result, HERE);
    if (some && !aplerrno) SetError(APL_ERR_SYNTAX);
    return nullptr;
}

// Consumes the temporary prototype; returns a temporary or null.
aplarray *EmptyOf(int rank, const int32_t *shape, aplarray *prototype) {
    if (!prototype) {
        if (!aplerrno) SetError(APL_ERR_VALUE);
        return nullptr;
    }
    aplarray *result = AllocArray(APL_NESTEDARRAY | APL_TEMP, rank, APL_NESTED, shape, HERE);
    if (!result) {
        APL_UnLinkTempEx(prototype, HERE);
        return nullptr;
    }
    aplarray *linked = APL_LinkEx(prototype, HERE);
    if (!linked) {
        APL_UnLinkTempEx(prototype, HERE);
        APL_UnLinkTempEx(result, HERE);
        if (!aplerrno) SetError(APL_ERR_WSFULL);
        return nullptr;
    }
    ItemsOf(result)[0] = linked;
    return SimplifyArray(result);
}
