// niladic: the call check that the niladic system functions (TS, AI, LC, IC)
// share: whatever arrives is released and refused. Relies on the array core
// and the error model.
#pragma once

#include "core/arrays.h"
#include "core/errors.h"

// A niladic call: true when there is nothing to refuse. Releases temporary
// arguments (one temporary may arrive in several places); SYNTAX for any argument.
inline bool NiladicCall(aplarray *axis, aplarray *left, aplarray *right) {
    APL_UnLinkTempEx(axis, HERE);
    if (left != axis) APL_UnLinkTempEx(left, HERE);
    if (right != axis && right != left) APL_UnLinkTempEx(right, HERE);
    if (aplerrno) return false;
    if (axis || left || right) {
        SetError(APL_ERR_SYNTAX);
        return false;
    }
    return true;
}
