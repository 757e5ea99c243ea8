// textutil: text utilities exported for generated code and plug-ins without a
// name of their own: Sepword (split at a separator), TrailBlank (trim
// blanks), Xlat (translate through a table) and Arbout (bytes to standard
// output). Relies on the array core and the standard wrapper.
#include "core/arrays.h"
#include "core/eltypes.h"
#include "core/errors.h"
#include "core/wrapper.h"

#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

namespace {

aplarray *Fail(int32_t code) {
    SetError(code);
    return nullptr;
}

bool IsCharText(const aplarray *a) { return a->eltype == APL_CHAR && a->rank <= 1; }

std::string_view TextOf(const aplarray *a) { return {DataOf<const char>(a), static_cast<size_t>(a->number)}; }

aplarray *MakeText(std::string_view text) {
    const auto n = static_cast<int32_t>(text.size());
    aplarray *result = AllocArray(APL_TEMP, 1, APL_CHAR, &n, HERE);
    if (result && n > 0) memcpy(DataOf(result), text.data(), text.size());
    return result;
}

// A nested vector of the pieces; a temporary.
aplarray *PieceVector(const std::vector<std::string_view> &pieces) {
    const auto n = static_cast<int32_t>(pieces.size());
    aplarray *result = AllocArray(APL_NESTEDARRAY | APL_TEMP, 1, APL_NESTED, &n, HERE);
    if (!result) return nullptr;
    for (int32_t i = 0; i < n; ++i) {
        aplarray *piece = MakeText(pieces[static_cast<size_t>(i)]);
        if (!piece) {
            APL_UnLinkTempEx(result, HERE);
            return nullptr;
        }
        ItemsOf(result)[i] = APL_LinkEx(piece, HERE);
    }
    return result;
}

aplarray *SepwordKernel(CallArgs &args) {
    if (args.axis) return Fail(APL_ERR_AXIS);
    if (!IsCharText(args.right)) return Fail(APL_ERR_DOMAIN);
    char separator = ' ';
    if (args.left) {
        if (args.left->eltype != APL_CHAR || ElementCount(args.left) != 1) return Fail(APL_ERR_DOMAIN);
        separator = DataOf<const char>(args.left)[0];
    }
    // n separators make n + 1 pieces, empty ones included.
    std::vector<std::string_view> pieces;
    std::string_view text = TextOf(args.right);
    for (size_t at; (at = text.find(separator)) != std::string_view::npos; text.remove_prefix(at + 1))
        pieces.push_back(text.substr(0, at));
    pieces.push_back(text);
    return PieceVector(pieces);
}

aplarray *TrailBlankKernel(CallArgs &args) {
    if (args.axis) return Fail(APL_ERR_AXIS);
    if (args.right->eltype != APL_CHAR) return Fail(APL_ERR_DOMAIN);
    if (args.right->rank > 1) return Fail(APL_ERR_RANK);
    std::string_view text = TextOf(args.right);
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return MakeText(text);
}

aplarray *XlatKernel(CallArgs &args) {
    if (args.axis) return Fail(APL_ERR_AXIS);
    const aplarray *table = args.left, *text = args.right;
    if (table->eltype != APL_CHAR || text->eltype != APL_CHAR) return Fail(APL_ERR_DOMAIN);
    if (table->rank > 1) return Fail(APL_ERR_RANK);
    if (table->number != 256) return Fail(APL_ERR_LENGTH);
    aplarray *result = AllocArray(APL_SIMPLE | APL_TEMP, text->rank, APL_CHAR, text->shape, HERE);
    if (!result) return nullptr;
    const auto *map = DataOf<const uint8_t>(table);
    const auto *in = DataOf<const uint8_t>(text);
    auto *out = DataOf<uint8_t>(result);
    for (int32_t i = 0; i < text->number; ++i) out[i] = map[in[i]];
    return result;
}

aplarray *ArboutKernel(CallArgs &args) {
    if (args.axis) return Fail(APL_ERR_AXIS);
    if (args.right->eltype != APL_CHAR) return Fail(APL_ERR_DOMAIN);
    if (args.right->rank > 1) return Fail(APL_ERR_RANK);
    const std::string_view bytes = TextOf(args.right);
    // The bytes go out as they are: this is the way to write what the
    // session's text channel would translate or interpret.
    if (fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size() || fflush(stdout) != 0)
        return Fail(APL_ERR_FILEIO);
    return nullptr;
}

}  // namespace

// Returns a new temporary nested vector of CHAR vectors. Consumes temporary
// arguments; linked ones are left as they were.
extern "C" aplarray *APL_Sepword(aplarray *axis, aplarray *left, aplarray *right) {
    constexpr Signature kSignature{Optional(kAnyType), Optional(kAnyType), Required(kAnyType)};
    return StandardCall(kSignature, axis, left, right, SepwordKernel);
}

// Returns a new temporary CHAR vector. Consumes a temporary argument.
extern "C" aplarray *APL_TrailBlank(aplarray *axis, aplarray *left, aplarray *right) {
    constexpr Signature kSignature{Optional(kAnyType), kRefused, Required(kAnyType)};
    return StandardCall(kSignature, axis, left, right, TrailBlankKernel);
}

// Returns a new temporary of the right argument's shape. Consumes temporary
// arguments; linked ones are left as they were.
extern "C" aplarray *APL_Xlat(aplarray *axis, aplarray *left, aplarray *right) {
    constexpr Signature kSignature{Optional(kAnyType), Required(kAnyType), Required(kAnyType)};
    return StandardCall(kSignature, axis, left, right, XlatKernel);
}

// No result. Consumes a temporary argument.
extern "C" aplarray *APL_Arbout(aplarray *axis, aplarray *left, aplarray *right) {
    constexpr Signature kSignature{Optional(kAnyType), kRefused, Required(kAnyType)};
    return StandardCall(kSignature, axis, left, right, ArboutKernel);
}
