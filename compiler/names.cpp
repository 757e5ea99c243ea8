// names: APL names as C identifiers and C strings, the layout of a generated
// call, and the names generated code calls system functions by.
// Relies on the symbol table and the system-function side table.
#include "compiler/compilation.h"

#include "core/errors.h"
#include "core/glyphs.h"
#include "core/symtab.h"
#include "system/register.h"

#include <cstdio>
#include <cstring>

namespace {

bool IsIdentifierCharacter(uint8_t c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// The part a name character becomes; empty for one that has none.
std::string Part(uint8_t c) {
    switch (c) {
        case glyph::kQuad: return "sys_";
        case glyph::kDeltaUnderbar: return "_udelta_";
        case glyph::kDelta: return "_delta_";
        case glyph::kAlpha: return "_alpha_";
        case glyph::kHighMinus: return "_bar_";
        default: return IsIdentifierCharacter(c) ? std::string(1, static_cast<char>(c)) : std::string();
    }
}

}  // namespace

std::string Identifier(Compilation &c, uint16_t symbol) {
    const char *name = SymbolName(symbol);
    std::string id = (Symbol(symbol).kind & APL_KIND_SYSTEM) ? "" : "apl_";
    for (const char *p = name; *p; ++p) {
        const std::string part = Part(static_cast<uint8_t>(*p));
        if (part.empty()) {
            SetErrorText(APL_ERR_DOMAIN, "Name with character %d has no C identifier", static_cast<uint8_t>(*p));
            return std::string();
        }
        id += part;
    }
    const auto found = c.identifiers.find(id);
    if (found == c.identifiers.end()) {
        c.identifiers.emplace(id, symbol);
    } else if (found->second != symbol) {
        SetErrorText(APL_ERR_DOMAIN, "Two names map to the C identifier %s", id.c_str());
        return std::string();
    }
    return id;
}

std::string EscapedName(const std::string &name) {
    std::string text;
    char octal[8];
    for (const char ch : name) {
        snprintf(octal, sizeof octal, "\\%o", static_cast<unsigned>(static_cast<uint8_t>(ch)));
        text += octal;
    }
    return text;
}

std::string CallText(const std::string &name, const std::vector<std::string> &args) {
    bool nested = false;
    for (const std::string &arg : args)
        for (size_t i = 0; i < arg.size() && !nested; ++i)
            if (arg[i] == '(' && (i == 0 || arg[i - 1] != kMarkNoCall)) nested = true;
    std::string text = name + "(";
    if (nested) text += kMarkOpen;
    for (size_t i = 0; i < args.size(); ++i) {
        if (i) text += nested ? std::string(",") + kMarkNext : std::string(", ");
        text += args[i];
    }
    if (nested) text += kMarkClose;
    return text + ")";
}

bool IsProjectName(const std::string &name) {
    if (name.empty() || name.size() > 64) return false;
    if (name[0] >= '0' && name[0] <= '9') return false;
    for (const char ch : name)
        if (!IsIdentifierCharacter(static_cast<uint8_t>(ch))) return false;
    // The support files, and the prefix of every compiled function's file.
    return name != "orbax" && name.compare(0, 4, "apl_") != 0 && name.compare(0, 4, "sys_") != 0;
}

const char *SystemFunctionCName(aplfunction function, bool &plugin) {
    uint16_t kind = 0;
    const char *name = FindCName(function, &kind);
    plugin = (kind & 0x100) != 0;
    return name;
}
