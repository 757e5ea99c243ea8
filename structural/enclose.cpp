// enclose: the primitive enclose (⊂). The monadic form without axis is here;
// enclose with axis and partitioned enclose answer NONCE until they are built.
// Relies on the array core and the standard wrapper.
#include "apl.h"
#include "core/arrays.h"
#include "core/eltypes.h"
#include "core/errors.h"
#include "core/wrapper.h"

namespace {

// Returns the argument itself (a simple scalar) or a new nested scalar that
// links it.
aplarray *EncloseKernel(CallArgs &args) {
    if (args.left || args.axis) {
        SetError(APL_ERR_NONCE);
        return nullptr;
    }
    aplarray *right = args.right;
    // A simple scalar is its own enclosure.
    if (right->rank == 0 && !IsNested(right)) return right;
    aplarray *box = AllocArray(APL_NESTEDARRAY | APL_TEMP, 0, APL_NESTED, nullptr, HERE);
    if (box) ItemsOf(box)[0] = APL_LinkEx(right, HERE);
    return box;
}

}  // namespace

// Returns a temporary (lnkcnt 0), or a simple scalar argument itself. Consumes
// temporary arguments; linked ones are left as they were (an enclosed one
// gains the link of its enclosure).
extern "C" aplarray *APL_Enclose(aplarray *axis, aplarray *left, aplarray *right) {
    // BOOL is outside the mask so that the wrapper widens it to INTG; SHORT stays.
    return StandardCall({Optional(kAnyType), Optional(kAnyType), Required(kAnyButBool)}, axis, left, right,
                        EncloseKernel);
}
