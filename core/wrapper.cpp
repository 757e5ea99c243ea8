// wrapper: the one calling convention of every primitive and system function.
// Checks, converts and links the arguments, checks which are present, runs the
// kernel, then unlinks and hands back a temporary. Relies on arrays and eltypes.
#include "core/wrapper.h"

#include "core/eltypes.h"
#include "core/errors.h"

namespace {

aplarray *&Slot(CallArgs &args, int i) { return i == 0 ? args.axis : i == 1 ? args.left : args.right; }
const ArgSpec &Spec(const Signature &s, int i) { return i == 0 ? s.axis : i == 1 ? s.left : s.right; }

// A static argument the kernel may read where it lies: a record whose fields
// can be read (a constant image of generated code may lie at any address),
// simple, of a type the kernel takes as it is, and REAL data on an 8-byte
// boundary (pooled records promise only 4).
bool CanBorrow(const aplarray *a, const ArgSpec &spec) {
    if (!spec.borrows || IsUnaligned(a) || IsNested(a) || !(a->eltype & spec.mask)) return false;
    return a->eltype != APL_REAL || reinterpret_cast<uintptr_t>(DataOf(a)) % 8 == 0;
}

// The wrapper's hold on one argument: a link, a linked managed copy of a
// static argument, or nothing for one the kernel borrows. Null in the slot
// (WS FULL set) when the copy cannot be made.
void Hold(aplarray *&a, const ArgSpec &spec, uint8_t bit, uint8_t &linked) {
    if (!a) return;
    if (!IsStatic(a) && !TracingArrays()) {
        ++a->lnkcnt;
    } else if (IsStatic(a) && CanBorrow(a, spec)) {
        return;
    } else {
        a = APL_LinkEx(a, HERE);
        if (!a) return;
    }
    linked |= bit;
}

// Gives the hold back. Another link remains on most arguments (the caller's),
// so the common case is one decrement.
void Drop(aplarray *a) {
    if (a->lnkcnt >= 2 && !TracingArrays())
        --a->lnkcnt;
    else
        APL_UnLinkEx(a, HERE);
}

bool PresenceFits(const ArgSpec &spec, const aplarray *a) {
    return a ? spec.presence != ArgSpec::Refused : spec.presence != ArgSpec::Required;
}

}  // namespace

bool EnterCall(const Signature &signature, CallArgs &args) {
    CheckArray(args.axis, HERE);
    CheckArray(args.left, HERE);
    CheckArray(args.right, HERE);
    if (aplerrno) {
        ReleaseTemporaries(args.axis, args.left, args.right);
        args = CallArgs{};
        return false;
    }
    // Every argument is held before any is converted: a converter releases
    // its argument, which must not free a temporary that stands in two places.
    Hold(args.axis, signature.axis, 1, args.linked);
    Hold(args.left, signature.left, 2, args.linked);
    Hold(args.right, signature.right, 4, args.linked);
    if (aplerrno) return false;
    for (int i = 0; i < 3; ++i) {
        aplarray *&a = Slot(args, i);
        if (!a || (a->eltype & Spec(signature, i).mask)) continue;
        aplarray *converted = ConvertType(a, Spec(signature, i).mask);
        if (aplerrno) return false;
        if (converted != a) {
            // A borrowed static argument is never converted (CanBorrow), so
            // every argument converted here is held.
            APL_UnLinkEx(a, HERE);
            a = APL_LinkEx(converted, HERE);
        }
    }
    if (!PresenceFits(signature.axis, args.axis) || !PresenceFits(signature.left, args.left) ||
        !PresenceFits(signature.right, args.right)) {
        SetError(APL_ERR_SYNTAX);
        return false;
    }
    return true;
}

aplarray *LeaveCall(CallArgs &args, aplarray *result) {
    const bool passedThrough = result && (result == args.axis || result == args.left || result == args.right);
    // An argument handed back must outlive the unlinking of the arguments
    // (a static one is never freed, and its record is not written).
    const bool keep = passedThrough && !IsStatic(result);
    if (keep) ++result->lnkcnt;
    if (args.linked & 1) Drop(args.axis);
    if (args.linked & 2) Drop(args.left);
    if (args.linked & 4) Drop(args.right);
    args = CallArgs{};
    if (keep) --result->lnkcnt;
    if (aplerrno) {
        APL_UnLinkTempEx(result, HERE);
        return nullptr;
    }
    // A borrowed static argument never leaves as the result: the caller is
    // owed a temporary it may free.
    if (passedThrough && IsStatic(result)) return CopyArray(result, HERE);
    if (result && !passedThrough && result->lnkcnt > 0) --result->lnkcnt;
    CheckArray(result, HERE);
    return result;
}
