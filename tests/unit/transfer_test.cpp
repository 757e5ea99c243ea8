// Transfer files: WordOf's bounds, the record
// reader and writer (line ends, comments, cut objects), and the guard that
// decides which texts of a file IN may execute.
#include "interpreter/transcmd.h"
#include "system/transfile.h"

#include "support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A stream holding `bytes`, read from the start; closed by the caller.
FILE *StreamOf(const std::string &bytes) {
    FILE *f = tmpfile();
    if (!f) return nullptr;
    fwrite(bytes.data(), 1, bytes.size(), f);
    rewind(f);
    return f;
}

std::vector<std::string> ReadAll(const std::string &bytes) {
    std::vector<std::string> texts;
    FILE *f = StreamOf(bytes);
    EXPECT_NE(f, nullptr);
    if (!f) return texts;
    TransferFile file{f};
    std::string text;
    while (ReadTransferRecords(file, text)) texts.push_back(text);
    fclose(f);
    return texts;
}

std::string Records(const std::vector<std::string> &texts) {
    std::string out;
    for (const std::string &t : texts) AppendTransferRecords(t, out);
    return out;
}

std::string WithLfEnds(std::string crlf) {
    std::string out;
    for (size_t i = 0; i < crlf.size(); ++i)
        if (!(crlf[i] == '\r' && i + 1 < crlf.size() && crlf[i + 1] == '\n')) out += crlf[i];
    return out;
}

// What the reader gives back: the text padded with blanks to whole records.
std::string Padded(std::string text) {
    text.append((kRecordTextColumns - text.size() % kRecordTextColumns) % kRecordTextColumns, ' ');
    return text;
}

}  // namespace

TEST(TransferWords, NeverWritesPastItsBuffer) {
    const std::string text = "short muchtoolongword x";
    char buffer[12];
    memset(buffer, '#', sizeof buffer);
    // Four bytes of room: the word must be refused, the guard bytes untouched.
    EXPECT_EQ(WordOf(text.data(), static_cast<int64_t>(text.size()), buffer, 4, 1), nullptr);
    EXPECT_EQ(buffer[0], 0);
    for (int i = 1; i < 12; ++i) EXPECT_EQ(buffer[i], '#') << i;
    // A word of exactly the room less its terminator fits.
    EXPECT_NE(WordOf(text.data(), static_cast<int64_t>(text.size()), buffer, 6, 0), nullptr);
    EXPECT_STREQ(buffer, "short");
    EXPECT_EQ(WordOf(text.data(), static_cast<int64_t>(text.size()), buffer, 5, 0), nullptr);
    EXPECT_EQ(WordOf(text.data(), static_cast<int64_t>(text.size()), buffer, 0, 0), nullptr);
}

TEST(TransferRecords, ReadBackWithEitherLineEnd) {
    const std::string arrow(1, static_cast<char>(132));
    const std::vector<std::string> texts = {"AX" + arrow + "1", std::string(71, 'c'), std::string(200, 'd'), "Z"};
    const std::string crlf = Records(texts);
    // The characters are stored in the interchange set.
    EXPECT_EQ(static_cast<uint8_t>(crlf[3]), 228);
    for (const std::string &bytes : {crlf, WithLfEnds(crlf)}) {
        const std::vector<std::string> read = ReadAll(bytes);
        ASSERT_EQ(read.size(), texts.size());
        for (size_t i = 0; i < texts.size(); ++i) EXPECT_EQ(read[i], Padded(texts[i])) << i;
    }
    // A file of one LF record is shorter than the 82 bytes of the first read.
    const std::vector<std::string> one = ReadAll(WithLfEnds(Records({"CX 0 q"})));
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0], Padded("CX 0 q"));
}

TEST(TransferRecords, SkipCommentsAndStopAtDamage) {
    std::string comment(1, '*');
    comment.append(79, '-');
    comment += "\r\n";
    const std::string good = Records({"NA 0 1"});
    EXPECT_EQ(ReadAll(comment + good + comment).size(), 1u);
    // An object whose records end before its "X" record is not returned.
    const std::string open = Records({std::string(100, 'e')}).substr(0, 82);
    EXPECT_EQ(ReadAll(good + open).size(), 1u);
    // A record cut short, or with its line end out of place, ends the file.
    EXPECT_EQ(ReadAll(good + good.substr(0, 50) + good).size(), 1u);
    std::string shifted = good + good;
    shifted.insert(82 + 10, "?");
    EXPECT_EQ(ReadAll(shifted + good).size(), 1u);
    // Records of an unknown type end it too; so do files of any other shape.
    std::string odd = good;
    odd[0] = 'Q';
    EXPECT_TRUE(ReadAll(odd + good).empty());
    EXPECT_TRUE(ReadAll("").empty());
    EXPECT_TRUE(ReadAll(std::string(300, '\n')).empty());
}

TEST(TransferGuard, LetsOnlyValuesAndFixThrough) {
    EXPECT_TRUE(IsSafeAssignment(A("X←1 ¯2.5 3E¯4 .5")));
    EXPECT_TRUE(IsSafeAssignment(A("N←(1 2)'a''b←⍎' (2 2⍴⊂'x')")));
    EXPECT_TRUE(IsSafeAssignment(A("E←0⍴⊂(1 2)")));
    EXPECT_TRUE(IsSafeFix(A("⎕FX 'Z←F X' 'Z←⍎X'")));
    // Functions, names, diamonds, comments, commands: refused.
    for (const char *text : {"X←⍳3", "X←⍎'1'", "X←Y", "X←1⋄)OFF", "X←1 ⍝ note", "X←1E", "X←1E3Y", "X←2X", "X←'open",
                             "X←.", "X←¯", "X←⎕AV", "⎕LX←'F'", "⎕IO←0", "1←2", "X", "X←+/1 2"})
        EXPECT_FALSE(IsSafeAssignment(A(text))) << text;
    for (const char *text : {"⎕FX ⍎'F'", "⎕FX", "⎕FXY 'a'", "⎕EX 'F'", "⎕FX 'a' ⋄ ⎕EX 'b'"})
        EXPECT_FALSE(IsSafeFix(A(text))) << text;
}
