// Text replacement through its export (it has no symbol in the session):
// single characters and string lists, shared prefixes and overlaps, every
// error with its message, and links left as they were.
#include "support.h"

#include "tests/fixtures/fixture_arrays.h"

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

using namespace fixture;

// The text as a one-row CHAR matrix.
aplarray *Row(const std::string &text) { return Chars(text, {1, static_cast<int32_t>(text.size())}); }
aplarray *Nest(std::initializer_list<aplarray *> items) { return Nested(items); }
// A list of strings as a nested vector.
aplarray *Strings(std::initializer_list<const char *> texts) {
    std::vector<aplarray *> items;
    for (const char *text : texts) items.push_back(Chars(text));
    return Nested(items);
}

// The text of a CHAR vector result, released; "<error N>" when there is none
// (the error is then cleared for the next call).
std::string Text(aplarray *result) {
    if (!result) {
        const int32_t code = aplerrno;
        aplerrno = 0;
        return "<error " + std::to_string(code) + ">";
    }
    EXPECT_EQ(result->eltype, APL_CHAR);
    EXPECT_EQ(result->rank, 1);
    EXPECT_EQ(result->lnkcnt, 0);
    std::string text(DataOf<char>(result), static_cast<size_t>(result->number));
    APL_UnLinkTemp(result);
    return text;
}

std::string Replaced(aplarray *pair, const std::string &text) { return Text(APL_replace(nullptr, pair, Chars(text))); }

std::string Replaced(std::initializer_list<const char *> old, std::initializer_list<const char *> replacement,
                     const std::string &text) {
    return Replaced(Nest({Strings(old), Strings(replacement)}), text);
}

class Replace : public LibraryTest {
protected:
    // The call fails with this error and message, and leaves no error text
    // behind from an earlier call.
    void ExpectError(aplarray *axis, aplarray *left, aplarray *right, int32_t code, const char *message = "") {
        strcpy(APL_error_message, "stale");
        aplerrno = 0;
        EXPECT_EQ(APL_replace(axis, left, right), nullptr);
        EXPECT_EQ(aplerrno, code);
        EXPECT_STREQ(APL_error_message, message);
        aplerrno = 0;
    }
};

TEST_F(Replace, SingleCharactersFromASimplePairOrCharacterLists) {
    EXPECT_EQ(Replaced(Chars("ab"), "banana"), "bbnbnb");
    EXPECT_EQ(Replaced(Chars("xy"), "banana"), "banana");
    EXPECT_EQ(Replaced(Nest({Chars("abn"), Chars("ABN")}), "banana"), "BANANA");
    // Replacement does not feed back: a becomes b and b becomes a.
    EXPECT_EQ(Replaced(Nest({Chars("ab"), Chars("ba")}), "abba"), "baab");
    EXPECT_EQ(Replaced(Chars("ab"), ""), "");
    // Every code, NUL and 255 too.
    const std::string text("\x00\xFF\x01\x00", 4);
    EXPECT_EQ(Replaced(Nest({Chars(std::string("\x00\xFF", 2)), Chars("ab")}), text), std::string("ab\x01"
                                                                                                  "a"));
}

TEST_F(Replace, StringsMayGrowShrinkOrVanish) {
    EXPECT_EQ(Replaced({"cat", "dog"}, {"lion", ""}, "a cat, a dog, a cow"), "a lion, a , a cow");
    EXPECT_EQ(Replaced({"xyz"}, {"X"}, "xyzxyzxy"), "XXxy");
    // Single characters on one side, strings on the other.
    EXPECT_EQ(Replaced(Nest({Chars("<>"), Strings({"&lt;", "&gt;"})}), "<b>"), "&lt;b&gt;");
    EXPECT_EQ(Replaced(Nest({Strings({"<=", ">="}), Chars("\xAB\xBB")}), "a<=b>=c"),
              "a\xAB"
              "b\xBB"
              "c");
}

TEST_F(Replace, TheScanGoesLeftToRightWithoutOverlaps) {
    EXPECT_EQ(Replaced({"aba"}, {"X"}, "ababa"), "Xba");
    EXPECT_EQ(Replaced({"aa"}, {"b"}, "aaaaa"), "bba");
    // A partial match that fails keeps its first character only: the scan
    // goes on from the next one and finds the string that starts there.
    EXPECT_EQ(Replaced({"aab"}, {"X"}, "aaab"), "aX");
    EXPECT_EQ(Replaced({"abd", "bc"}, {"1", "2"}, "abc"), "a2");
    // A partial match cut off by the end of the text is kept.
    EXPECT_EQ(Replaced({"abc"}, {"X"}, "xxab"), "xxab");
    EXPECT_EQ(Replaced({"abc"}, {"X"}, "xxabc"), "xxX");
}

TEST_F(Replace, TheLongestOfStringsWithASharedPrefixWinsInAnyOrder) {
    const std::string text = "abcdabcab a";
    EXPECT_EQ(Replaced({"ab", "abcd", "a"}, {"1", "2", "3"}, text), "21c1 3");
    EXPECT_EQ(Replaced({"abcd", "a", "ab"}, {"2", "3", "1"}, text), "21c1 3");
    EXPECT_EQ(Replaced({"a", "ab", "abcd"}, {"3", "1", "2"}, text), "21c1 3");
    // A shorter string that ends inside a longer one's partial match.
    EXPECT_EQ(Replaced({"if", "ifelse"}, {"1", "2"}, "ifels ifelse"), "1els 2");
    // Of the same old string twice, the first pair counts.
    EXPECT_EQ(Replaced({"a", "a"}, {"1", "2"}, "aa"), "11");
}

TEST_F(Replace, ErrorsOfEitherArgument) {
    ExpectError(nullptr, nullptr, Chars("abc"), APL_ERR_VALENCE);
    ExpectError(nullptr, Chars("ab"), nullptr, APL_ERR_SYNTAX);
    ExpectError(MakeInt(1), Chars("ab"), Chars("abc"), APL_ERR_AXIS);
    ExpectError(nullptr, Chars("ab"), MakeInt(1), APL_ERR_DOMAIN);
    ExpectError(nullptr, Chars("ab"), Strings({"ab"}), APL_ERR_DOMAIN);
    ExpectError(nullptr, Chars("ab"), MakeChar('a'), APL_ERR_RANK, "Right argument must be a character-vector !");
    const int32_t shape[2] = {2, 2};
    aplarray *matrix = AllocArray(APL_TEMP, 2, APL_CHAR, shape, HERE);
    memcpy(DataOf(matrix), "abcd", 4);
    ExpectError(nullptr, Chars("ab"), matrix, APL_ERR_RANK, "Right argument must be a character-vector !");
    ExpectError(nullptr, Row("ab"), Chars("x"), APL_ERR_RANK);
    ExpectError(nullptr, MakeChar('a'), Chars("x"), APL_ERR_RANK);
    ExpectError(nullptr, Chars("abc"), Chars("x"), APL_ERR_LENGTH);
    const int32_t pair[2] = {1, 2};
    ExpectError(nullptr, MakeIntVector(pair, 2), Chars("x"), APL_ERR_DOMAIN);
    ExpectError(nullptr, Nest({MakeIntVector(pair, 2), Chars("ab")}), Chars("x"), APL_ERR_DOMAIN);
    ExpectError(nullptr, Nest({Chars("ab"), Nest({Chars("a"), MakeInt(1)})}), Chars("x"), APL_ERR_DOMAIN);
    ExpectError(nullptr, Nest({Row("ab"), Chars("ab")}), Chars("x"), APL_ERR_RANK);
    ExpectError(nullptr, Nest({Chars("ab"), Nest({Chars("a"), Row("b")})}), Chars("x"), APL_ERR_RANK);
    ExpectError(nullptr, Nest({Strings({"ab", "cd"}), Strings({"x"})}), Chars("x"), APL_ERR_LENGTH,
                "Different length in left argument !");
    ExpectError(nullptr, Nest({Chars("abc"), Chars("xy")}), Chars("x"), APL_ERR_LENGTH,
                "Different length in left argument !");
    ExpectError(nullptr, Nest({Strings({"a", ""}), Strings({"x", "y"})}), Chars("x"), APL_ERR_DOMAIN);
}

TEST_F(Replace, AResultTooLongForAVectorIsWsFull) {
    // A megabyte of 'a', each a string of 4096 characters: 4 GB of result.
    const std::string megabyte(1 << 20, 'a');
    const std::string long_string(4096, 'z');
    EXPECT_EQ(Replaced(Nest({Chars("a"), Strings({long_string.c_str()})}), megabyte), "<error 1>");
    // Within the limit the same growth works.
    EXPECT_EQ(Replaced(Nest({Chars("a"), Strings({"zz"})}), "aa"), "zzzz");
}

}  // namespace
