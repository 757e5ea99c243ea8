// Fuzz target for the tokenizer: arbitrary bytes are tokenized as a source line
// with each flag set, rendered back, and the rendering tokenized again; the same
// bytes go through the keyword translators and, wrapped in line ends, to the
// renderer as a stored line. Every block must be given back.
#include "apl.h"
#include "core/arrays.h"
#include "core/symtab.h"
#include "interpreter/tokenizer.h"
#include "interpreter/tokfile.h"
#include "system/register.h"

#include "fuzz_support.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void Require(bool condition, const char *what, const std::string &input) {
    if (condition) return;
    fprintf(stderr, "tokenize_fuzz: %s (error %d) on %zu bytes\n", what, aplerrno, input.size());
    abort();
}

// The text of the stored line in the code buffer, or "" with the error set.
std::string Tokenized(const std::string &text, int32_t flags, bool &ok) {
    StoredLine line;
    ok = TokenizeSourceLine(reinterpret_cast<const uint8_t *>(text.data()), static_cast<int32_t>(text.size()), flags,
                            line);
    std::string rendered;
    if (ok) {
        aplarray *shown = LineToText(line, CurrentPool(), false);
        ok = shown != nullptr;
        if (shown) rendered.assign(DataOf<const char>(shown), static_cast<size_t>(shown->number));
        APL_UnLinkTemp(shown);
    }
    ResetTokenBuffer(codeBuffer);
    return rendered;
}

int inputs = 0;
int32_t baseline = 0;

void FreshWorkspace() {
    DestroySymbolTable();
    ResetConstantPool();
    CreateSystemVariables(false);
    baseline = fuzz::LiveBlocks();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    APL_Callback(1, reinterpret_cast<void *>(&fuzz::Discard));
    RegisterBuiltins();
    LoadTokenFile("share/Standard.tok");  // keyword mode is exercised when it is there
    FreshWorkspace();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // The symbol table only grows: start again now and then.
    if (++inputs % 5000 == 0) FreshWorkspace();
    const std::string input(reinterpret_cast<const char *>(data), size);
    const int32_t flagSets[] = {kTokImmediate, kTokDiamonds, kTokNamesMustExist, kTokIndexList, kTokBlockInside};
    for (int32_t flags : flagSets) {
        aplerrno = 0;
        ClearErrorPositions();
        bool ok = false;
        const std::string first = Tokenized(input, flags, ok);
        if (!ok || (flags & (kTokIndexList | kTokBlockInside))) {
            ResetConstantPool();
            continue;
        }
        // What was rendered tokenizes again, and one more round changes nothing
        // (after the first one a strand of characters has become a plain string
        // and a negative zero a zero).
        const std::string second = Tokenized(first, flags & ~kTokNamesMustExist, ok);
        Require(ok, "a rendered line does not tokenize", input);
        const std::string third = Tokenized(second, flags & ~kTokNamesMustExist, ok);
        Require(ok && third == second, "rendering is not stable", input);
        ResetConstantPool();
    }
    aplerrno = 0;

    // The bytes as a stored line: anything but a valid one is SYSTEM ERROR.
    const std::string stored = "\n" + input + "\n";
    const auto *bytes = reinterpret_cast<const uint8_t *>(stored.data());
    StoredLine line{bytes, bytes + stored.size() - 2, bytes + stored.size() - 1};
    aplarray *shown = LineToText(line, CurrentPool(), size % 2 == 1);
    Require(shown || aplerrno, "a failed rendering sets no error", input);
    APL_UnLinkTemp(shown);
    aplerrno = 0;

    // Keyword translation both ways.
    std::string line2 = input;
    std::replace(line2.begin(), line2.end(), '\0', ' ');
    KeywordsToCodes(line2.data(), InstalledKeywordLexer(), true);
    TokenBuffer out;
    out.forward = true;
    CodesToKeywords(reinterpret_cast<const uint8_t *>(line2.data()), static_cast<int32_t>(strlen(line2.c_str())),
                    InstalledKeywordLexer(), out);
    if (out.block) {
        std::string back(reinterpret_cast<const char *>(BufferData(out)), static_cast<size_t>(BufferLength(out)));
        std::replace(back.begin(), back.end(), '\0', ' ');
        KeywordsToCodes(back.data(), InstalledKeywordLexer(), true);
    }
    ResetTokenBuffer(out);
    aplerrno = 0;

    ResetTokenBuffer(codeBuffer);
    ResetConstantPool();
    ClearErrorPositions();
    Require(fuzz::LiveBlocks() == baseline, "blocks left behind", input);
    return 0;
}
