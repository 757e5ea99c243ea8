// each: the operator that applies its function operand item by item (f¨ R,
// L f¨ R), with a scalar primitive passed straight to the scalar engine.
// Relies on the operator wrapper and call path, take and ≠ for prototypes.
#include "core/call.h"
#include "core/errors.h"
#include "core/glyphs.h"
#include "core/primitives.h"
#include "scalar/operands.h"

namespace {

bool IsEmpty(const aplarray *a) { return ElementCount(a) == 0; }
// The single side of a pairing: a scalar or a one-element vector.
bool IsSingle(const aplarray *a) { return a->rank == 0 || (a->rank == 1 && a->shape[0] == 1); }

// Item i as an argument of a call: a nested array's item itself (borrowed, its
// parent holds it), a simple array's element as a fresh temporary scalar.
aplarray *ArgumentAt(const aplarray *a, int64_t i) { return IsNested(a) ? ItemsOf(a)[i] : ItemScalar(a, i); }

// A new temporary nested array shaped like `like`, all items empty (null).
aplarray *NewItems(const aplarray *like) {
    return AllocArray(APL_NESTEDARRAY | APL_TEMP, like->rank, APL_NESTED, like->shape, HERE);
}

// Stores a call's result as item i (linked). False when the call failed; a
// call without a value leaves the item null for FinishItems to judge.
bool StoreItem(aplarray *result, int64_t i, aplarray *value) {
    if (aplerrno) {
        APL_UnLinkTempEx(value, HERE);
        return false;
    }
    if (!value) return true;
    aplarray *linked = APL_LinkEx(value, HERE);
    if (!linked) {
        if (!aplerrno) SetError(APL_ERR_WSFULL);
        APL_UnLinkTempEx(value, HERE);
        return false;
    }
    ItemsOf(result)[i] = linked;
    return true;
}

bool Interrupted(int64_t i) { return i % kInterruptStride == kInterruptStride - 1 && InterruptRequested(); }

// The first element of an array as ↑ gives it. Borrows; returns a temporary.
aplarray *FirstOf(aplarray *a) { return APL_Take(nullptr, nullptr, a); }

// Zeros of shape (1↓⍴p2),(1↓⍴p1): the prototype of ⌹¨ on empty arguments.
// Consumes both temporaries.
aplarray *DominoPrototype(aplarray *p1, aplarray *p2) {
    int32_t shape[2 * kMaxRank];
    int rank = 0;
    for (int i = 1; i < p2->rank; ++i) shape[rank++] = p2->shape[i];
    for (int i = 1; i < p1->rank; ++i) shape[rank++] = p1->shape[i];
    ReleaseTemporaries(p1, p2);
    aplarray *zeros = AllocArray(APL_SIMPLE | APL_TEMP, rank, APL_INTG, shape, HERE);
    if (zeros) {
        int32_t *data = DataOf<int32_t>(zeros);
        for (int64_t i = 0; i < zeros->number; ++i) data[i] = 0;
    }
    return zeros;
}

// L f¨ R when either argument is empty. Borrows the arguments.
aplarray *DyadicEmpty(OperatorArgs &op) {
    aplarray *left = op.args.left, *right = op.args.right;
    const bool leftEmpty = IsEmpty(left), rightEmpty = IsEmpty(right);
    if ((!leftEmpty && left->rank != 0) || (!rightEmpty && right->rank != 0) ||
        (leftEmpty && rightEmpty && left->rank != right->rank)) {
        SetError(APL_ERR_RANK);
        return nullptr;
    }
    if (leftEmpty && rightEmpty)
        for (int i = 0; i < left->rank; ++i)
            if (left->shape[i] != right->shape[i]) {
                SetError(APL_ERR_LENGTH);
                return nullptr;
            }
    const aplarray *empty = rightEmpty ? right : left;
    aplarray *prototype = nullptr;
    const bool primitive = (op.operand->flags & APL_FN_PRIMITIVE) && !(op.operand->flags & APL_FN_DERIVED);
    if (!primitive) {
        prototype = const_cast<aplarray *>(empty);  // linked by the wrapper: EmptyOf links it again
    } else {
        aplarray *p1 = FirstOf(left);
        aplarray *p2 = p1 ? FirstOf(right) : nullptr;
        if (!p2) {
            APL_UnLinkTempEx(p1, HERE);
            return nullptr;
        }
        if (IsPrimitive(op.operand, glyph::kDomino))
            prototype = DominoPrototype(p1, p2);
        else if (IsScalarPrimitive(op.operand, true))
            prototype = APL_NEqual(nullptr, p1, p2);
        else
            prototype = op.Call(p1, p2);
    }
    return EmptyOf(empty->rank, empty->shape, prototype);
}

// L f¨ R on non-empty arguments: pairs items, extending a single one.
aplarray *DyadicItems(OperatorArgs &op) {
    aplarray *left = op.args.left, *right = op.args.right;
    // Which side is paired with every item of the other, if any.
    const bool rightSingle = right->rank == 0 || (ElementCount(right) == 1 && left->rank > 0);
    const bool leftSingle = !rightSingle && IsSingle(left);
    if (!rightSingle && !leftSingle) {
        if (left->rank != right->rank) {
            SetError(APL_ERR_RANK);
            return nullptr;
        }
        for (int i = 0; i < left->rank; ++i)
            if (left->shape[i] != right->shape[i]) {
                SetError(APL_ERR_LENGTH);
                return nullptr;
            }
    }
    aplarray *single = rightSingle ? right : leftSingle ? left : nullptr;
    aplarray *other = rightSingle ? left : right;
    // The single item: a nested array's first item, a simple array's element
    // as a scalar (so that (,5) f¨ V calls f with 5, as 5 f¨ V does).
    aplarray *pairedItem = single && IsNested(single) ? ItemsOf(single)[0] : single;
    LinkSet held;  // the fresh scalar, kept across the calls, which consume temporaries
    if (single && !IsNested(single) && single->rank > 0) {
        pairedItem = held.take(ItemScalar(single, 0));
        if (!pairedItem) return nullptr;
    }
    aplarray *result = NewItems(other);
    if (!result) return nullptr;
    const int64_t n = ElementCount(other);
    for (int64_t i = 0; i < n; ++i) {
        aplarray *l = nullptr, *r = nullptr;
        if (rightSingle) {
            l = ArgumentAt(left, i);
            r = pairedItem;
        } else if (leftSingle) {
            l = pairedItem;
            r = ArgumentAt(right, i);
        } else {
            l = ArgumentAt(left, i);
            r = l ? ArgumentAt(right, i) : nullptr;
            if (!r) APL_UnLinkTempEx(l, HERE);
        }
        if (!l || !r) {
            ReleaseTemporaries(l, r);
            APL_UnLinkTempEx(result, HERE);
            return nullptr;
        }
        if (!StoreItem(result, i, op.Call(l, r)) || Interrupted(i)) {
            APL_UnLinkTempEx(result, HERE);
            return nullptr;
        }
    }
    return FinishItems(result);
}

aplarray *DyadicEach(OperatorArgs &op) {
    aplarray *left = op.args.left, *right = op.args.right;
    if (IsScalarPrimitive(op.operand, true) && !op.operandAxis)
        return PrimitiveFunction(static_cast<uint8_t>(op.operand->code))(nullptr, left, right);
    if (IsEmpty(left) || IsEmpty(right)) return DyadicEmpty(op);
    return DyadicItems(op);
}

aplarray *MonadicEach(OperatorArgs &op) {
    aplarray *right = op.args.right;
    if (IsScalarPrimitive(op.operand, false) && !op.operandAxis)
        return PrimitiveFunction(static_cast<uint8_t>(op.operand->code))(nullptr, nullptr, right);
    if (IsEmpty(right)) {
        aplarray *prototype = FirstOf(right);
        const bool primitive = (op.operand->flags & APL_FN_PRIMITIVE) && !(op.operand->flags & APL_FN_DERIVED);
        if (prototype && IsPrimitive(op.operand, glyph::kDomino))
            prototype = APL_Transpose(nullptr, nullptr, prototype);
        else if (prototype && primitive)
            prototype = op.Call(nullptr, prototype);
        return EmptyOf(right->rank, right->shape, prototype);
    }
    aplarray *result = NewItems(right);
    if (!result) return nullptr;
    const int64_t n = ElementCount(right);
    for (int64_t i = 0; i < n; ++i) {
        aplarray *item = ArgumentAt(right, i);
        if (!item || !StoreItem(result, i, op.Call(nullptr, item)) || Interrupted(i)) {
            APL_UnLinkTempEx(result, HERE);
            return nullptr;
        }
    }
    return FinishItems(result);
}

}  // namespace

// Returns a temporary (or null: an error, or f returned no value for every
// item); consumes temporary arguments, leaves linked ones as they were.
extern "C" aplarray *APL_Each(aplarray *axis, aplarray *left, aplfnc *operand, aplarray *operandAxis, aplfnc *second,
                              aplarray *secondAxis, aplarray *right) {
    constexpr int kAdmitted = APL_CHAR | APL_INTG | APL_REAL | APL_NESTED;
    constexpr Signature kSignature{Optional(kAnyType), Optional(kAdmitted), Required(kAdmitted)};
    return OperatorCall(kSignature, false, axis, left, operand, operandAxis, second, secondAxis, right,
                        [](OperatorArgs &op) -> aplarray * {
                            if (!IsEmptyOperand(op.second)) {
                                SetError(APL_ERR_SYNTAX);
                                return nullptr;
                            }
                            OperandDepth depth;
                            if (!depth.ok()) return nullptr;
                            return op.args.left ? DyadicEach(op) : MonadicEach(op);
                        });
}
