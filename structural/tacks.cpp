// tacks: the primitives left tack and right tack, which hand back one of their
// arguments unchanged. Relies on the standard wrapper only.
#include "core/eltypes.h"
#include "core/wrapper.h"

namespace {
constexpr Signature kTack{kRefused, Optional(kAnyType), Required(kAnyType)};
}

// Returns the left argument (the right one when called monadically) as it came:
// a temporary stays a temporary, a linked array keeps its links. The other
// argument is released when it is a temporary.
extern "C" aplarray *APL_Lev(aplarray *axis, aplarray *left, aplarray *right) {
    return StandardCall(kTack, axis, left, right, [](CallArgs &args) { return args.left ? args.left : args.right; });
}

// Returns the right argument as it came; a temporary left argument is released.
extern "C" aplarray *APL_Dex(aplarray *axis, aplarray *left, aplarray *right) {
    return StandardCall(kTack, axis, left, right, [](CallArgs &args) { return args.right; });
}
