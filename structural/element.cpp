// element: the primitive element (∊): enlist, a depth-first walk over the
// simple leaves of a nested array, and membership through the lookup tables
// of search. Relies on the array core, the standard wrapper and search.
#include "apl.h"
#include "core/arrays.h"
#include "core/eltypes.h"
#include "core/errors.h"
#include "core/wrapper.h"
#include "structural/nested.h"
#include "structural/search.h"

#include <cstring>

namespace {

// ---- Enlist ------------------------------------------------------------------------

// The count of elements and the union of the types of the simple leaves under
// `array` (only its `number` items, no prototypes). An empty leaf gives no
// element, so its type does not count: the enlist of '' (1 2) is the numbers
// 1 2, not a mixed vector that would fail to match them. False with LIMIT.
bool SurveyLeaves(const aplarray *array, int level, int64_t &count, int &types) {
    if (level > kMaxNestingDepth) return SetError(APL_ERR_LIMIT), false;
    if (!IsNested(array)) {
        const int64_t n = ElementCount(array);
        count += n;
        if (n > 0) types |= TypeClass(array->eltype);
        return true;
    }
    for (int32_t i = 0; i < array->number; ++i)
        if (!SurveyLeaves(ItemsOf(array)[i], level + 1, count, types)) return false;
    return true;
}

// Copies the leaves in walk order into `out`, a simple result of `eltype`
// or a nested one of scalars; `at` counts the elements written.
class LeafWriter {
public:
    explicit LeafWriter(aplarray *result) : result_(result) {}

    bool Write(const aplarray *array) {
        if (IsNested(array)) {
            for (int32_t i = 0; i < array->number; ++i)
                if (!Write(ItemsOf(array)[i])) return false;
            return true;
        }
        const int64_t n = ElementCount(array);
        switch (result_->eltype) {
            case APL_NESTED: return WriteScalars(array, n);
            case APL_CHAR: memcpy(DataOf<uint8_t>(result_) + at_, DataOf(array), static_cast<size_t>(n)); break;
            case APL_REAL: {
                double *out = DataOf<double>(result_) + at_;
                if (array->eltype == APL_REAL)
                    memcpy(out, DataOf(array), 8 * static_cast<size_t>(n));
                else
                    for (int64_t i = 0; i < n; ++i) out[i] = IntegerAt(array, i);
                break;
            }
            default: {
                int32_t *out = DataOf<int32_t>(result_) + at_;
                if (array->eltype == APL_INTG)
                    memcpy(out, DataOf(array), 4 * static_cast<size_t>(n));
                else
                    for (int64_t i = 0; i < n; ++i) out[i] = IntegerAt(array, i);
            }
        }
        at_ += n;
        return !(at_ >= next_ && (next_ += kInterruptStride, InterruptRequested()));
    }

private:
    bool WriteScalars(const aplarray *array, int64_t n) {
        const bool narrow = array->eltype == APL_BOOL || array->eltype == APL_SHORT;
        for (int64_t i = 0; i < n; ++i, ++at_) {
            aplarray *scalar = narrow ? MakeInt(IntegerAt(array, i)) : ItemScalar(array, i);
            if (!scalar) return false;
            ItemsOf(result_)[at_] = APL_LinkEx(scalar, HERE);
        }
        return !(at_ >= next_ && (next_ += kInterruptStride, InterruptRequested()));
    }

    aplarray *result_;
    int64_t at_ = 0;
    int64_t next_ = kInterruptStride;
};

aplarray *Enlist(aplarray *right) {
    int64_t count = 0;
    int types = 0;
    if (!SurveyLeaves(right, 0, count, types)) return nullptr;
    if (count > INT32_MAX) return SetError(APL_ERR_WSFULL), nullptr;
    // A simple argument gives its ravel, empty or not; a nested one without
    // elements an empty INTG vector.
    const int eltype = !IsNested(right) ? int{right->eltype} : count == 0 ? int{APL_INTG} : JoinedType(types);
    const auto n = static_cast<int32_t>(count);
    TempGuard result(AllocArray((eltype == APL_NESTED ? APL_NESTEDARRAY : APL_SIMPLE) | APL_TEMP, 1, eltype, &n, HERE));
    if (!result.get()) return nullptr;
    // The recursion depth was proved bounded by the survey.
    LeafWriter writer(result.get());
    return writer.Write(right) ? result.release() : nullptr;
}

// ---- Membership ----------------------------------------------------------------------

aplarray *Membership(const aplarray *left, const aplarray *right) {
    TempGuard result(AllocArray(APL_SIMPLE | APL_TEMP, left->rank, APL_INTG, left->shape, HERE));
    if (!result.get()) return nullptr;
    SearchTable table;
    int32_t *out = DataOf<int32_t>(result.get());
    if (!table.Build(right) || !table.FindAll(left, out)) return nullptr;
    const int64_t n = ElementCount(left);
    for (int64_t i = 0; i < n; ++i) out[i] = out[i] >= 0;
    return result.release();
}

aplarray *ElementKernel(CallArgs &args) {
    if (args.axis) return SetError(APL_ERR_AXIS), nullptr;
    return args.left ? Membership(args.left, args.right) : Enlist(args.right);
}

}  // namespace

// Returns a temporary (lnkcnt 0). Consumes temporary arguments; linked ones
// are left as they were.
extern "C" aplarray *APL_Element(aplarray *axis, aplarray *left, aplarray *right) {
    // BOOL and SHORT arguments arrive widened to INTG; their items are read as INTG.
    constexpr int kWidened = APL_CHAR | APL_INTG | APL_REAL | APL_NESTED;
    return StandardCall({Optional(kAnyType), Optional(kWidened), Required(kWidened)}, axis, left, right, ElementKernel);
}
