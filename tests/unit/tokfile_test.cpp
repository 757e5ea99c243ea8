// The keyword layer: the token file and its errors, the longest-match automaton
// and APL_Lextable (the translation itself shows in the keyword transcript).
#include "support.h"

#include "core/errors.h"
#include "interpreter/tokfile.h"

#include "testos.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char *kStandard = "share/Standard.tok";

std::string Text(const aplarray *a) { return std::string(DataOf<const char>(a), static_cast<size_t>(a->number)); }
const aplarray *Item(const aplarray *a, int i) { return ItemsOf(a)[i]; }

class Keywords : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        lexer_ = BuildLexer(kStandard);
    }
    void TearDown() override {
        if (lexer_) APL_UnLink(lexer_);
        ReleaseKeywordLexer();
        for (const std::string &path : files_) remove(path.c_str());
        LibraryTest::TearDown();
    }

    static aplarray *BuildLexer(const char *path) {
        aplarray *table = ReadTokenFile(path);
        aplarray *lexer = table ? BuildKeywordLexer(table) : nullptr;
        return lexer ? APL_Link(lexer) : nullptr;
    }
    std::string WriteFile(const std::string &content) {
        const std::string path = testos::MakeTempFile("tokfile");
        EXPECT_FALSE(path.empty());
        FILE *file = fopen(path.c_str(), "wb");
        EXPECT_NE(file, nullptr);
        if (file) {
            EXPECT_EQ(fwrite(content.data(), 1, content.size(), file), content.size());
            fclose(file);
        }
        files_.push_back(path);
        return path;
    }
    std::string ToCodes(std::string line, bool removeEscapes = true, const aplarray *lexer = nullptr) {
        KeywordsToCodes(line.data(), lexer ? lexer : lexer_, removeEscapes);
        return std::string(line.c_str());
    }

    aplarray *lexer_ = nullptr;
    std::vector<std::string> files_;
};

// ---- The automaton ---------------------------------------------------------------------

TEST_F(Keywords, LongestMatchFallsBackToTheShorterKeyword) {
    const std::string path = WriteFile(
        "/* prefixes\n"
        "token(\"0x20\") ()\n"
        "token(\"0x81\") AB\n"
        "token(\"0x82\") ABCD\n"
        "token(\"0x83\") (<-)\n");
    aplarray *lexer = BuildLexer(path.c_str());
    ASSERT_NE(lexer, nullptr);
    EXPECT_EQ(ToCodes("ABCD AB ABX ABC", true, lexer),
              "\x82 \x81 \x81X \x81"
              "C");
    EXPECT_EQ(ToCodes("AB", true, lexer), "\x81");
    APL_UnLink(lexer);
}

// ---- Token-file errors ---------------------------------------------------------------

TEST_F(Keywords, MissingFileSaysSoAndInstallsNothing) {
    EXPECT_EQ(ReadTokenFile("/nonexistent/Standard.tok"), nullptr);
    EXPECT_EQ(CapturedOutput::Take(), "Error opening '/nonexistent/Standard.tok'\n");
    EXPECT_TRUE(LoadTokenFile(kStandard));
    EXPECT_NE(InstalledKeywordLexer(), nullptr);
    EXPECT_FALSE(LoadTokenFile("/nonexistent/Standard.tok"));
    EXPECT_EQ(InstalledKeywordLexer(), nullptr);
}

TEST_F(Keywords, MalformedLinesNameTheFileAndLine) {
    struct Case {
        const char *content;
        int line;
    };
    const Case cases[] = {
        {"token(\"0x81\") AB\n\ntoken(\"0x82\")\n", 3},    // no word
        {"token(\"0x81\") AB\nx\ntoken 0x82 CD\n", 3},     // no pattern
        {"token(\"0x82\") AB\ntoken(\"0x81\") CD\n", 2},   // codes must rise
        {"token(\"0x81\") AB\ntoken(\"0x100\") CD\n", 2},  // not a code
        {"/* comment\ntoken(\"0x81\") AB\n  \n", 3},       // blanks only
        {"token(\"0x-1\") AB\n", 1},
    };
    for (const Case &c : cases) {
        const std::string path = WriteFile(c.content);
        EXPECT_EQ(ReadTokenFile(path.c_str()), nullptr) << c.content;
        EXPECT_EQ(CapturedOutput::Take(), "Syntax error in '" + path + "' line " + std::to_string(c.line) + ".\n");
    }
    // Comment words, comment lines and lines of one character are skipped.
    const std::string path = WriteFile("/* a\r\nx\ntoken(\"0x81\") /*AB\ntoken(\"0x82\") CD\r\n\n");
    aplarray *table = ReadTokenFile(path.c_str());
    ASSERT_NE(table, nullptr) << CapturedOutput::Take();
    EXPECT_EQ(Item(table, kKeywords)->number, 1);
    EXPECT_EQ(Text(Item(Item(table, kKeywords), 0)), "CD");
    APL_UnLinkTemp(table);
}

// ---- APL_Lextable ----------------------------------------------------------------------

aplarray *Pair(aplarray *words, aplarray *codes) {
    int32_t two = 2;
    aplarray *pair = APL_Create(1, APL_NESTED, &two);
    ItemsOf(pair)[0] = APL_Link(words);
    ItemsOf(pair)[1] = APL_Link(codes);
    return pair;
}

aplarray *Words(std::initializer_list<const char *> words) {
    auto n = static_cast<int32_t>(words.size());
    aplarray *list = APL_Create(1, APL_NESTED, &n);
    int i = 0;
    for (const char *w : words) ItemsOf(list)[i++] = APL_Link(APL_String(w));
    return list;
}

TEST_F(Keywords, LextableBuildsALexerFromKeywordsAndCodes) {
    const int32_t codes[] = {7, 9};
    aplarray *lexer = APL_Lextable(nullptr, nullptr, Pair(Words({"cat", "dog"}), MakeIntVector(codes, 2)));
    ASSERT_NE(lexer, nullptr);
    EXPECT_EQ(lexer->lnkcnt, 0);
    ASSERT_EQ(lexer->number, 5);
    EXPECT_EQ(Item(lexer, kCodeMap)->number, 0);
    EXPECT_EQ(Item(lexer, kDelimiters)->number, 0);
    EXPECT_EQ(Text(Item(Item(lexer, kKeywords), 1)), "dog");
    // Without delimiters a keyword counts at the start only.
    EXPECT_EQ(ToCodes("dog cat", true, lexer), "\x09 cat");
    APL_UnLinkTemp(lexer);
}

TEST_F(Keywords, LextableRefusesWrongArguments) {
    const int32_t codes[] = {7, 9};
    aplarray *pair = APL_Link(Pair(Words({"cat", "dog"}), MakeIntVector(codes, 2)));
    EXPECT_EQ(APL_Lextable(nullptr, MakeInt(1), pair), nullptr);
    EXPECT_EQ(aplerrno, APL_ERR_SYNTAX);
    aplerrno = 0;
    EXPECT_EQ(APL_Lextable(MakeInt(1), nullptr, pair), nullptr);
    EXPECT_EQ(aplerrno, APL_ERR_SYNTAX);
    APL_UnLink(pair);

    struct Case {
        aplarray *right;
        int32_t error;
    };
    const int32_t one[] = {1}, zero[] = {0, 1};
    const Case cases[] = {
        {MakeIntVector(codes, 2), APL_ERR_DOMAIN},                              // not nested
        {Words({"a", "b", "c"}), APL_ERR_DOMAIN},                               // three items
        {Pair(Words({"cat", "dog"}), MakeIntVector(one, 1)), APL_ERR_LENGTH},   // codes missing
        {Pair(Words({"cat", ""}), MakeIntVector(codes, 2)), APL_ERR_DOMAIN},    // empty keyword
        {Pair(Words({"cat", "dog"}), MakeIntVector(zero, 2)), APL_ERR_DOMAIN},  // code 0
        {Pair(Words({"cat", "dog"}), APL_String("xy")), APL_ERR_DOMAIN},        // codes not numbers
    };
    for (const Case &c : cases) {
        aplerrno = 0;
        EXPECT_EQ(APL_Lextable(nullptr, nullptr, c.right), nullptr);
        EXPECT_EQ(aplerrno, c.error);
    }
}

}  // namespace
