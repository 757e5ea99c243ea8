// execalt: the system function EA, which executes an expression and, when it
// fails, records the error's name in EM and executes an alternate instead.
// Relies on the session's execute (interpreter/mainloop) and the error model.
#include "core/arrays.h"
#include "core/eltypes.h"
#include "core/errors.h"
#include "core/wrapper.h"
#include "interpreter/mainloop.h"
#include "interpreter/tokenizer.h"

#include <string>

namespace {

aplarray *Fail(int32_t code) {
    SetError(code);
    return nullptr;
}

// The value of a line of text with a link of ours (it may be a variable's
// own array); nothing when it has none or was an assignment.
aplarray *ExecuteLine(const std::string &text) {
    if (text.empty()) return nullptr;
    bool assigned = false;
    aplarray *value =
        ExecuteText(reinterpret_cast<const uint8_t *>(text.data()), static_cast<int32_t>(text.size()), assigned);
    if (value && assigned) {
        APL_UnLinkEx(value, HERE);
        return nullptr;
    }
    return value;
}

// A value of ExecuteLine as the kernel's result. The wrapper gives up one
// link of a result that is not an argument, which is ours; an argument
// handed back (a text that names itself) only loses the wrapper's own link,
// so ours goes here.
aplarray *AsResult(const CallArgs &args, aplarray *value) {
    if (value && (value == args.axis || value == args.left || value == args.right)) --value->lnkcnt;
    return value;
}

// An unwind request and an interrupt are not failures of the expression: they
// go on to whoever asked for them.
bool Trappable(int32_t code) { return code != 0 && code != kUnwindRequest && code != APL_ERR_INTERRUPT; }

aplarray *ExecAlternateKernel(CallArgs &args) {
    if (args.axis) return Fail(APL_ERR_AXIS);
    if (args.left->rank > 1 || args.right->rank > 1) return Fail(APL_ERR_RANK);
    // Copies: the expression may reassign the names the arguments came from.
    const std::string alternate(DataOf<const char>(args.left), static_cast<size_t>(args.left->number));
    const std::string expression(DataOf<const char>(args.right), static_cast<size_t>(args.right->number));
    // The flag is looked at before the expression and before the alternate:
    // an expression that always fails, with an alternate that calls it again,
    // never finishes a line for anyone else to look.
    if (InterruptRequested()) return nullptr;
    ++session.trapDepth;
    aplarray *value = ExecuteLine(expression);
    --session.trapDepth;
    if (!Trappable(aplerrno)) return AsResult(args, value);
    if (InterruptRequested()) return nullptr;
    SetErrorVariable(aplerrno);
    aplerrno = 0;
    APL_error_message[0] = 0;
    ClearErrorPositions();
    ForgetFailedTexts();
    return AsResult(args, ExecuteLine(alternate));
}

}  // namespace

// Returns a temporary: the value of the expression or of the alternate (none
// when it has none). Consumes temporary arguments; linked ones are left as they were.
extern "C" aplarray *APL_ExecAlternate(aplarray *axis, aplarray *left, aplarray *right) {
    constexpr Signature kSignature{Optional(kAnyType), Required(APL_CHAR), Required(APL_CHAR)};
    return StandardCall(kSignature, axis, left, right, ExecAlternateKernel);
}
