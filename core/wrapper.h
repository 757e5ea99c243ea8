// wrapper: the one calling convention of every primitive and system function.
// Checks, converts and links the arguments, checks which are present, runs the
// kernel, then unlinks and hands back a temporary. Relies on arrays and eltypes.
#pragma once

#include "apl.h"
#include "core/arrays.h"
#include "core/errors.h"

#include <cstdint>

// Whether a function takes an argument, and in which element types.
// `borrows`: the kernel reads a static (pooled, constant) argument where it
// lies, through 4-byte loads or memcpy, and neither keeps it nor hands it
// back; the wrapper then passes it without making a managed copy.
struct ArgSpec {
    enum Presence : uint8_t { Refused, Optional, Required } presence;
    int mask;  // types the kernel handles; others are converted first
    bool borrows;
};
constexpr ArgSpec kRefused{ArgSpec::Refused, 63, false};
constexpr ArgSpec Optional(int mask) { return {ArgSpec::Optional, mask, false}; }
constexpr ArgSpec Required(int mask) { return {ArgSpec::Required, mask, false}; }
constexpr ArgSpec Borrowed(ArgSpec spec) { return {spec.presence, spec.mask, true}; }

struct Signature {
    ArgSpec axis;
    ArgSpec left;
    ArgSpec right;
};

// The arguments as the kernel sees them: converted, linked, managed (a static
// argument arrives as a linked copy, unless the kernel borrows it: then it
// arrives as it is, unlinked).
struct CallArgs {
    aplarray *axis;
    aplarray *left;
    aplarray *right;
    uint8_t linked = 0;  // which of the three the wrapper holds a link on
};

// Steps before the kernel; false when the call is to end at once (error set).
bool EnterCall(const Signature &signature, CallArgs &args);
// Steps after the kernel: unlinks the arguments and returns the result as a
// temporary, or null (result released) when an error is set. A result that is
// one of the arguments is passed through.
aplarray *LeaveCall(CallArgs &args, aplarray *result);

// Returns a temporary (lnkcnt 0) or an argument passed through. Consumes
// temporary arguments; linked ones are left as they were.
// The kernel returns a fresh array (with 0 or 1 link), one of its arguments
// as it is, or anything else it has linked (an item of an argument, say): the
// link that the kernel holds is given up on the way out.
template <class Kernel>
aplarray *StandardCall(const Signature &signature, aplarray *axis, aplarray *left, aplarray *right, Kernel kernel) {
    CallArgs args{axis, left, right};
    if (!EnterCall(signature, args)) return LeaveCall(args, nullptr);
    aplarray *result = kernel(args);
    return LeaveCall(args, result);
}

// The links an entry point takes on its arguments, given back on every way
// out (at most three). An argument that is also the result survives as a
// temporary.
class LinkSet {
public:
    ~LinkSet() { finish(nullptr); }
    // Links the argument; a static one arrives as a linked managed copy.
    // Null (WS FULL set) when that copy cannot be made.
    aplarray *take(aplarray *a) {
        if (!a) return nullptr;
        aplarray *linked = APL_LinkEx(a, HERE);
        if (!linked) {
            if (!aplerrno) SetError(APL_ERR_WSFULL);
            return nullptr;
        }
        held_[count_++] = linked;
        return linked;
    }
    aplarray *finish(aplarray *result) {
        bool passed = false;
        for (int i = 0; i < count_; ++i) passed = passed || held_[i] == result;
        if (passed) ++result->lnkcnt;
        for (int i = 0; i < count_; ++i) APL_UnLinkEx(held_[i], HERE);
        count_ = 0;
        if (passed) --result->lnkcnt;
        return result;
    }

private:
    aplarray *held_[3];
    int count_ = 0;
};
