// Transfer files: WordOf's bounds, the record reader and writer (line ends,
// comments, cut objects), the guard that decides which texts of a file IN may
// execute, and what the writers refuse or stop at (an interrupt, an infinity,
// a name too long for the reader).
#include "core/errors.h"
#include "core/symtab.h"
#include "interpreter/transcmd.h"
#include "interpreter/transfer.h"
#include "system/transfile.h"

#include "support.h"

#include <gtest/gtest.h>

#include "testos.h"

#include <cmath>
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

// ---- What the writers write ---------------------------------------------------------

namespace {

class TransferWriters : public WorkspaceTest {
protected:
    void TearDown() override {
        APL_interrupted = 0;
        std::remove(path_.c_str());
        WorkspaceTest::TearDown();
    }
    uint16_t Variable(const std::string &name, aplarray *value) {
        void *none = nullptr;
        const uint16_t symbol = DefineName(name.data(), static_cast<int32_t>(name.size()), APL_KIND_VARIABLE, &none);
        SetSymbolValue(symbol, value);
        return symbol;
    }
    // OUT of the rest of a command line; what it printed.
    std::string Out(const std::string &names) {
        CapturedOutput::Take();
        TransferOut((path_ + " " + names).c_str());
        return CapturedOutput::Take();
    }
    std::string FileText() {
        std::string text;
        if (FILE *f = fopen(path_.c_str(), "rb")) {
            for (int c; (c = fgetc(f)) != EOF;) text += static_cast<char>(c);
            fclose(f);
        }
        return text;
    }
    const std::string path_ = "transfer_writers_" + std::to_string(testos::ProcessId()) + ".atf";
};

}  // namespace

TEST_F(TransferWriters, TheInterruptFlagStopsBothFormsAndOut) {
    // Three strides' worth of elements: each writer looks at the flag as it goes.
    const int32_t n = 3 * static_cast<int32_t>(kInterruptStride);
    std::vector<int32_t> values(static_cast<size_t>(n), 7);
    const uint16_t big = Variable("BIG", MakeIntVector(values.data(), n));
    Variable("TEXT", MakeString(std::string(static_cast<size_t>(n), 'x').c_str()));
    // (Form 1 of a text is one copy of its characters: nothing to stop.)
    const std::pair<const char *, int> exports[] = {{"BIG", 1}, {"BIG", 2}, {"TEXT", 2}};
    for (const auto &[name, form] : exports) {
        std::string text;
        APL_interrupted = 1;
        EXPECT_FALSE(ExportObject(LookupName(name), form, text)) << name << " form " << form;
        EXPECT_EQ(aplerrno, APL_ERR_INTERRUPT) << name << " form " << form;
        aplerrno = 0;
    }
    // Nor does cutting a long text into records run on.
    std::string records;
    APL_interrupted = 1;
    EXPECT_FALSE(AppendTransferRecords(std::string(static_cast<size_t>(n), 'x'), records));
    aplerrno = 0;
    APL_interrupted = 1;
    EXPECT_EQ(Out("BIG"), "INTERRUPT ERROR\n");
    EXPECT_EQ(FileText(), "") << "nothing is written";
    // Without the flag the same value is written whole.
    APL_interrupted = 0;
    std::string text;
    EXPECT_TRUE(ExportObject(big, 1, text));
    EXPECT_EQ(text.size(), 14 + 2 * static_cast<size_t>(n));  // "NBIG 1 196608 ", then "7 " each
}

TEST_F(TransferWriters, AnInfinityOrNaNIsRefusedByBothForms) {
    for (const double bad : {HUGE_VAL, -HUGE_VAL, std::nan("")}) {
        const double values[] = {1.5, bad};
        const int32_t two = 2;
        aplarray *v = AllocArray(APL_SIMPLE | APL_TEMP, 1, APL_REAL, &two, HERE);
        memcpy(DataOf<double>(v), values, sizeof values);
        const uint16_t symbol = Variable("V", v);
        for (int form : {1, 2}) {
            std::string text;
            EXPECT_FALSE(ExportObject(symbol, form, text));
            EXPECT_EQ(aplerrno, APL_ERR_DOMAIN);
            EXPECT_STREQ(APL_error_message, "Infinity or NaN cannot be written");
            aplerrno = 0;
        }
        EXPECT_EQ(Out("V"), "DOMAIN ERROR : Infinity or NaN cannot be written\n");
        EXPECT_EQ(FileText(), "");
    }
}

TEST_F(TransferWriters, ANameTooLongForTheReaderIsNotWrittenInForm1) {
    const std::string longName(600, 'L');
    const uint16_t symbol = Variable(longName, MakeString("text"));
    Variable("SHORT", MakeString("kept"));
    std::string text;
    EXPECT_FALSE(ExportObject(symbol, 1, text));
    EXPECT_EQ(aplerrno, 0);
    EXPECT_TRUE(ExportObject(symbol, 2, text));  // form 2 names it where the reader takes any length
    // OUT of everything names it and goes on with the rest.
    EXPECT_EQ(Out(""), "NOT WRITTEN : " + longName + "\n");
    EXPECT_NE(FileText().find("CSHORT 1 4 kept"), std::string::npos);
}

TEST_F(TransferWriters, InNamesAnObjectWhoseNameIsTooLong) {
    const std::string longName(600, 'L');
    std::string records;
    AppendTransferRecords("C" + longName + " 1 4 text", records);
    if (FILE *f = fopen(path_.c_str(), "wb")) {
        fwrite(records.data(), 1, records.size(), f);
        fclose(f);
    }
    CapturedOutput::Take();
    TransferIn(path_.c_str());
    EXPECT_EQ(CapturedOutput::Take(), "NOT IMPORTED : " + longName + "\n");
}
