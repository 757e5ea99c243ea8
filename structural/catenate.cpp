// catenate: APL_Catenate, which joins along an axis (catenate), along a new
// axis (laminate), ravels, and ravels with an axis. Lamination and extension
// give operands unit axes by reshape and ravel with axis, then join.
// Relies on the array core, the conversions, reshape, the cells and IO.
#include "apl.h"
#include "core/arrays.h"
#include "core/eltypes.h"
#include "core/errors.h"
#include "core/symtab.h"
#include "core/wrapper.h"
#include "structural/cells.h"

#include <algorithm>
#include <cmath>

namespace {

// The same elements under another shape of as many elements. Returns a new
// temporary; borrows the array (items linked once more, the prototype slot too).
aplarray *WithShape(const aplarray *array, int rank, const int32_t *shape) {
    aplarray *result = NewResult(rank, array->eltype, shape);
    if (!result) return nullptr;
    const int64_t n = ElementCount(result);
    if (!CopyRun(result, 0, array, 0, n)) {
        APL_UnLinkTempEx(result, HERE);
        return nullptr;
    }
    if (n == 0 && IsNested(result)) ItemsOf(result)[0] = APL_LinkEx(SlotAt(array, 0), HERE);
    return result;
}

aplarray *Ravel(const aplarray *array) {
    const int64_t n = ElementCount(array);
    const auto length = static_cast<int32_t>(n);
    return WithShape(array, 1, &length);
}

// ---- Ravel with axis ---------------------------------------------------------------

// A unit axis inserted before axis p (0 <= p <= rank).
aplarray *WithUnitAxis(const aplarray *array, int p) {
    int32_t shape[kMaxRank + 1];
    for (int i = 0, j = 0; i <= array->rank; ++i) shape[i] = i == p ? 1 : array->shape[j++];
    return WithShape(array, array->rank + 1, shape);
}

// A fractional axis d (0-based): the new unit axis goes before the first
// axis above d.
aplarray *RavelFractional(const AxisArgument &a, const aplarray *right) {
    if (a.count != 1) {
        SetErrorText(APL_ERR_LENGTH, "In axis argument");
        return nullptr;
    }
    const double d = a.first - IndexOrigin();
    if (!(d > -1 && d < right->rank)) {
        SetError(APL_ERR_DOMAIN);
        return nullptr;
    }
    return WithUnitAxis(right, static_cast<int>(std::floor(d)) + 1);
}

// Contiguous ascending axes merged into one whose length is their product.
aplarray *RavelMerging(const AxisArgument &a, const aplarray *right) {
    if (a.count > right->rank) {
        SetErrorText(APL_ERR_LENGTH, "In axis argument");
        return nullptr;
    }
    // No axes to merge: an axis of length 1 after the last, as merging an
    // empty set of axes gives (the empty product is 1).
    if (a.count == 0) return WithUnitAxis(right, right->rank);
    const int64_t origin = IndexOrigin();
    const int64_t first = NearInteger(NumberAt(a.values, 0)) - origin;
    for (int64_t i = 1; i < a.count; ++i) {
        if (NearInteger(NumberAt(a.values, i)) - origin != first + i) {
            SetErrorText(APL_ERR_DOMAIN, "Argument must contain contiguous axes in ascending order");
            return nullptr;
        }
    }
    const int64_t last = first + a.count - 1;
    if (first < 0 || last >= right->rank) {
        SetError(APL_ERR_INDEX);
        return nullptr;
    }
    int32_t shape[kMaxRank];
    int rank = 0;
    int64_t merged = 1;
    for (int i = 0; i < right->rank; ++i) {
        if (i < first || i > last) {
            shape[rank++] = right->shape[i];
            continue;
        }
        merged *= right->shape[i];
        if (i == last) shape[rank++] = static_cast<int32_t>(merged);
    }
    return WithShape(right, rank, shape);
}

aplarray *RavelWithAxis(const aplarray *axis, const aplarray *right) {
    if (axis->rank != 0) {
        SetErrorText(APL_ERR_SYNTAX, "In axis argument");
        return nullptr;
    }
    AxisArgument a;
    if (!ReadAxisArgument(axis, a) || !a.numeric) {
        SetError(APL_ERR_DOMAIN);
        return nullptr;
    }
    if (a.values->rank >= 2) {
        SetError(APL_ERR_RANK);
        return nullptr;
    }
    return a.integral ? RavelMerging(a, right) : RavelFractional(a, right);
}

// ---- Dyadic catenate ---------------------------------------------------------------

// The result type, decided on the arguments as they came.
int JoinedType(const aplarray *left, const aplarray *right) {
    if (left->eltype == right->eltype) return left->eltype;
    if (ElementCount(left) == 0) return right->eltype;
    if (ElementCount(right) == 0) return left->eltype;
    const int pair = left->eltype | right->eltype;
    return pair == (APL_INTG | APL_REAL) ? int{APL_REAL} : int{APL_NESTED};
}

// One operand of the join as it is reworked: the array and, when it is a
// temporary made here, the guard that owns it.
struct Operand {
    aplarray *array;
    TempGuard owned;
    explicit Operand(aplarray *a) : array(a) {}

    // Hands the array to a step that consumes temporaries (the primitives and
    // the converters do) and owns what comes back; false when it failed.
    template <class Step>
    bool Apply(Step step) {
        if (owned.get() == array) owned.release();
        aplarray *next = step(array);
        owned.reset(next);
        array = next;
        return next != nullptr && !aplerrno;
    }
};

aplarray *RealAxis(double value) { return MakeReal(value); }

// The operand given a unit axis by a ravel with the fractional axis `at`.
bool GiveUnitAxis(Operand &x, double at) {
    return x.Apply([at](aplarray *a) { return APL_Catenate(RealAxis(at), nullptr, a); });
}

// A scalar reshaped to `shape`, with axis k of length 1 when k >= 0.
bool StretchScalar(Operand &x, int rank, const int32_t *shape, int k) {
    int32_t wanted[kMaxRank];
    for (int i = 0; i < rank; ++i) wanted[i] = i == k ? 1 : shape[i];
    return x.Apply([&](aplarray *a) { return APL_Shape(nullptr, MakeIntVector(wanted, rank), a); });
}

bool ConvertTo(Operand &x, int type) {
    if (x.array->eltype == type || ElementCount(x.array) == 0) return true;
    if (type == APL_REAL) return x.Apply(IntToReal);
    return x.Apply(APL_MakeNested);
}

// Joins two operands of equal rank along axis k: per outer cell, the block of
// the left's cells, then the block of the right's.
aplarray *Join(const aplarray *left, const aplarray *right, int k, int type) {
    int32_t shape[kMaxRank];
    for (int i = 0; i < left->rank; ++i) {
        if (i != k && left->shape[i] != right->shape[i]) {
            SetError(APL_ERR_LENGTH);
            return nullptr;
        }
        shape[i] = left->shape[i];
    }
    const int64_t joined = static_cast<int64_t>(left->shape[k]) + right->shape[k];
    if (joined > INT32_MAX) {
        SetError(APL_ERR_DOMAIN);
        return nullptr;
    }
    shape[k] = static_cast<int32_t>(joined);
    aplarray *result = NewResult(left->rank, type, shape);
    if (!result) return nullptr;
    if (ElementCount(result) == 0) {
        if (IsNested(result)) ItemsOf(result)[0] = APL_LinkEx(SlotAt(IsNested(left) ? left : right, 0), HERE);
        return result;
    }
    const AxisSplit l = SplitAlong(left, k), r = SplitAlong(right, k);
    const int64_t a = l.length * l.inner, b = r.length * r.inner;
    for (int64_t o = 0; o < l.outer; ++o) {
        if (!CopyRun(result, o * (a + b), left, o * a, a) || !CopyRun(result, o * (a + b) + a, right, o * b, b)) {
            APL_UnLinkTempEx(result, HERE);
            return nullptr;
        }
    }
    return result;
}

// Two scalars: the axis may only be a fractional one before the first axis.
aplarray *JoinScalars(const aplarray *axis, Operand &left, Operand &right, int type) {
    if (axis) {
        AxisArgument a;
        if (!ReadAxisArgument(axis, a) || !a.numeric || a.integral) {
            SetError(APL_ERR_AXIS);
            return nullptr;
        }
        if (a.count != 1) {
            SetErrorText(APL_ERR_LENGTH, "In axis argument");
            return nullptr;
        }
        const double d = a.first - IndexOrigin();
        if (!(d > -1 && d < 0)) {
            SetError(APL_ERR_AXIS);
            return nullptr;
        }
    }
    if (!left.Apply([](aplarray *x) { return Ravel(x); })) return nullptr;
    if (!right.Apply([](aplarray *x) { return Ravel(x); })) return nullptr;
    if (!ConvertTo(left, type) || !ConvertTo(right, type)) return nullptr;
    return Join(left.array, right.array, 0, type);
}

// The join axis of an integral axis argument; false with AXIS.
bool IntegralJoinAxis(const AxisArgument &a, const aplarray *axis, int maxRank, int &k) {
    if (axis->rank != 0 || a.count != 1) {
        SetError(APL_ERR_AXIS);
        return false;
    }
    const int64_t at = NearInteger(a.first) - IndexOrigin();
    if (at < 0 || at > maxRank - 1) {
        SetError(APL_ERR_AXIS);
        return false;
    }
    k = static_cast<int>(at);
    return true;
}

// Laminate: both operands get a unit axis at the position after the
// fractional axis (a scalar first takes the other's shape); k is that axis.
bool Laminate(const AxisArgument &a, Operand &left, Operand &right, int &k) {
    if (!a.numeric) {
        SetError(APL_ERR_DOMAIN);
        return false;
    }
    // One fractional axis only: a list of them (even one that starts with an
    // integer) names no place for the new axis.
    if (a.count != 1) {
        SetErrorText(APL_ERR_LENGTH, "In axis argument");
        return false;
    }
    if (left.array->rank != right.array->rank) {
        if (left.array->rank == 0 && !StretchScalar(left, right.array->rank, right.array->shape, -1)) return false;
        if (right.array->rank == 0 && !StretchScalar(right, left.array->rank, left.array->shape, -1)) return false;
    }
    const double at = a.first;
    if (!GiveUnitAxis(left, at) || !GiveUnitAxis(right, at)) return false;
    k = static_cast<int>(std::floor(at - IndexOrigin())) + 1;
    return true;
}

aplarray *Catenate(const aplarray *axis, aplarray *leftArg, aplarray *rightArg) {
    const int type = JoinedType(leftArg, rightArg);
    Operand left(leftArg), right(rightArg);
    if (leftArg->rank == 0 && rightArg->rank == 0) return JoinScalars(axis, left, right, type);

    int maxRank = std::max(leftArg->rank, rightArg->rank);
    int k = maxRank - 1;
    if (axis) {
        AxisArgument a;
        if (!ReadAxisArgument(axis, a)) {
            SetError(APL_ERR_AXIS);
            return nullptr;
        }
        if (a.integral) {
            if (!IntegralJoinAxis(a, axis, maxRank, k)) return nullptr;
        } else if (!Laminate(a, left, right, k)) {
            return nullptr;
        }
    }
    // A scalar against an array of rank 2 or more takes its shape, one thick
    // along the join axis; a vector against a matrix and the like gain a unit
    // axis there.
    if (left.array->rank == 0 && right.array->rank >= 2 &&
        !StretchScalar(left, right.array->rank, right.array->shape, k))
        return nullptr;
    if (right.array->rank == 0 && left.array->rank >= 1 &&
        !StretchScalar(right, left.array->rank, left.array->shape, k))
        return nullptr;
    const double unitAt = IndexOrigin() + k - 0.5;
    if (left.array->rank + 1 == right.array->rank && !GiveUnitAxis(left, unitAt)) return nullptr;
    if (right.array->rank + 1 == left.array->rank && !GiveUnitAxis(right, unitAt)) return nullptr;
    if (left.array->rank != right.array->rank) {
        SetError(APL_ERR_RANK);
        return nullptr;
    }
    if (!ConvertTo(left, type) || !ConvertTo(right, type)) return nullptr;
    return Join(left.array, right.array, k, type);
}

aplarray *CatenateKernel(CallArgs &args) {
    if (args.left) return Catenate(args.axis, args.left, args.right);
    return args.axis ? RavelWithAxis(args.axis, args.right) : Ravel(args.right);
}

}  // namespace

// Returns a temporary (lnkcnt 0). Consumes temporary arguments; linked ones are
// left as they were.
extern "C" aplarray *APL_Catenate(aplarray *axis, aplarray *left, aplarray *right) {
    return StandardCall({Optional(kAnyType), Optional(kStructuralTypes), Required(kStructuralTypes)}, axis, left, right,
                        CatenateKernel);
}
