// literal: the system functions EXTRN, which spells internal text in its
// external keyword form, and INTRN, which reads keyword text back into codes.
// Relies on the keyword table that the token file installs (interpreter/tokfile).
#include "interpreter/literal.h"

#include "core/arrays.h"
#include "core/eltypes.h"
#include "core/errors.h"
#include "core/wrapper.h"
#include "interpreter/tokfile.h"

#include <cstring>
#include <string>

aplarray *KeywordText(const uint8_t *codes, int32_t length) {
    // A private buffer: the code buffer may be holding a line being built.
    TokenBuffer spelling;
    spelling.forward = true;
    if (!CodesToKeywords(codes, length, InstalledKeywordLexer(), spelling)) {
        ResetTokenBuffer(spelling);
        if (!aplerrno) SetError(APL_ERR_WSFULL);
        return nullptr;
    }
    const int32_t n = BufferLength(spelling);
    aplarray *text = AllocArray(APL_SIMPLE | APL_TEMP, 1, APL_CHAR, &n, HERE);
    if (text && n > 0) memcpy(DataOf(text), BufferData(spelling), static_cast<size_t>(n));
    ResetTokenBuffer(spelling);
    return text;
}

namespace {

// Both functions take one line of text and no axis: false with AXIS or RANK.
bool TextArgument(const CallArgs &args) {
    if (args.axis) return SetError(APL_ERR_AXIS), false;
    if (args.right->rank > 1) return SetError(APL_ERR_RANK), false;
    return true;
}

}  // namespace

// Returns a temporary CHAR vector. Consumes temporary arguments; linked ones
// are left as they were.
extern "C" aplarray *APL_Literal(aplarray *axis, aplarray *left, aplarray *right) {
    constexpr Signature kSignature{Optional(kAnyType), kRefused, Required(APL_CHAR)};
    return StandardCall(kSignature, axis, left, right, [](CallArgs &args) -> aplarray * {
        if (!TextArgument(args)) return nullptr;
        return KeywordText(DataOf<const uint8_t>(args.right), args.right->number);
    });
}

// Returns a temporary CHAR vector: the text with every keyword replaced by its
// code ("&" escapes removed). Consumes temporary arguments; linked ones are
// left as they were.
extern "C" aplarray *APL_Internal(aplarray *axis, aplarray *left, aplarray *right) {
    constexpr Signature kSignature{Optional(kAnyType), kRefused, Required(APL_CHAR)};
    return StandardCall(kSignature, axis, left, right, [](CallArgs &args) -> aplarray * {
        if (!TextArgument(args)) return nullptr;
        // The translator works on a NUL-terminated line, in place.
        std::string line(DataOf<const char>(args.right), static_cast<size_t>(args.right->number));
        if (line.find('\0') != std::string::npos) {
            SetError(APL_ERR_DOMAIN);
            return nullptr;
        }
        KeywordsToCodes(line.data(), InstalledKeywordLexer(), true);
        return MakeString(line.c_str());
    });
}
