// datarep: the system functions about how data is held: DR (element type, and
// the bytes of an array seen as another type), AF (characters to codes and
// back) and HEAD (the array record's header). Relies on the array core and
// the standard wrapper.
#include "core/arrays.h"
#include "core/eltypes.h"
#include "core/errors.h"
#include "core/wrapper.h"
#include "system/nfiles.h"

#include <cstring>

namespace {

aplarray *Fail(int32_t code) {
    SetError(code);
    return nullptr;
}

// ---- DR ------------------------------------------------------------------------------

// The last axis of `from`'s bytes seen as elements of type `to`; false with the
// error set when the pair is not allowed or the bytes do not divide evenly.
bool ReinterpretedLength(int from, int to, int64_t n, int64_t &length) {
    auto divide = [&](int64_t by) {
        if (n % by != 0) return Fail(APL_ERR_LENGTH), false;
        length = n / by;
        return true;
    };
    switch (to * 64 + from) {
        case APL_CHAR * 64 + APL_INTG: length = n * 4; return true;
        case APL_CHAR * 64 + APL_REAL: length = n * 8; return true;
        // BOOL rows are whole 32-bit words; their padding bits come along.
        case APL_CHAR * 64 + APL_BOOL: length = 4 * ((n + 31) / 32); return true;
        case APL_CHAR * 64 + APL_SHORT: length = n * 2; return true;
        case APL_INTG * 64 + APL_CHAR: return divide(4);
        case APL_INTG * 64 + APL_REAL: length = n * 2; return true;
        case APL_INTG * 64 + APL_BOOL: return divide(32);
        case APL_REAL * 64 + APL_CHAR: return divide(8);
        case APL_REAL * 64 + APL_INTG: return divide(2);
        case APL_BOOL * 64 + APL_CHAR:
            // Rows of whole bytes would leave a part-filled word behind.
            if (n % 4 != 0) return SetErrorText(APL_ERR_LENGTH, "must be multiple of 4!"), false;
            length = n * 8;
            return true;
        case APL_BOOL * 64 + APL_INTG: length = n * 32; return true;
        case APL_BOOL * 64 + APL_REAL: length = n * 64; return true;
        default: return Fail(APL_ERR_NONCE), false;
    }
}

// Copies n doubles' worth of bytes; true when every one is a finite number
// (false with INTERRUPT set when the host asked to stop).
// One pass that copies and tests the exponent bits, so that a REAL never
// holds an infinity or a NaN; fixed-length blocks let it vectorise.
bool CopyFiniteReals(double *__restrict out, const unsigned char *__restrict in, int64_t n) {
    constexpr uint64_t kExponent = 0x7FF0000000000000ull;
    constexpr int64_t kRun = 256;
    auto *bits = reinterpret_cast<uint64_t *>(out);
    uint64_t bad = 0;
    int64_t i = 0;
    for (; i + kRun <= n; i += kRun) {
        if ((i & (kInterruptStride - 1)) == 0 && InterruptRequested()) return false;
        uint64_t block[kRun];
        memcpy(block, in + 8 * i, sizeof block);
        // Adding one to an all-ones exponent carries into the top bit.
        for (int64_t k = 0; k < kRun; ++k) bad |= ((block[k] & kExponent) + 0x0010000000000000ull) & (1ull << 63);
        memcpy(bits + i, block, sizeof block);
    }
    for (; i < n; ++i) {
        uint64_t word;
        memcpy(&word, in + 8 * i, 8);
        bad |= ((word & kExponent) + 0x0010000000000000ull) & (1ull << 63);
        bits[i] = word;
    }
    return bad == 0;
}

aplarray *Reinterpret(const aplarray *source, int to) {
    int64_t length;
    if (!ReinterpretedLength(source->eltype, to, RowLength(source), length)) return nullptr;
    if (length > INT32_MAX) return Fail(APL_ERR_WSFULL);
    int32_t shape[kMaxRank];
    memcpy(shape, source->shape, 4 * static_cast<size_t>(source->rank));
    shape[source->rank - 1] = static_cast<int32_t>(length);
    aplarray *result = AllocArray(APL_SIMPLE | APL_TEMP, source->rank, to, shape, HERE);
    if (!result) return nullptr;
    const int64_t bytes = static_cast<int64_t>(source->number) * static_cast<int64_t>(ElementSize(source->eltype));
    if (to == APL_REAL) {
        if (!CopyFiniteReals(DataOf<double>(result), DataOf<const unsigned char>(source), bytes / 8)) {
            APL_UnLinkTempEx(result, HERE);
            return aplerrno ? nullptr : Fail(APL_ERR_DOMAIN);
        }
    } else if (bytes > 0) {
        memcpy(DataOf(result), DataOf(source), static_cast<size_t>(bytes));
    }
    return result;
}

aplarray *DataRepKernel(CallArgs &args) {
    if (args.axis) return Fail(APL_ERR_AXIS);
    const aplarray *right = args.right;
    if (!args.left) return MakeInt(right->eltype);
    if (ElementCount(args.left) != 1) return Fail(APL_ERR_LENGTH);
    if (args.left->rank > 1) return Fail(APL_ERR_RANK);
    int64_t to;
    if (!SingleInteger(args.left, &to)) return nullptr;
    if (IsNested(right)) return Fail(APL_ERR_DOMAIN);
    if (right->rank < 1) return Fail(APL_ERR_RANK);
    if (to == right->eltype) return CopyArray(right, HERE);
    if (to < 0 || to > APL_SHORT) return Fail(APL_ERR_NONCE);
    return Reinterpret(right, static_cast<int>(to));
}

// ---- AF ------------------------------------------------------------------------------

// Clamped into 0 ... 255; REAL values are truncated toward zero first.
inline uint8_t ClampedCode(int32_t v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }
inline uint8_t ClampedCode(double v) {
    return static_cast<uint8_t>(v <= 0 ? 0 : v >= 255 ? 255 : static_cast<int32_t>(v));
}

// Blocks of a fixed length, and the promise that result and argument do not
// overlap, let the compiler vectorise the inner loop at -O2 (whose cost model
// refuses loops of unknown length that would need a remainder loop).
constexpr int64_t kBlock = 256;
template <class In, class Out, class Convert>
void ConvertAll(const In *__restrict in, Out *__restrict out, int64_t n, Convert convert) {
    int64_t i = 0;
    for (; i + kBlock <= n; i += kBlock) {
        // An interrupt leaves INTERRUPT set; the wrapper then drops the result.
        if ((i & (kInterruptStride - 1)) == 0 && InterruptRequested()) return;
        for (int64_t k = 0; k < kBlock; ++k) out[i + k] = convert(in[i + k]);
    }
    for (; i < n; ++i) out[i] = convert(in[i]);
}

aplarray *AtomicKernel(CallArgs &args) {
    if (args.axis || args.left) return Fail(APL_ERR_NONCE);
    const aplarray *right = args.right;
    const int to = right->eltype == APL_CHAR ? APL_INTG : APL_CHAR;
    aplarray *result = AllocArray(APL_SIMPLE | APL_TEMP, right->rank, to, right->shape, HERE);
    if (!result) return nullptr;
    const int64_t n = right->number;
    switch (right->eltype) {
        case APL_CHAR:
            ConvertAll(DataOf<const uint8_t>(right), DataOf<int32_t>(result), n, [](uint8_t c) { return int32_t{c}; });
            break;
        case APL_INTG:
            ConvertAll(DataOf<const int32_t>(right), DataOf<uint8_t>(result), n,
                       [](int32_t v) { return ClampedCode(v); });
            break;
        default:
            ConvertAll(DataOf<const double>(right), DataOf<uint8_t>(result), n,
                       [](double v) { return ClampedCode(v); });
            break;
    }
    return result;
}

// ---- HEAD ----------------------------------------------------------------------------

aplarray *HeaderKernel(CallArgs &args) {
    const aplarray *a = args.right;
    // The wrapper's own link is not the caller's.
    const int32_t wrapperLink = (args.linked & 4) ? 1 : 0;
    const int32_t header[5] = {a->lnkcnt - wrapperLink, a->rank, a->eltype, a->size, a->number};
    return MakeIntVector(header, 5);
}

}  // namespace

// Returns a temporary: the element type code (monadic) or a new array holding
// the right argument's bytes as another type. Consumes temporary arguments;
// linked ones are left as they were.
extern "C" aplarray *APL_DataRep(aplarray *axis, aplarray *left, aplarray *right) {
    constexpr Signature kSignature{Optional(kAnyType), Optional(kAnyType), Required(kAnyType)};
    return StandardCall(kSignature, axis, left, right, DataRepKernel);
}

// Returns a new temporary of the same shape: INTG codes of characters, or
// characters of numbers. Consumes temporary arguments; linked ones are left.
extern "C" aplarray *APL_Atomic(aplarray *axis, aplarray *left, aplarray *right) {
    constexpr Signature kSignature{Optional(kAnyType), Optional(kAnyType), Required(APL_CHAR | APL_INTG | APL_REAL)};
    return StandardCall(kSignature, axis, left, right, AtomicKernel);
}

// Returns a new temporary 5-element INTG vector: link count as the caller sees
// it, rank, element type, size and number. Consumes a temporary argument.
extern "C" aplarray *APL_HeaderInfo(aplarray *axis, aplarray *left, aplarray *right) {
    constexpr Signature kSignature{kRefused, kRefused, Required(kAnyType)};
    return StandardCall(kSignature, axis, left, right, HeaderKernel);
}
