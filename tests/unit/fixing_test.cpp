// Fixing defined functions: the header forms and the illegal ones, labels and
// line flags, the record's layout, redefinition, lenient fixing, the vector
// and character representations, loading from a file, and the nesting helpers.
#include "functions_support.h"

#include "core/errors.h"
#include "structural/nested.h"

#include <unistd.h>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using function_support::FunctionSession;
using function_support::U;

uint32_t Word(const FixedView &view, int word) {
    uint32_t v;
    memcpy(&v, view.bytes + 4 * word, 4);
    return v;
}

class Fixing : public FunctionSession {
protected:
    // The record of a fixed function, checked.
    FixedView View(const std::string &name) {
        FixedView view;
        EXPECT_TRUE(ReadFixedRecord(FixedRecord(Index(name)), view)) << name;
        return view;
    }
    std::vector<std::string> Names(const FixedView &view) {
        std::vector<std::string> names;
        for (uint32_t i = 0; i < view.names; ++i) names.push_back(U(SymbolName(view.Name(i))));
        return names;
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

TEST_F(Fixing, EveryHeaderFormGivesItsKindFlagsAndNames) {
    struct Case {
        const char *header, *name;
        int kind;
        uint32_t flags;
        std::vector<std::string> names;
    } cases[] = {
        {"Z←F", "F", 0x45, 0x05, {"Z"}},
        {"Z←F R", "F", 0x44, 0x05, {"Z", "R"}},
        {"Z←L F R", "F", 0x44, 0x07, {"Z", "L", "R"}},
        {"F", "F", 0x45, 0x04, {}},
        {"F R", "F", 0x44, 0x04, {"R"}},
        {"L F R", "F", 0x44, 0x06, {"L", "R"}},
        {"Z←(A OP) R", "OP", 0x48, 0x05, {"Z", "A", "R"}},
        {"Z←L (A OP) R", "OP", 0x48, 0x07, {"Z", "L", "A", "R"}},
        {"(A OP) R", "OP", 0x48, 0x04, {"A", "R"}},
        {"L (A OP) R", "OP", 0x48, 0x06, {"L", "A", "R"}},
        {"Z←(A OP B) R", "OP", 0x50, 0x05, {"Z", "A", "B", "R"}},
        {"Z←L (A OP B) R;X;Y", "OP", 0x50, 0x07, {"Z", "L", "A", "B", "R", "X", "Y"}},
        {"(A OP B) R", "OP", 0x50, 0x04, {"A", "B", "R"}},
        {"L(A OP B)R", "OP", 0x50, 0x06, {"L", "A", "B", "R"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.header);
        EXPECT_EQ(Fix({c.header, "1"}), c.name);
        EXPECT_EQ(Symbol(Index(c.name)).kind, c.kind);
        const FixedView view = View(c.name);
        EXPECT_EQ(view.flags, c.flags);
        EXPECT_EQ(Names(view), c.names);
        EXPECT_EQ(view.locals, c.header == std::string("Z←L (A OP B) R;X;Y") ? 2u : 0u);
        Session({")ERASE " + std::string(c.name)});
    }
}

TEST_F(Fixing, MalformedAndIllegalHeadersAreRefused) {
    // Well-formed groups whose counts match no form carry the message.
    for (const char *header : {"Z←(A B) C D", "Z←A B C D", "Z Y←F", "Z←(A B C D) R", "(A B)"}) {
        SCOPED_TRACE(header);
        EXPECT_EQ(Fix({header, "1"}), "0");
        EXPECT_STREQ(APL_error_message, "Illegal function header!");
    }
    // Groups that do not fit the pattern at all.
    for (const char *header :
         {"Z←(A OP)(B) R", "Z←A OP) R", "(A←OP) R", "(A OP)Z←R", "←F", "Z←(A OP;L) R", "F R;", "F R;;L", "Z←(A OP R"}) {
        SCOPED_TRACE(header);
        EXPECT_EQ(Fix({header, "1"}), "0");
        EXPECT_STREQ(APL_error_message, "");
    }
    // A name that is no name, and a system name.
    EXPECT_EQ(Fix({"Z←A+B", "1"}), "0");
    EXPECT_EQ(Fix({"⎕F R", "1"}), "0");
    EXPECT_EQ(aplerrno, 0);
}

TEST_F(Fixing, ALineThatIsNoTextIsTheLineAtFault) {
    const int32_t two = 2;
    aplarray *lines = APL_Create(1, APL_NESTED, &two);
    ItemsOf(lines)[0] = APL_Link(MakeString("F"));
    ItemsOf(lines)[1] = APL_Link(MakeInt(5));
    aplarray *result = APL_Fix(nullptr, nullptr, lines);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(*DataOf<int32_t>(result), 1);
    EXPECT_FALSE(IsUserFunction(Index("F")));
    APL_UnLinkTemp(result);
}

// A function of many lines: fixing it looks at the interrupt flag as it goes,
// and its code grows by half again at a time, not by a fixed step.
TEST_F(Fixing, AFunctionOfManyLinesCanBeInterruptedWhileItIsFixed) {
    constexpr int32_t kLines = 300000;
    aplarray *lines = APL_Link(APL_Create(1, APL_NESTED, &kLines));
    const std::string header = "Z" + std::string(1, static_cast<char>(glyph::kLeftArrow)) + "F";
    const std::string body = "Z" + std::string(1, static_cast<char>(glyph::kLeftArrow)) + "1";
    for (int32_t r = 0; r < kLines; ++r) ItemsOf(lines)[r] = APL_Link(MakeString((r ? body : header).c_str()));

    // The flag goes up while the lines are being fixed, as Ctrl-C would raise
    // it: after the second check of the flag, so that the fixing stops at the
    // third, with lines still to go.
    RaiseInterruptAtCheck(2);
    aplarray *interrupted = APL_Fix(nullptr, nullptr, lines);
    EXPECT_EQ(InterruptChecksMade(), 3);
    RaiseInterruptAtCheck(0);
    EXPECT_EQ(interrupted, nullptr);
    EXPECT_EQ(aplerrno, APL_ERR_INTERRUPT);
    EXPECT_FALSE(IsUserFunction(Index("F")));
    APL_UnLinkTemp(interrupted);
    APL_interrupted = 0;
    aplerrno = 0;

    aplarray *name = APL_Fix(nullptr, nullptr, lines);
    ASSERT_NE(name, nullptr) << "error " << aplerrno;
    APL_UnLinkTemp(name);
    aplarray *listed = FunctionLines(Index("F"));
    ASSERT_NE(listed, nullptr);
    EXPECT_EQ(listed->number, kLines);
    APL_UnLinkTemp(listed);
    APL_UnLink(lines);
}

TEST_F(Fixing, LabelsAreNamesWithTheirLineNumbers) {
    EXPECT_EQ(Fix({"F", "1", "2", "L1: 3", "L2: 4 ⍝ two"}), "F");
    const FixedView view = View("F");
    EXPECT_EQ(view.labels, 2u);
    // Labels close the names area in reverse line order; their values open the pool.
    EXPECT_EQ(Names(view), (std::vector<std::string>{"L2", "L1"}));
    int32_t first, second;
    memcpy(&first, view.bytes + view.poolOffset + 16, 4);
    memcpy(&second, view.bytes + view.poolOffset + 36, 4);
    EXPECT_EQ(first, 3);
    EXPECT_EQ(second, 4);
    // Outside the function the label names stay what they were: plain names.
    EXPECT_EQ(Symbol(Index("L1")).kind & APL_KIND_LABELBIT, 0);
    EXPECT_EQ(Line("L1←7"), "");
}

TEST_F(Fixing, LineFlagsMarkDiamondsControlsAndSeparators) {
    EXPECT_EQ(Fix({"F X", "1 ⋄ 2", "⍣ X", ": 'a'", "⍣", "'⍣' ⋄ '⋄'"}), "F");
    const FixedView view = View("F");
    const uint8_t *flags = view.LineFlags() + 20;
    int32_t count;
    memcpy(&count, view.LineFlags() + 12, 4);
    ASSERT_EQ(count, 6);
    EXPECT_EQ(std::vector<int>(flags, flags + 6), (std::vector<int>{0, 0x80, 0x01, 0x04, 0x02, 0x80}));
    // The flags vector is the pool's last record.
    EXPECT_EQ(view.lineFlagsOffset + 20 + 6 + 2, view.size);
    // Diamonds and the control symbol together are refused, on that line.
    EXPECT_EQ(Fix({"G", "1", "⍣ 2 ⋄ 3"}), "2");
    EXPECT_STREQ(APL_error_message, "Mixture of diamond and control not supported!");
    EXPECT_EQ(aplerrno, 0);
}

TEST_F(Fixing, RecordHoldsItsPartsWhereItsHeaderSays) {
    EXPECT_EQ(Fix({"Z←F R;T", "T←R ⍝ keep", "Z←T+1"}), "F");
    const FixedView view = View("F");
    EXPECT_EQ(view.size % 4, 0u);
    EXPECT_EQ(view.poolOffset % 4, 0u);
    EXPECT_EQ(Word(view, kWordFlags), 0x05u);
    EXPECT_EQ(view.names, 3u);
    EXPECT_EQ(view.locals, 1u);
    EXPECT_EQ(view.lines, 2u);
    EXPECT_EQ(Word(view, 9), 0u);
    EXPECT_EQ(Word(view, 10), 0u);
    EXPECT_LE(Word(view, kWordCreated), Word(view, kWordFixed));
    // Line 2's last token (the constant 1) stands just left of where its
    // table entry points; line 1's comment follows its tokens.
    const uint8_t *last2 = view.bytes + view.poolOffset - Word(view, 12) - 1;
    EXPECT_EQ(*last2, kTagConstant);
    const StoredLine line1 = view.Line(1);
    EXPECT_EQ(*line1.begin, glyph::kLineFeed);
    EXPECT_EQ(U(std::string(reinterpret_cast<const char *>(line1.last + 1), reinterpret_cast<const char *>(line1.end))),
              " ⍝ keep");
    EXPECT_EQ(view.Line(2).begin, line1.end);
}

TEST_F(Fixing, RedefinitionKeepsTheCreationTime) {
    EXPECT_EQ(Fix({"F", "1"}), "F");
    // An old creation time, as a function defined long ago has.
    uint8_t *bytes = DataOf<uint8_t>(FixedRecord(Index("F")));
    const uint32_t old = 12345;
    memcpy(bytes + 4 * kWordCreated, &old, 4);
    EXPECT_EQ(Fix({"F", "2"}), "F");
    const FixedView view = View("F");
    EXPECT_EQ(Word(view, kWordCreated), old);
    EXPECT_GT(Word(view, kWordFixed), old);
    // A name with a variable value cannot become a function.
    Line("V←1");
    EXPECT_EQ(Fix({"V", "1"}), "0");
    EXPECT_EQ(Line("V"), "1\n");
}

TEST_F(Fixing, RepresentationsGiveTheCanonicalText) {
    EXPECT_EQ(Fix({"Z←L   (A  OP B)R ;X", "  X←A L ⍝ note", "L1:Z←X B R", "→L1×⍳0"}), "OP");
    const std::vector<std::string> expected = {"Z←L (A OP B) R;X", "X←A L ⍝ note", "L1:Z←X B R", "→L1×⍳0"};
    EXPECT_EQ(Lines("OP"), expected);
    // The canonical text is what is stored: fixing it again gives it back.
    EXPECT_EQ(Fix(expected), "OP");
    EXPECT_EQ(Lines("OP"), expected);
    // The stored text is item 2; without it the text is rendered from the record.
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
    // CR as a matrix, VR as a vector of lines.
    EXPECT_EQ(Session({"⍴⎕CR 'OP'", "⍴⎕VR 'OP  '", "⎕FX ⎕CR 'OP'"}), "4 16\n4\nOP\n");
}

TEST_F(Fixing, RepresentationOfANonFunctionIsEmptyWithAMessage) {
    Line("V←1");
    for (const char *name : {"V", "NOTHING", "⎕IO"}) {
        aplarray *result = APL_CharRep(nullptr, nullptr, MakeString(A(name).c_str()));
        ASSERT_NE(result, nullptr);
        EXPECT_EQ(aplerrno, 0);
        EXPECT_EQ(result->rank, 2);
        EXPECT_EQ(ElementCount(result), 0);
        EXPECT_EQ(U(APL_error_message), "'" + std::string(name) + "' is no user defined function/operator");
        APL_UnLinkTemp(result);
        APL_error_message[0] = 0;
    }
    EXPECT_EQ(APL_VectorRep(nullptr, nullptr, MakeInt(1)), nullptr);
    EXPECT_EQ(aplerrno, APL_ERR_DOMAIN);
    aplerrno = 0;
    const int32_t shape[2] = {1, 1};
    aplarray *matrix = APL_Create(2, APL_CHAR, shape);
    EXPECT_EQ(APL_VectorRep(nullptr, nullptr, matrix), nullptr);
    EXPECT_EQ(aplerrno, APL_ERR_RANK);
    aplerrno = 0;
    EXPECT_EQ(APL_CharRep(nullptr, MakeString("F"), MakeString("F")), nullptr);
    EXPECT_EQ(aplerrno, APL_ERR_SYNTAX);
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
    char path[] = "/tmp/orbax-loadfns-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
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
    EXPECT_EQ(APL_Loadfns(nullptr, nullptr, MakeString("/tmp/orbax-no-such-file")), nullptr);
    EXPECT_EQ(aplerrno, APL_ERR_FILEIO);
}

// ---- The nesting helpers ------------------------------------------------------------

class Nesting : public LibraryTest {};

TEST_F(Nesting, RowsOfAMatrixBecomeItems) {
    const int32_t shape[2] = {2, 3};
    aplarray *matrix = APL_Create(2, APL_CHAR, shape);
    memcpy(DataOf(matrix), "abcdef", 6);
    aplarray *rows = SplitRows(matrix);
    ASSERT_NE(rows, nullptr);
    EXPECT_EQ(rows->rank, 1);
    ASSERT_EQ(rows->number, 2);
    EXPECT_EQ(std::string(DataOf<const char>(ItemsOf(rows)[1]), 3), "def");
    EXPECT_EQ(ArrayDepth(rows), 2);
    // And back, padded with blanks.
    const std::string long_ = "longer";
    APL_UnLink(ItemsOf(rows)[0]);
    ItemsOf(rows)[0] = APL_Link(MakeString(long_.c_str()));
    aplarray *back = MixTextRows(rows);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->shape[0], 2);
    EXPECT_EQ(back->shape[1], 6);
    EXPECT_EQ(std::string(DataOf<const char>(back), 12), "longerdef   ");
    APL_UnLinkTemp(back);
    APL_UnLinkTemp(rows);
    // BOOL rows keep their word padding.
    const int32_t bshape[2] = {2, 33};
    aplarray *bits = APL_Create(2, APL_BOOL, bshape);
    memset(DataOf(bits), 0, 16);
    DataOf<uint32_t>(bits)[3] = 1;  // row 2, element 33
    aplarray *brows = SplitRows(bits);
    ASSERT_NE(brows, nullptr);
    EXPECT_EQ(DataOf<uint32_t>(ItemsOf(brows)[1])[1], 1u);
    APL_UnLinkTemp(brows);
    aplarray *scalar = MakeInt(1);
    EXPECT_EQ(SplitRows(scalar), nullptr);
    EXPECT_EQ(aplerrno, APL_ERR_RANK);
    aplerrno = 0;
    APL_UnLinkTemp(scalar);
    APL_UnLinkTemp(bits);
    APL_UnLinkTemp(matrix);
}

TEST_F(Nesting, DepthCountsLevelsAndStopsAtTheLimit) {
    aplarray *scalar = MakeInt(1);
    EXPECT_EQ(ArrayDepth(scalar), 0);
    aplarray *vector = MakeString("ab");
    EXPECT_EQ(ArrayDepth(vector), 1);
    const int32_t one = 1;
    aplarray *deep = APL_Link(vector);
    for (int i = 0; i < kMaxNestingDepth + 5; ++i) {
        aplarray *box = APL_Create(1, APL_NESTED, &one);
        ItemsOf(box)[0] = deep;
        deep = APL_Link(box);
    }
    EXPECT_EQ(ArrayDepth(deep), -1);
    EXPECT_EQ(aplerrno, APL_ERR_LIMIT);
    aplerrno = 0;
    APL_UnLink(deep);
    APL_UnLinkTemp(scalar);
    // Text rows refuse numbers and matrices.
    aplarray *mixed = APL_Create(1, APL_NESTED, &one);
    ItemsOf(mixed)[0] = APL_Link(MakeInt(3));
    EXPECT_EQ(MixTextRows(mixed), nullptr);
    EXPECT_EQ(aplerrno, APL_ERR_DOMAIN);
    aplerrno = 0;
    APL_UnLinkTemp(mixed);
}

}  // namespace
