// Display of character values: PW pieces with six-blank continuations,
// control codes, ranks, interrupts and the links of the displayed value.
#include "support.h"

#include "core/cover.h"
#include "core/symtab.h"
#include "interpreter/display.h"

#include <string>
#include <vector>

namespace {

class Display : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        CreateSystemVariables(false);
    }
    void TearDown() override {
        APL_interrupted = 0;
        APL_Callback(1, reinterpret_cast<void *>(&CapturedOutput::Write));
        DestroySymbolTable();
        LibraryTest::TearDown();
    }
};

// A CHAR array whose element i is text[i % length].
aplarray *Chars(std::vector<int32_t> shape, const std::string &text) {
    aplarray *a = APL_Create(static_cast<int32_t>(shape.size()), APL_CHAR, shape.data());
    for (int32_t i = 0; i < a->number; ++i) DataOf<char>(a)[i] = text[static_cast<size_t>(i) % text.size()];
    return a;
}

std::string Shown(aplarray *a) {
    APL_Display(a);
    APL_UnLinkTemp(a);
    return CapturedOutput::Take();
}

TEST_F(Display, LongRowsContinueAfterSixBlanks) {
    std::string row;
    for (int i = 0; i < 100; ++i) row += static_cast<char>('A' + i % 26);
    const std::string shown = row.substr(0, 79) + "\n      " + row.substr(79) + "\n";
    EXPECT_EQ(Shown(Chars({3, 100}, row)), shown + shown + shown);
    // Continuations stay within the width too; a row that fills its last piece ends there.
    APL_Assign(sys_PW_idx, APL_Int(30));
    EXPECT_EQ(Shown(Chars({60}, "0123456789")),
              "012345678901234567890123456789\n      012345678901234567890123\n      456789\n");
    EXPECT_EQ(Shown(Chars({2, 30}, "a")), std::string(30, 'a') + "\n" + std::string(30, 'a') + "\n");
}

TEST_F(Display, RanksAndControlCodes) {
    EXPECT_EQ(Shown(MakeChar('x')), "x\n");
    EXPECT_EQ(Shown(Chars({0}, " ")), "\n");
    EXPECT_EQ(Shown(Chars({0, 5}, " ")), "\n");  // no rows: only the line end
    EXPECT_EQ(Shown(Chars({3, 0}, " ")), "\n\n\n");
    EXPECT_EQ(Shown(Chars({2, 2, 3}, "abcdefghijkl")), "abc\ndef\nghi\njkl\n");
    EXPECT_EQ(Shown(Chars({8}, std::string("\0\a\n\r\x1f \x7f\xc8", 8))), "...\r. \x7f\xc8\n");
}

TEST_F(Display, DisplayedValueKeepsItsLinks) {
    aplarray *temporary = Chars({3}, "abc");
    APL_Display(temporary);
    EXPECT_EQ(temporary->lnkcnt, 0);
    APL_DisplayNoLF(temporary);
    KAZ_Display(temporary);  // displays and frees
    aplarray *kept = APL_Link(Chars({2}, "kl"));
    KAZ_Display(kept);
    EXPECT_EQ(kept->lnkcnt, 1);
    APL_UnLink(kept);
    EXPECT_EQ(CapturedOutput::Take(), "abc\nabcabc\nkl\n");
    APL_Display(nullptr);
    EXPECT_EQ(CapturedOutput::Take().rfind("INTERNAL ERROR: Accessing NULL pointer at cover:", 0), 0u);
}

// Output that sets the interrupt flag once the first piece is written.
void InterruptingWrite(const char *text, int32_t newLine) {
    CapturedOutput::Write(text, newLine);
    APL_interrupted = 1;
}

TEST_F(Display, InterruptStopsBeforeTheNextPiece) {
    APL_Callback(1, reinterpret_cast<void *>(&InterruptingWrite));
    APL_Assign(sys_PW_idx, APL_Int(30));
    aplarray *rows = Chars({2, 40}, "z");
    PrintCharMatrix(rows);
    EXPECT_EQ(aplerrno, APL_ERR_INTERRUPT);
    EXPECT_EQ(APL_interrupted, 1);  // only the session clears it
    EXPECT_EQ(CapturedOutput::Take(), std::string(30, 'z') + "\n");
    PrintCharMatrix(rows);
    EXPECT_EQ(CapturedOutput::Take(), "");
    APL_UnLinkTemp(rows);
}

}  // namespace
