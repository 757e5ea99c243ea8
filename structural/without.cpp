// without: the primitive ~, logical not (monadic) and without (dyadic: the
// elements of the left argument that are not members of the right).
// Relies on the array core, the standard wrapper, membership and compress.
#include "apl.h"
#include "core/arrays.h"
#include "core/eltypes.h"
#include "core/errors.h"
#include "core/wrapper.h"

namespace {

// ---- Logical not ------------------------------------------------------------------

// BOOL: whole words are complemented, then each row's last word is masked so
// that the padding bits past the row stay zero (match, +/ and the word-wise
// loops all rely on them being zero).
void NotBits(const aplarray *right, aplarray *result) {
    const int64_t length = RowLength(right);
    const int64_t words = (length + 31) / 32;
    const uint32_t *in = DataOf<const uint32_t>(right);
    uint32_t *out = DataOf<uint32_t>(result);
    if (words == 0) return;
    const uint32_t keep = length % 32 ? (1u << (length % 32)) - 1u : ~0u;
    const int64_t rows = right->number / words;
    for (int64_t r = 0, w = 0; r < rows; ++r) {
        for (int64_t k = 0; k < words; ++k, ++w) out[w] = ~in[w];
        out[w - 1] &= keep;
    }
}

// 0 and 1 swap; anything else is DOMAIN. No tolerance for REAL values.
template <class T>
bool NotValues(const T *in, T *out, int64_t n) {
    return ForEachStride(n, [&](int64_t begin, int64_t end) {
        bool ok = true;
        for (int64_t i = begin; i < end; ++i) {
            ok = ok && (in[i] == T(0) || in[i] == T(1));
            out[i] = in[i] == T(0) ? T(1) : T(0);
        }
        if (!ok) SetError(APL_ERR_DOMAIN);
        return ok;
    });
}

// SHORT items of nested arrays are read as INTG.
bool NotShorts(const int16_t *in, int32_t *out, int64_t n) {
    for (int64_t i = 0; i < n; ++i) {
        if (in[i] != 0 && in[i] != 1) return SetError(APL_ERR_DOMAIN), false;
        out[i] = in[i] == 0;
    }
    return true;
}

// Not of one array, items recursively. Returns a new temporary, or null with
// the error set; borrows the argument.
aplarray *Not(const aplarray *right, int level) {
    if (level > kMaxNestingDepth) return SetError(APL_ERR_LIMIT), nullptr;
    if (right->eltype == APL_CHAR) return SetError(APL_ERR_DOMAIN), nullptr;
    const int eltype = right->eltype == APL_SHORT ? int{APL_INTG} : right->eltype;
    const int flags = (IsNested(right) ? APL_NESTEDARRAY : APL_SIMPLE) | APL_TEMP;
    TempGuard result(AllocArray(flags, right->rank, eltype, right->shape, HERE));
    if (!result.get()) return nullptr;
    aplarray *z = result.get();
    const int64_t n = ElementCount(right);
    switch (right->eltype) {
        case APL_BOOL: NotBits(right, z); break;
        case APL_INTG:
            if (!NotValues(DataOf<const int32_t>(right), DataOf<int32_t>(z), n)) return nullptr;
            break;
        case APL_REAL:
            if (!NotValues(DataOf<const double>(right), DataOf<double>(z), n)) return nullptr;
            break;
        case APL_SHORT:
            if (!NotShorts(DataOf<const int16_t>(right), DataOf<int32_t>(z), n)) return nullptr;
            break;
        case APL_NESTED:
            // The prototype slot of an empty array is processed too, so that the
            // result's fill is the not of the argument's fill.
            for (int32_t i = 0; i < ItemSlots(right); ++i) {
                aplarray *item = Not(ItemsOf(right)[i], level + 1);
                if (!item) return nullptr;
                ItemsOf(z)[i] = APL_LinkEx(item, HERE);
                if (InterruptAt(i + 1)) return nullptr;
            }
            break;
        default: return SetError(APL_ERR_DOMAIN), nullptr;
    }
    return result.release();
}

// ---- Without -----------------------------------------------------------------------

// left ~ right: left compressed by the not of its membership in right.
// Returns a new temporary; borrows both arguments.
aplarray *Without(aplarray *left, aplarray *right) {
    if (left->rank >= 2) return SetError(APL_ERR_RANK), nullptr;
    TempGuard mask(APL_Element(nullptr, left, right));
    if (!mask.get()) return nullptr;
    // Membership gives INTG 0 and 1: its not is taken in place.
    int32_t *bits = DataOf<int32_t>(mask.get());
    const int64_t n = ElementCount(mask.get());
    for (int64_t i = 0; i < n; ++i) bits[i] ^= 1;
    return APL_Replicate(nullptr, mask.release(), left);
}

aplarray *WithoutKernel(CallArgs &args) {
    if (args.axis) return SetError(APL_ERR_AXIS), nullptr;
    return args.left ? Without(args.left, args.right) : Not(args.right, 0);
}

}  // namespace

// Returns a temporary (lnkcnt 0). Consumes temporary arguments; linked ones
// are left as they were.
extern "C" aplarray *APL_Without(aplarray *axis, aplarray *left, aplarray *right) {
    return StandardCall({Optional(kAnyType), Optional(kAnyType), Required(kAnyType)}, axis, left, right, WithoutKernel);
}
