// Text for the operating system: the library's code page agrees with
// share/codepage.tsv, and every code survives the way out and back.
#include "system/ostext.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

TEST(SystemText, CodePointsAreThoseOfTheCodePageFile) {
    std::ifstream tsv("share/codepage.tsv");
    ASSERT_TRUE(tsv) << "run from the source directory";
    std::string line;
    std::getline(tsv, line);  // column titles
    int rows = 0;
    while (std::getline(tsv, line)) {
        if (line.empty()) continue;
        std::istringstream fields(line);
        int code;
        std::string unicode;
        fields >> code >> unicode;
        ASSERT_EQ(unicode.substr(0, 2), "U+");
        EXPECT_EQ(CodePoint(static_cast<uint8_t>(code)), std::stoul(unicode.substr(2), nullptr, 16)) << code;
        ++rows;
    }
    EXPECT_EQ(rows, 256);
}

TEST(SystemText, EveryCodeGoesOutAndComesBack) {
    std::string all;
    for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
    const std::string utf8 = ToSystemText(all);
    EXPECT_GT(utf8.size(), all.size());
    std::string back;
    ASSERT_TRUE(FromSystemText(utf8, back));
    EXPECT_EQ(back, all);
    EXPECT_EQ(ToSystemText("plain.txt"), "plain.txt");
}

TEST(SystemText, MalformedOrForeignTextIsRefused) {
    std::string codes;
    EXPECT_FALSE(FromSystemText("\xC0\xA7", codes));          // overlong quote
    EXPECT_FALSE(FromSystemText("\xED\xA0\x80", codes));      // surrogate
    EXPECT_FALSE(FromSystemText("a\x80", codes));             // stray continuation
    EXPECT_FALSE(FromSystemText("\xE2\x8D", codes));          // cut short
    EXPECT_FALSE(FromSystemText("\xF0\x9F\x98\x80", codes));  // outside the code page
    EXPECT_TRUE(FromSystemText("", codes));
    EXPECT_TRUE(codes.empty());
}
