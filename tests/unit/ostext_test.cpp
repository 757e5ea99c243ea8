// Text for the operating system: the library's code page agrees with
// share/codepage.tsv, and every code survives the way out and back.
#include "system/ostext.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

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
