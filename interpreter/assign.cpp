// assign: assignment to names, with the checks that guard the system
// variables (ranges, types, MODE into the session's mode word, quad output).
// Relies on the symbol table, the element type conversions and display.
#include "interpreter/execline.h"

#include "core/arrays.h"
#include "core/cover.h"
#include "core/eltypes.h"
#include "core/errors.h"
#include "core/symtab.h"
#include "interpreter/mainloop.h"

namespace {

bool IsName(uint16_t symbol, uint16_t systemIndex) { return symbol == systemIndex && IsSymbol(systemIndex); }

bool IsQuad(uint16_t symbol, uint8_t quad) {
    const char *name = SymbolName(symbol);
    return static_cast<uint8_t>(name[0]) == quad && name[1] == 0;
}

// The value as one INTG element: a scalar (or, where `vectorOk`, a vector of
// one element). RANK, LENGTH, or the conversion's own error.
bool OneInteger(aplarray *value, bool vectorOk, int32_t &out) {
    if (value->rank > (vectorOk ? 1 : 0)) {
        SetError(APL_ERR_RANK);
        return false;
    }
    if (ElementCount(value) != 1) {
        SetError(value->rank == 0 ? APL_ERR_DOMAIN : APL_ERR_LENGTH);
        return false;
    }
    if (value->eltype == APL_CHAR || IsNested(value)) {
        SetError(APL_ERR_DOMAIN);
        return false;
    }
    // Held while converting, so that the converter cannot free the value.
    aplarray *held = APL_LinkEx(value, HERE);
    aplarray *number = ConvertType(held, APL_INTG);
    const bool ok = number && !aplerrno && number->eltype == APL_INTG;
    if (ok)
        out = *DataOf<int32_t>(number);
    else if (!aplerrno)
        SetError(APL_ERR_DOMAIN);
    if (number != held) APL_UnLinkTempEx(number, HERE);
    APL_UnLinkEx(held, HERE);
    return ok;
}

bool Range(int32_t n, int32_t low, int32_t high) {
    if (n >= low && n <= high) return true;
    SetErrorText(APL_ERR_DOMAIN, "Allowed values : %ld ... %ld", static_cast<long>(low), static_cast<long>(high));
    return false;
}

// Checks (and maybe replaces) the value of a system variable; the value to
// store comes back as a temporary or linked array, or null with the error set.
aplarray *Checked(uint16_t symbol, aplarray *value) {
    int32_t n = 0;
    if (IsName(symbol, sys_ELIDE_idx)) {
        // EL holds the marker of an elided index, which no APL value can be.
        SetErrorText(APL_ERR_DOMAIN, "EL cannot be assigned");
        return nullptr;
    }
    if (IsName(symbol, sys_IO_idx) || IsName(symbol, sys_DIV_idx)) {
        if (!OneInteger(value, IsName(symbol, sys_DIV_idx), n)) return nullptr;
        if (n != 0 && n != 1) {
            SetErrorText(APL_ERR_DOMAIN, "Allowed values : 0,1");
            return nullptr;
        }
        return MakeInt(n);
    }
    if (IsName(symbol, sys_PP_idx)) {
        if (!OneInteger(value, false, n) || !Range(n, 1, 17)) {
            if (aplerrno == APL_ERR_DOMAIN) SetErrorText(APL_ERR_DOMAIN, "Allowed values : %ld ... %ld", 1L, 16L);
            return nullptr;
        }
        return MakeInt(n == 17 ? 16 : n);
    }
    if (IsName(symbol, sys_PW_idx)) {
        if (!OneInteger(value, false, n) || !Range(n, 30, 1000)) return nullptr;
        return MakeInt(n);
    }
    if (IsName(symbol, sys_MODE_idx)) {
        if (!OneInteger(value, false, n)) return nullptr;
        if (n < 0 || n > 5) {
            SetErrorText(APL_ERR_DOMAIN, "Allowed values : 0..5");
            return nullptr;
        }
        sessionMode = (sessionMode & ~0x0Fu) | static_cast<uint32_t>(n);
        return MakeInt(n);
    }
    if (IsName(symbol, sys_RL_idx)) {
        if (!OneInteger(value, true, n)) return nullptr;
        return MakeInt(n);
    }
    if (IsName(symbol, sys_CT_idx)) {
        if (value->rank > 0) {
            SetError(APL_ERR_RANK);
            return nullptr;
        }
        if (value->eltype == APL_CHAR || IsNested(value)) {
            SetError(APL_ERR_DOMAIN);
            return nullptr;
        }
        const double ct = FirstNumber(value, -1);
        if (!(ct >= 1e-13 && ct <= 0.001)) {
            SetErrorText(APL_ERR_DOMAIN, "Allowed values : %1.0e ... %1.0e", 1e-13, 0.001);
            return nullptr;
        }
        return MakeReal(ct);
    }
    if (IsName(symbol, sys_LX_idx) || IsName(symbol, sys_FC_idx)) {
        const bool fc = IsName(symbol, sys_FC_idx);
        if (fc ? value->rank != 1 : value->rank > 1) {
            SetError(APL_ERR_RANK);
            return nullptr;
        }
        if (value->eltype != APL_CHAR) {
            SetError(APL_ERR_DOMAIN);
            return nullptr;
        }
    }
    return value;
}

}  // namespace

void InstallSystemValueCheck() { checkSystemValue = Checked; }

aplarray *AssignSystemValue(uint16_t symbol, aplarray *value) {
    TempGuard guard(value);
    if (aplerrno || !value || !IsSymbol(symbol)) return nullptr;
    if (IsQuad(symbol, glyph::kQuad)) {
        APL_Display(value);
        return aplerrno ? nullptr : guard.release();
    }
    if (IsQuad(symbol, glyph::kQuoteQuad)) {
        APL_DisplayNoLF(value);
        return aplerrno ? nullptr : guard.release();
    }
    aplarray *checked = Checked(symbol, value);
    if (!checked) return nullptr;
    SetSymbolValue(symbol, checked);
    if (checked != value) APL_UnLinkTempEx(checked, HERE);
    return guard.release();
}

bool AssignName(uint16_t symbol, aplarray *value) {
    if (!IsSymbol(symbol)) {
        SetErrorText(APL_ERR_SYSTEM, "Invalid symbol index");
        return false;
    }
    const aplsymbol &entry = Symbol(symbol);
    constexpr int kFunctions = APL_KIND_FUNCTION | APL_KIND_MONOP | APL_KIND_DYOP;
    if ((entry.kind & 0x03) == 0x03 && !(entry.kind & kFunctions)) {
        SetErrorText(APL_ERR_SYNTAX, "Don't change labels.");
        return false;
    }
    if ((entry.kind & (kFunctions | APL_KIND_OPERAND)) && (entry.value || (entry.kind & APL_KIND_SYSTEM))) {
        SetErrorText(APL_ERR_SYNTAX, "Only variables are objects for assignment");
        return false;
    }
    if ((entry.kind & APL_KIND_SYSTEM) && (entry.kind & APL_KIND_VARIABLE))
        return AssignSystemValue(symbol, value) != nullptr;
    return APL_Assign(symbol, value) != nullptr;
}
