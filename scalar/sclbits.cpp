// sclbits: Boolean rows for the scalar routines: widening packed bits to
// integers and packing integers to bits (row padding stays zero).
// Relies on the array core; rows start on fresh 32-bit words.
#include "scalar/sclloops.h"

namespace {

struct Rows {
    int64_t count;   // rows
    int64_t length;  // elements per row
    int64_t words;   // words per row
};

Rows RowsOf(const aplarray *a) {
    const int64_t length = RowLength(a);
    const int64_t elements = ElementCount(a);
    if (length == 0 || elements == 0) return {0, length, 0};
    return {elements / length, length, (length + 31) / 32};
}

aplarray *AllocLike(const aplarray *like, int eltype) {
    return AllocArray(APL_SIMPLE | APL_TEMP, like->rank, eltype, like->shape, HERE);
}

}  // namespace

// Returns a new temporary; borrows the argument.
aplarray *WidenBits(const aplarray *bits) {
    aplarray *result = AllocLike(bits, APL_INTG);
    if (!result) return nullptr;
    const Rows rows = RowsOf(bits);
    const uint32_t *in = DataOf<const uint32_t>(bits);
    int32_t *out = DataOf<int32_t>(result);
    for (int64_t r = 0; r < rows.count; ++r, in += rows.words, out += rows.length) {
        // The inner loop runs over a whole row so that it vectorises; the bit
        // index splits into a word and a shift that the compiler keeps apart.
        for (int64_t i = 0; i < rows.length; ++i) out[i] = static_cast<int32_t>((in[i >> 5] >> (i & 31)) & 1u);
    }
    return result;
}

// Returns a new temporary; borrows the argument.
aplarray *PackBits(const aplarray *integers) {
    aplarray *result = AllocLike(integers, APL_BOOL);
    if (!result) return nullptr;
    const Rows rows = RowsOf(integers);
    const int32_t *in = DataOf<const int32_t>(integers);
    uint32_t *out = DataOf<uint32_t>(result);
    for (int64_t r = 0; r < rows.count; ++r, in += rows.length, out += rows.words) {
        for (int64_t w = 0; w < rows.words; ++w) {
            const int64_t first = 32 * w;
            const int64_t bits = rows.length - first < 32 ? rows.length - first : 32;
            uint32_t word = 0;
            for (int64_t b = 0; b < bits; ++b) word |= static_cast<uint32_t>(in[first + b] != 0) << b;
            out[w] = word;
        }
    }
    return result;
}
