// histogram: Sumlab, exported for generated code without a name of its own:
// how often each code 0 ... n occurs, or the sum of the weights of each code.
// Relies on the array core, element conversions and the standard wrapper.
#include "core/arrays.h"
#include "core/eltypes.h"
#include "core/errors.h"
#include "core/symtab.h"
#include "core/wrapper.h"
#include "system/nfiles.h"

#include <cmath>
#include <cstring>

namespace {

aplarray *Fail(int32_t code) {
    SetError(code);
    return nullptr;
}

// Codes as INTG or REAL: the array itself, or a converted temporary kept by
// the guard. Null with DOMAIN for anything else.
const aplarray *NumericCodes(aplarray *codes, TempGuard &converted) {
    if (IsNested(codes) || codes->eltype == APL_CHAR) return Fail(APL_ERR_DOMAIN);
    if (codes->eltype & (APL_INTG | APL_REAL)) return codes;
    aplarray *integers = ConvertType(codes, APL_INTG);
    if (aplerrno) return nullptr;
    converted.reset(integers);
    return integers;
}

// Calls visit(i, slot) for element i of the codes whose value is a slot 0 ... n;
// false with DOMAIN for a REAL code that is not a near-integer.
template <class Visit>
bool ForEachSlot(const aplarray *codes, int32_t n, Visit visit) {
    const int64_t count = ElementCount(codes);
    if (codes->eltype == APL_INTG) {
        const int32_t *c = DataOf<const int32_t>(codes);
        // One unsigned comparison tests both ends of the range.
        for (int64_t i = 0; i < count; ++i)
            if (static_cast<uint32_t>(c[i]) <= static_cast<uint32_t>(n)) visit(i, c[i]);
        return true;
    }
    const double *c = DataOf<const double>(codes);
    const double tolerance = ComparisonTolerance();
    for (int64_t i = 0; i < count; ++i) {
        const double nearest = std::nearbyint(c[i]);
        if (std::fabs(c[i] - nearest) > tolerance * std::fmax(1.0, std::fabs(nearest)))
            return Fail(APL_ERR_DOMAIN), false;
        if (nearest >= 0 && nearest <= n) visit(i, static_cast<int32_t>(nearest));
    }
    return true;
}

aplarray *NewCounts(int32_t n, int eltype) {
    const int32_t length = n + 1;
    aplarray *result = AllocArray(APL_SIMPLE | APL_TEMP, 1, eltype, &length, HERE);
    if (result) memset(DataOf(result), 0, static_cast<size_t>(length) * ElementSize(eltype));
    return result;
}

aplarray *CountCodes(aplarray *codeArray, int32_t n) {
    TempGuard converted;
    const aplarray *codes = NumericCodes(codeArray, converted);
    if (!codes) return nullptr;
    TempGuard result(NewCounts(n, APL_INTG));
    if (!result.get()) return nullptr;
    // A count never exceeds the number of codes, which fits INTG.
    int32_t *counts = DataOf<int32_t>(result.get());
    if (!ForEachSlot(codes, n, [counts](int64_t, int32_t slot) { ++counts[slot]; })) return nullptr;
    return result.release();
}

// The weights must match the codes: same length, and the same shape when both
// have axes.
bool WeightsMatch(const aplarray *codes, const aplarray *weights) {
    if (ElementCount(codes) != ElementCount(weights)) return Fail(APL_ERR_LENGTH), false;
    if (codes->rank == 0 || weights->rank == 0) return true;
    if (codes->rank != weights->rank) return Fail(APL_ERR_RANK), false;
    if (memcmp(codes->shape, weights->shape, 4 * static_cast<size_t>(codes->rank)) != 0)
        return Fail(APL_ERR_LENGTH), false;
    return true;
}

aplarray *SumWeights(aplarray *codeArray, aplarray *weightArray, int32_t n) {
    TempGuard convertedCodes, convertedWeights;
    const aplarray *codes = NumericCodes(codeArray, convertedCodes);
    if (!codes) return nullptr;
    const aplarray *weights = NumericCodes(weightArray, convertedWeights);
    if (!weights || !WeightsMatch(codes, weights)) return nullptr;
    if (weights->eltype == APL_REAL) {
        TempGuard result(NewCounts(n, APL_REAL));
        if (!result.get()) return nullptr;
        double *sums = DataOf<double>(result.get());
        const double *w = DataOf<const double>(weights);
        if (!ForEachSlot(codes, n, [sums, w](int64_t i, int32_t slot) { sums[slot] += w[i]; })) return nullptr;
        for (int32_t i = 0; i <= n; ++i)
            if (!std::isfinite(sums[i])) return Fail(APL_ERR_DOMAIN);
        return result.release();
    }
    // Each INTG sum is formed in 64 bits; one that leaves INTG is DOMAIN.
    TempGuard result(NewCounts(n, APL_INTG));
    if (!result.get()) return nullptr;
    int32_t *sums = DataOf<int32_t>(result.get());
    const int32_t *w = DataOf<const int32_t>(weights);
    bool overflow = false;
    if (!ForEachSlot(codes, n, [sums, w, &overflow](int64_t i, int32_t slot) {
            const int64_t sum = int64_t{sums[slot]} + w[i];
            if (sum > INT32_MAX || sum < INT32_MIN)
                overflow = true;
            else
                sums[slot] = static_cast<int32_t>(sum);
        }))
        return nullptr;
    if (overflow) return Fail(APL_ERR_DOMAIN);
    return result.release();
}

aplarray *SumlabKernel(CallArgs &args) {
    if (args.axis) return Fail(APL_ERR_AXIS);
    if (IsNested(args.right)) return Fail(APL_ERR_DOMAIN);
    if (args.right->rank > 1) return Fail(APL_ERR_RANK);
    int64_t n;
    if (!SingleInteger(args.right, &n)) return nullptr;
    if (n < 0 || n >= INT32_MAX) return Fail(APL_ERR_DOMAIN);
    aplarray *left = args.left;
    if (!IsNested(left)) return CountCodes(left, static_cast<int32_t>(n));
    if (left->rank > 1 || left->number != 2) return Fail(APL_ERR_DOMAIN);
    return SumWeights(ItemsOf(left)[0], ItemsOf(left)[1], static_cast<int32_t>(n));
}

}  // namespace

// Returns a new temporary vector of n + 1 counts or sums. Consumes temporary
// arguments; linked ones are left as they were.
extern "C" aplarray *APL_Sumlab(aplarray *axis, aplarray *left, aplarray *right) {
    constexpr Signature kSignature{Optional(kAnyType), Required(kAnyType), Required(kAnyType)};
    return StandardCall(kSignature, axis, left, right, SumlabKernel);
}
