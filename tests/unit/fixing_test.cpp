// Fixing defined functions where functions_define.tr cannot look: interrupts,
// lenient fixing, the text rendered from the record, damaged records and
// loading from a file.
#include "session_support.h"

#include "core/errors.h"
#include "interpreter/fixing.h"

#include "testos.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The system's codes to UTF-8, each line with caret marks (byte 6) followed
// by a line of carets under the marked characters.
std::string U(const std::string &codes) {
    std::string out, line, carets;
    size_t column = 0;
    for (unsigned char c : codes) {
        if (c == '\n') {
            out += line + "\n";
            if (!carets.empty()) out += carets + "\n";
            line.clear(), carets.clear(), column = 0;
        } else if (c == 6) {
            carets.append(column - std::min(column, carets.size()), ' ');
            carets += '^';
        } else {
            line += Page().glyphs[c].empty() ? std::string(1, static_cast<char>(c)) : Page().glyphs[c];
            ++column;
        }
    }
    return out + line;
}

class Fixing : public SessionTest {
protected:
    void TearDown() override {
        lenientFixing = false;
        SessionTest::TearDown();
    }
    static uint16_t Index(const std::string &utf8name) { return LookupName(A(utf8name)); }
    // One typed line's output (UTF-8).
    std::string Line(const std::string &line) { return U(Run(A(line))); }
    // Fixes a function from UTF-8 lines through FX; its result as text.
    static std::string Fix(const std::vector<std::string> &lines) {
        const auto n = static_cast<int32_t>(lines.size());
        aplarray *vector = APL_Create(1, APL_NESTED, &n);
        for (int32_t i = 0; i < n; ++i)
            ItemsOf(vector)[i] = APL_Link(MakeString(A(lines[static_cast<size_t>(i)]).c_str()));
        aplarray *result = APL_Fix(nullptr, nullptr, vector);
        std::string text = "error " + std::to_string(aplerrno);
        if (result && result->eltype == APL_CHAR)
            text = U(std::string(DataOf<const char>(result), static_cast<size_t>(result->number)));
        else if (result)
            text = std::to_string(*DataOf<const int32_t>(result));
        APL_UnLinkTemp(result);
        return text;
    }
    // The lines of FunctionLines, as UTF-8.
    std::vector<std::string> Lines(const std::string &name) {
        aplarray *lines = FunctionLines(Index(name));
        std::vector<std::string> out;
        if (!lines) return {"error " + std::to_string(aplerrno)};
        for (int32_t i = 0; i < lines->number; ++i) {
            const aplarray *line = ItemsOf(lines)[i];
            out.push_back(U(std::string(DataOf<const char>(line), static_cast<size_t>(line->number))));
        }
        APL_UnLinkTemp(lines);
        return out;
    }
};

// A function of many lines: fixing it looks at the interrupt flag as it goes
// (a flag already up stops it at the first look), and its code grows by half
// again at a time, not by a fixed step.
TEST_F(Fixing, AFunctionOfManyLinesCanBeInterruptedWhileItIsFixed) {
    constexpr int32_t kLines = 300000;
    aplarray *lines = APL_Link(APL_Create(1, APL_NESTED, &kLines));
    for (int32_t r = 0; r < kLines; ++r) ItemsOf(lines)[r] = APL_Link(MakeString(A(r ? "Z←1" : "Z←F").c_str()));
    APL_interrupted = 1;
    EXPECT_EQ(APL_Fix(nullptr, nullptr, lines), nullptr);
    EXPECT_EQ(aplerrno, APL_ERR_INTERRUPT);
    EXPECT_FALSE(IsUserFunction(Index("F")));
    APL_interrupted = 0;
    aplerrno = 0;
    APL_UnLinkTemp(APL_Fix(nullptr, nullptr, lines));
    aplarray *listed = FunctionLines(Index("F"));
    ASSERT_NE(listed, nullptr);
    EXPECT_EQ(listed->number, kLines);
    APL_UnLinkTemp(listed);
    APL_UnLink(lines);
}

// The canonical text (functions_define.tr) is rendered from the record when
// the stored text (item 2) is missing.
TEST_F(Fixing, RepresentationsGiveTheCanonicalText) {
    EXPECT_EQ(Fix({"Z←L   (A  OP B)R ;X", "  X←A L ⍝ note", "L1:Z←X B R", "→L1×⍳0"}), "OP");
    const std::vector<std::string> expected = {"Z←L (A OP B) R;X", "X←A L ⍝ note", "L1:Z←X B R", "→L1×⍳0"};
    aplsymbol &entry = Symbol(Index("OP"));
    auto *value = static_cast<aplarray *>(entry.value);
    aplarray *record = APL_Link(ItemsOf(value)[0]);
    APL_UnLink(value);
    entry.value = record;
    EXPECT_EQ(Lines("OP"), expected);
    // One line for an editor's listing.
    CapturedOutput::Take();
    ShowLine(Index("OP"), 2);
    ShowLine(Index("OP"), 0);
    ShowLine(Index("OP"), 9);
    EXPECT_EQ(U(CapturedOutput::Take()), "[2]  L1:Z←X B R\n[0]  Z←L (A OP B) R;X\n");
}

TEST_F(Fixing, LenientFixingTurnsABadLineIntoAComment) {
    EXPECT_EQ(Fix({"F", "1", "(2", "3"}), "2");
    EXPECT_FALSE(IsUserFunction(Index("F")));
    lenientFixing = true;
    CapturedOutput::Take();
    EXPECT_EQ(Fix({"F", "1", "(2", "3"}), "F");
    EXPECT_EQ(U(CapturedOutput::Take()), "F[2] syntax error\n");
    EXPECT_EQ(Lines("F")[2], "--------⍝ (2");
    // Only the first bad line is forgiven.
    EXPECT_EQ(Fix({"G", "(1", "(2"}), "1");
}

TEST_F(Fixing, DamagedRecordsAreRefusedNotFollowed) {
    EXPECT_EQ(Fix({"Z←F R", "Z←R"}), "F");
    aplarray *record = FixedRecord(Index("F"));
    uint8_t *bytes = DataOf<uint8_t>(record);
    const uint32_t saved = [&] {
        uint32_t v;
        memcpy(&v, bytes + 44, 4);
        return v;
    }();
    for (const uint32_t bad : {0xFFFFFFF0u, 4u * 1000000u}) {
        memcpy(bytes + 44, &bad, 4);
        FixedView view;
        EXPECT_FALSE(ReadFixedRecord(record, view));
        EXPECT_STREQ(APL_error_message, "Damaged function record");
        aplerrno = 0;
        EXPECT_EQ(Line("F 1"), "SYSTEM ERROR : Damaged function record\nF 1\n^\n");
    }
    memcpy(bytes + 44, &saved, 4);
    const uint32_t names = 99;
    memcpy(bytes + 4 * kWordNames, &names, 4);
    FixedView view;
    EXPECT_FALSE(ReadFixedRecord(record, view));
    aplerrno = 0;
}

TEST_F(Fixing, LoadfnsFixesEveryItemOfAFile) {
    const std::string made = testos::MakeTempFile("orbax-loadfns-");
    ASSERT_FALSE(made.empty());
    const char *path = made.c_str();
    aplarray *defs = nullptr;
    {
        const int32_t three = 3, two = 2;
        defs = APL_Create(1, APL_NESTED, &three);
        const char *texts[3][2] = {{"Z←DOUBLE R", "Z←R+R"}, {"Z←", "bad"}, {"Z←NEG R", "Z←-R"}};
        for (int i = 0; i < 3; ++i) {
            aplarray *item = APL_Create(1, APL_NESTED, &two);
            for (int j = 0; j < 2; ++j) ItemsOf(item)[j] = APL_Link(MakeString(A(texts[i][j]).c_str()));
            ItemsOf(defs)[i] = APL_Link(item);
        }
    }
    APL_UnLinkTemp(APL_ReadWrite(nullptr, defs, MakeString(path)));
    ASSERT_EQ(aplerrno, 0);
    aplarray *result = APL_Loadfns(nullptr, nullptr, MakeString(path));
    remove(path);
    ASSERT_NE(result, nullptr);
    ASSERT_EQ(result->number, 3);
    EXPECT_EQ(std::string(DataOf<const char>(ItemsOf(result)[0]), 6), "DOUBLE");
    EXPECT_EQ(*DataOf<int32_t>(ItemsOf(result)[1]), 0);
    EXPECT_EQ(std::string(DataOf<const char>(ItemsOf(result)[2]), 3), "NEG");
    APL_UnLinkTemp(result);
    EXPECT_EQ(Line("DOUBLE NEG 4"), "¯8\n");
    EXPECT_EQ(APL_Loadfns(nullptr, nullptr, MakeString((made + "-no-such-file").c_str())), nullptr);
    EXPECT_EQ(aplerrno, APL_ERR_FILEIO);
}

}  // namespace
