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

TEST_F(Display, NumbersFoldBetweenColumnsNeverInsideOne) {
    APL_Assign(sys_PW_idx, APL_Int(30));
    // 0.5+⍳12: the gap before 9.5 is the last one that lets the piece fit.
    std::vector<double> halves;
    for (int i = 1; i <= 12; ++i) halves.push_back(i + 0.5);
    EXPECT_EQ(Shown(arrays_support::Reals(halves)), "1.5 2.5 3.5 4.5 5.5 6.5 7.5\n      8.5 9.5 10.5 11.5 12.5\n");
    // ⍳40 at the usual width: 29 ends the first line, 30 starts the next.
    APL_Assign(sys_PW_idx, APL_Int(79));
    std::vector<double> counts;
    for (int i = 1; i <= 40; ++i) counts.push_back(i);
    std::string first, second;
    for (int i = 1; i <= 29; ++i) first += (i > 1 ? " " : "") + std::to_string(i);
    for (int i = 30; i <= 40; ++i) second += (i > 30 ? " " : "") + std::to_string(i);
    EXPECT_EQ(Shown(arrays_support::Ints(counts)), first + "\n      " + second + "\n");
    // A matrix folds every row at the same gap, a column blank in all rows.
    APL_Assign(sys_PW_idx, APL_Int(30));
    std::vector<double> wide{1, 22, 333, 4444, 55555, 666666, 7777777, 1, 1, 1, 1, 1, 1, 1};
    EXPECT_EQ(Shown(arrays_support::Make(APL_INTG, {2, 7}, wide)),
              "1 22 333 4444 55555 666666\n      7777777\n1  1   1    1     1      1\n            1\n");
    // Text is cut at the width, blanks or not.
    EXPECT_EQ(Shown(Chars({40}, "12 ")), "12 12 12 12 12 12 12 12 12 12 \n      12 12 12 1\n");
}

TEST_F(Display, RanksAndControlCodes) {
    EXPECT_EQ(Shown(MakeChar('x')), "x\n");
    EXPECT_EQ(Shown(Chars({0}, " ")), "\n");
    EXPECT_EQ(Shown(Chars({0, 5}, " ")), "\n");  // no rows: only the line end
    EXPECT_EQ(Shown(Chars({3, 0}, " ")), "\n\n\n");
    EXPECT_EQ(Shown(Chars({2, 2, 3}, "abcdefghijkl")), "abc\ndef\nghi\njkl\n");
    EXPECT_EQ(Shown(Chars({8}, std::string("\0\a\n\r\x1f \x7f\xc8", 8))), "...\r. \x7f\xc8\n");
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
