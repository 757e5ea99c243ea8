// bitshift: Bitshift, exported for generated code without a name of its own:
// every element shifted by a number of bits within its own width. Relies on
// the array core and the standard wrapper.
#include "core/arrays.h"
#include "core/eltypes.h"
#include "core/errors.h"
#include "core/wrapper.h"
#include "system/nfiles.h"

namespace {

aplarray *Fail(int32_t code) {
    SetError(code);
    return nullptr;
}

int Width(int eltype) { return eltype == APL_CHAR ? 8 : eltype == APL_SHORT ? 16 : 32; }

// Shifts are done on unsigned values, so that no shift of a negative number
// or past the width is undefined. `by` is 0 ... width for left shifts.
// Fixed-length blocks let the compiler vectorise the inner loop at -O2.
template <class T, class Shift>
void ShiftAll(T *__restrict out, const T *__restrict in, int64_t n, Shift shift) {
    constexpr int64_t kBlock = 256;
    int64_t i = 0;
    for (; i + kBlock <= n; i += kBlock) {
        // An interrupt leaves INTERRUPT set; the wrapper then drops the result.
        if ((i & (kInterruptStride - 1)) == 0 && InterruptRequested()) return;
        for (int64_t k = 0; k < kBlock; ++k) out[i + k] = shift(in[i + k]);
    }
    for (; i < n; ++i) out[i] = shift(in[i]);
}

void ShiftElements(const aplarray *in, aplarray *out, int64_t s) {
    const int64_t n = in->number;
    const auto by = static_cast<uint32_t>(s < 0 ? -s : s);
    // One loop per direction, so that the loop body holds no test.
    switch (in->eltype) {
        case APL_CHAR: {
            const auto *from = DataOf<const uint8_t>(in);
            auto *to = DataOf<uint8_t>(out);
            if (s >= 0)
                ShiftAll(to, from, n, [by](uint8_t v) { return static_cast<uint8_t>(uint32_t{v} << by); });
            else
                ShiftAll(to, from, n, [by](uint8_t v) { return static_cast<uint8_t>(uint32_t{v} >> by); });
            break;
        }
        case APL_SHORT: {
            const auto *from = DataOf<const int16_t>(in);
            auto *to = DataOf<int16_t>(out);
            // Right shifts copy the sign bit: done on the value widened to 32 bits.
            if (s >= 0)
                ShiftAll(to, from, n, [by](int16_t v) {
                    return static_cast<int16_t>(static_cast<uint32_t>(static_cast<uint16_t>(v)) << by);
                });
            else
                ShiftAll(to, from, n, [by](int16_t v) { return static_cast<int16_t>(static_cast<int32_t>(v) >> by); });
            break;
        }
        default: {
            const auto *from = DataOf<const uint32_t>(in);
            auto *to = DataOf<uint32_t>(out);
            // Counts are taken modulo 32, so that 32 and -32 leave a value as it is.
            const uint32_t count = by & 31;
            if (s >= 0)
                ShiftAll(to, from, n, [count](uint32_t v) { return v << count; });
            else
                ShiftAll(to, from, n, [count](uint32_t v) { return v >> count; });
            break;
        }
    }
}

aplarray *BitshiftKernel(CallArgs &args) {
    if (args.axis) return Fail(APL_ERR_AXIS);
    if (ElementCount(args.left) != 1) return Fail(APL_ERR_LENGTH);
    int64_t s;
    if (!SingleInteger(args.left, &s)) return nullptr;
    const aplarray *right = args.right;
    if (!(right->eltype & (APL_CHAR | APL_INTG | APL_SHORT))) return Fail(APL_ERR_DOMAIN);
    if (s < -Width(right->eltype) || s > Width(right->eltype)) return Fail(APL_ERR_DOMAIN);
    aplarray *result = AllocArray(APL_SIMPLE | APL_TEMP, right->rank, right->eltype, right->shape, HERE);
    if (result) ShiftElements(right, result, s);
    return result;
}

}  // namespace

// Returns a new temporary of the right argument's type and shape. Consumes
// temporary arguments; linked ones are left as they were.
extern "C" aplarray *APL_Bitshift(aplarray *axis, aplarray *left, aplarray *right) {
    constexpr Signature kSignature{Optional(kAnyType), Required(kAnyType), Required(kAnyType)};
    return StandardCall(kSignature, axis, left, right, BitshiftKernel);
}
