// wrapper: the one calling convention of every primitive and system function.
// Checks, converts and links the arguments, checks which are present, runs the
// kernel, then unlinks and hands back a temporary. Relies on arrays and eltypes.
#include "core/wrapper.h"

#include "core/eltypes.h"
#include "core/errors.h"

namespace {

aplarray *&Slot(CallArgs &args, int i) { return i == 0 ? args.axis : i == 1 ? args.left : args.right; }
const ArgSpec &Spec(const Signature &s, int i) { return i == 0 ? s.axis : i == 1 ? s.left : s.right; }

}  // namespace

bool EnterCall(const Signature &signature, CallArgs &args) {
    for (int i = 0; i < 3; ++i) CheckArray(Slot(args, i), HERE);
    if (aplerrno) {
        ReleaseTemporaries(args.axis, args.left, args.right);
        args = CallArgs{};
        return false;
    }
    // Every argument is linked before any is converted: a converter releases
    // its argument, which must not free a temporary that stands in two places.
    for (int i = 0; i < 3; ++i) {
        if (!Slot(args, i)) continue;
        Slot(args, i) = APL_LinkEx(Slot(args, i), HERE);
        if (Slot(args, i)) args.linked |= static_cast<uint8_t>(1u << i);
    }
    if (aplerrno) return false;
    for (int i = 0; i < 3; ++i) {
        aplarray *&a = Slot(args, i);
        if (!a || (a->eltype & Spec(signature, i).mask)) continue;
        aplarray *converted = ConvertType(a, Spec(signature, i).mask);
        if (aplerrno) return false;
        if (converted != a) {
            APL_UnLinkEx(a, HERE);
            a = APL_LinkEx(converted, HERE);
        }
    }
    for (int i = 0; i < 3; ++i) {
        const ArgSpec &spec = Spec(signature, i);
        const bool present = Slot(args, i) != nullptr;
        if ((present && spec.presence == ArgSpec::Refused) || (!present && spec.presence == ArgSpec::Required)) {
            SetError(APL_ERR_SYNTAX);
            return false;
        }
    }
    return true;
}

aplarray *LeaveCall(CallArgs &args, aplarray *result) {
    const bool passedThrough = result && (result == args.axis || result == args.left || result == args.right);
    // An argument handed back must outlive the unlinking of the arguments.
    if (passedThrough) ++result->lnkcnt;
    for (int i = 0; i < 3; ++i)
        if (args.linked & (1u << i)) APL_UnLinkEx(Slot(args, i), HERE);
    args = CallArgs{};
    if (passedThrough) --result->lnkcnt;
    if (aplerrno) {
        APL_UnLinkTempEx(result, HERE);
        return nullptr;
    }
    if (result && !passedThrough && result->lnkcnt > 0) --result->lnkcnt;
    CheckArray(result, HERE);
    return result;
}
