// The line tokenizer: stored-line layout, constants and strands, names, diamonds,
// control blocks, comments, error positions, rendering back, and bad input.
#include "support.h"

#include "core/errors.h"
#include "core/primitives.h"
#include "core/symtab.h"
#include "interpreter/tokenizer.h"
#include "system/register.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

// The system's codes to UTF-8, the caret mark shown as "^".
std::string U(const std::string &codes) {
    std::string out;
    for (unsigned char c : codes) out += c == 6 ? "^" : Page().glyphs[c];
    return out;
}
const uint8_t *Bytes(const std::string &s) { return reinterpret_cast<const uint8_t *>(s.data()); }

int32_t Long(const uint8_t *p) {
    int32_t v;
    memcpy(&v, p, 4);
    return v;
}
uint16_t Short(const uint8_t *p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

// The primitive flags give the tokenizer its character classes.
void EnsurePrimitives() {
    if (PrimitiveFlags('+') != 0) return;
    RegisterBuiltins();
    DestroySymbolTable();
}

class Tokenizer : public LibraryTest {
protected:
    void SetUp() override {
        EnsurePrimitives();
        LibraryTest::SetUp();
        CreateSystemVariables(false);
    }
    void TearDown() override {
        ResetTokenBuffer(codeBuffer);
        ClearErrorPositions();
        DestroySymbolTable();
        ResetConstantPool();
        LibraryTest::TearDown();
    }

    // Tokenizes APL text (UTF-8) as a whole stored line; the line's bytes, or ""
    // with the error code kept in error_.
    std::string Store(const std::string &utf8, int32_t flags = kTokImmediate) {
        source_ = A(utf8);
        aplerrno = 0;
        if (!TokenizeSourceLine(Bytes(source_), static_cast<int32_t>(source_.size()), flags, line_)) {
            error_ = aplerrno;
            aplerrno = 0;
            ResetTokenBuffer(codeBuffer);
            return "";
        }
        error_ = 0;
        return std::string(reinterpret_cast<const char *>(line_.begin),
                           static_cast<size_t>(line_.end - line_.begin + 1));
    }
    // Renders the stored line back, as UTF-8 (byte 6 shown as ^).
    std::string Render() {
        aplarray *text = LineToText(line_, CurrentPool(), false);
        if (!text) return "<error " + std::to_string(aplerrno) + ">";
        std::string codes(DataOf<const char>(text), static_cast<size_t>(text->number));
        APL_UnLinkTemp(text);
        return U(codes);
    }
    std::string RoundTrip(const std::string &utf8, int32_t flags = kTokImmediate) {
        if (Store(utf8, flags).empty()) return "<error " + std::to_string(error_) + ">";
        return Render();
    }
    // The only constant of a stored line [10][offset][1][10].
    const aplarray *OnlyConstant(const std::string &stored) {
        if (stored.size() != 7 || stored[5] != kTagConstant) return nullptr;
        return PooledConstant(Long(Bytes(stored) + 1));
    }
    uint16_t Index(const std::string &utf8) {
        const std::string name = A(utf8);
        return LookupName(name.data(), static_cast<int32_t>(name.size()));
    }

    std::string source_;
    StoredLine line_;
    int32_t error_ = 0;
};

TEST_F(Tokenizer, ARememberedNameNowShorterIsNotReadPastItsEnd) {
    // Long enough to reach past the end of the name pool from where the short
    // name that takes its index after the clear will stand (the pool at most
    // doubles), so that reading the long name's length there leaves the block.
    const std::string longName(2 * APL_symtab.poolUsed + 256, 'L');
    ASSERT_NE(Store(longName + "←1"), "");
    ASSERT_NE(Store(longName + "←2"), "");  // found this time, and remembered
    const uint16_t before = Index(longName);
    DestroySymbolTable();
    CreateSystemVariables(false);
    ASSERT_NE(Store("S←1"), "");  // the last name of the pool now
    ASSERT_EQ(Index("S"), before) << "the short name takes the remembered index";
    const std::string stored = Store(longName + "←3");
    ASSERT_NE(stored, "");
    EXPECT_EQ(Short(Bytes(stored) + 1), Index(longName));
    EXPECT_NE(Index(longName), before);
}

// ---- Line structure ---------------------------------------------------------------

TEST_F(Tokenizer, ALineAfterALongerOneIsStoredAsIfAlone) {
    const std::string alone = Store("X←1 2⋄Y←'ab'", kTokDiamonds);
    ASSERT_NE(alone, "");
    std::string longer = "Z←";
    for (int i = 0; i < 500; ++i) longer += "1+";
    Store(longer + "1", kTokDiamonds);
    EXPECT_EQ(Store("X←1 2⋄Y←'ab'", kTokDiamonds), alone);
    EXPECT_EQ(Render(), "X←1 2⋄Y←'ab'");
}

// ---- Errors ---------------------------------------------------------------------

TEST_F(Tokenizer, LongLinesAndDeepParenthesesTokenize) {
    std::string numbers;
    for (int i = 0; i < 5000; ++i) numbers += "7 ";
    const aplarray *k = OnlyConstant(Store(numbers));
    ASSERT_NE(k, nullptr);
    EXPECT_EQ(k->shape[0], 5000);
    const std::string nested = std::string(5000, '(') + "1" + std::string(5000, ')');
    EXPECT_EQ(Store(nested).size(), 1u + 5000 + 5 + 5000 + 1);
}

}  // namespace
