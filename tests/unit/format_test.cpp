// Format where the session cannot look: keyword mode, null items and the
// keyword spelling of EXTRN. Layouts, limits and errors are in format.tr.
#include "support.h"

#include "core/errors.h"
#include "core/symtab.h"
#include "interpreter/literal.h"
#include "interpreter/tokfile.h"
#include "structural/format.h"
#include "tests/fixtures/fixture_arrays.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace fixture;
using Strings = std::vector<std::string>;
const std::string HM = "\xaf";  // the high minus

// A result as the tests see it: its rows (one for a vector or scalar), its
// shape and rank, or the error.
struct Text {
    Strings rows;
    Shape shape;
    int32_t error = 0;
    std::string row() const { return rows.size() == 1 ? rows[0] : "<" + std::to_string(rows.size()) + " rows>"; }
};
Text Take(aplarray *text) {
    Text t;
    t.error = std::exchange(aplerrno, 0);
    if (!text) return t;
    EXPECT_EQ(text->eltype, APL_CHAR);
    t.shape.assign(text->shape, text->shape + text->rank);
    const int32_t width = RowLength(text);
    for (int32_t r = 0; width > 0 && r < text->number / width; ++r)
        t.rows.emplace_back(DataOf<const char>(text) + r * width, static_cast<size_t>(width));
    APL_UnLinkTemp(text);
    return t;
}
// Format through the exported function; the arguments are consumed.
Text Fmt(aplarray *right, aplarray *left = nullptr) { return Take(APL_Format(nullptr, left, right)); }
std::string Row(aplarray *right, aplarray *left = nullptr) {
    const Text t = Fmt(right, left);
    return t.error ? "ERROR " + std::to_string(t.error) : t.row();
}
// The engine on a linked value, which it only reads.
Text Engine(aplarray *value, bool keywordMode, bool matrix = false) {
    const KeywordSpeller speller = keywordMode ? KeywordText : nullptr;
    aplarray *text = matrix ? FormatMatrix(value, speller) : FormatArray(value, nullptr, speller);
    APL_UnLink(value);
    return Take(text);
}

using Format = WorkspaceTest;

TEST_F(Format, KeywordModeWritesUnderscoreMinusOutsideTheFormatFunctionOnly) {
    SetSymbolValue(sys_MODE_idx, APL_Int(1));
    EXPECT_TRUE(KeywordModeOn());
    aplarray *value = APL_Link(Ints({-5, 3, -12}));
    EXPECT_EQ(Engine(APL_Link(value), KeywordModeOn()).row(), "_5 3 _12");
    EXPECT_EQ(Engine(APL_Link(Reals({-3e-7})), true).row(), "_3E_7");
    // The format function writes the high minus and leaves MODE as it was, also on failure.
    EXPECT_EQ(Row(value), HM + "5 3 " + HM + "12");
    EXPECT_EQ(Row(APL_Int(1), Chars("x", {1})), "ERROR 16");
    EXPECT_EQ(FirstNumber(APL_Variable(sys_MODE_idx), -1), 1);
    APL_UnLink(value);
    SetSymbolValue(sys_MODE_idx, APL_Int(4));
    EXPECT_FALSE(KeywordModeOn());
}

// Null items, which only a caller of the interface can make (the deep and the
// huge values, and the longest texts, are in format.tr).
TEST_F(Format, NullItemsAreShownAndAnEmptyValueShowsNoPrototype) {
    EXPECT_EQ(Take(FormatArray(nullptr, nullptr, nullptr)).row(), "null_pointer!");
    aplarray *holes = Make(APL_NESTED, {2});
    ItemsOf(holes)[1] = APL_Link(Chars("ab", {2}));
    EXPECT_EQ(Row(holes), " null_pointer! ab ");
    aplarray *empty = Make(APL_NESTED, {0});
    ItemsOf(empty)[0] = APL_Link(Ints({0, 0}));  // the prototype is not shown
    EXPECT_EQ(Row(empty).find_first_not_of(' '), std::string::npos);
}

// Keyword mode with the keyword table of share/Standard.tok installed.
class FormatKeywords : public Format {
protected:
    void SetUp() override {
        Format::SetUp();
        ASSERT_TRUE(LoadTokenFile("share/Standard.tok")) << CapturedOutput::Take();
    }
    void TearDown() override {
        ReleaseKeywordLexer();
        Format::TearDown();
    }
    // The codes that KeywordsToCodes reads back from a text.
    static std::string ReadBack(std::string line) {
        KeywordsToCodes(line.data(), InstalledKeywordLexer(), true);
        return line.c_str();
    }
    static std::string Literal(aplarray *right, aplarray *left = nullptr, aplarray *axis = nullptr) {
        const Text t = Take(APL_Literal(axis, left, right));
        return t.error ? "ERROR " + std::to_string(t.error) : t.row();
    }
};

TEST_F(FormatKeywords, LiteralSpellsEveryCodeInPlainCharactersThatReadBack) {
    // Blanks beside the keywords, which the spelling would add otherwise.
    const std::string codes =
        "X\x84\xbc 5 \xaf"
        "3 \xf7 2 \xa9 r_1 'it''s'";
    const std::string spelt = Literal(MakeString(codes.c_str()));
    EXPECT_TRUE(std::all_of(spelt.begin(), spelt.end(), [](unsigned char c) { return c < 128; })) << spelt;
    EXPECT_EQ(ReadBack(spelt), codes);
    EXPECT_EQ(Literal(MakeChar('q')), "q");
    EXPECT_EQ(Literal(APL_Int(1)), "ERROR 11");
    EXPECT_EQ(Literal(Chars("abcd", {2, 2})), "ERROR 4");
    EXPECT_EQ(Literal(MakeString("b"), MakeString("a")), "ERROR 2");
    EXPECT_EQ(Literal(MakeString("b"), nullptr, APL_Int(1)), "ERROR 7");
    ReleaseKeywordLexer();  // without a keyword table the text is its own spelling
    EXPECT_EQ(Literal(MakeString(codes.c_str())), codes);
}

TEST_F(FormatKeywords, CharacterRowsAreSpeltAndPaddedToTheLongest) {
    const Strings rows = {
        "\xbc"
        "5",
        "ab"};
    aplarray *matrix = APL_Link(Chars(rows[0] + rows[1], {2, 2}));
    Strings expected;
    for (const std::string &row : rows) expected.push_back(Literal(MakeString(row.c_str())));
    ASSERT_GT(expected[0].size(), 2u);
    expected[1].resize(expected[0].size(), ' ');
    EXPECT_EQ(Engine(APL_Link(matrix), true).rows, expected);
    EXPECT_EQ(Fmt(matrix).rows, rows);  // the format function leaves characters alone
    APL_UnLink(matrix);
}

}  // namespace
