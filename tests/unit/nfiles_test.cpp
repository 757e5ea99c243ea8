// Native files: ties, sizes, existence and removal, and every argument form
// and error of NREAD, NWRITE and NAPPEND.
#include "support.h"

#include "system/nfiles.h"
#include "system/oserror.h"
#include "tests/fixtures/fixture_arrays.h"

#include <cerrno>
#include <filesystem>
#include <string>

namespace {

using namespace fixture;

// Every test starts with no file tied and a directory of its own.
class NativeFiles : public LibraryTest {
protected:
    void TearDown() override {
        UntieAll();
        LibraryTest::TearDown();
    }
    // A file holding `bytes`; returns its path.
    std::string MakeFile(const std::string &name, const std::string &bytes) const {
        WriteFile(dir_.file(name), bytes);
        return dir_.file(name);
    }
    static aplarray *Name(const std::string &path) { return APL_String(path.c_str()); }
    static int32_t Tie(const std::string &path) { return IntOf(APL_FileTie(nullptr, nullptr, Name(path))); }
    // The INTG scalar result (consumed); -1 for anything else.
    static int32_t IntOf(aplarray *result) {
        const int32_t n = result && result->eltype == APL_INTG && result->rank == 0 ? *DataOf<int32_t>(result) : -1;
        APL_UnLinkTemp(result);
        return n;
    }
    // The CHAR vector result of NREAD as text; "<null>" when it failed.
    static std::string Read(aplarray *right) {
        aplarray *bytes = APL_FileRead(nullptr, nullptr, right);
        if (!bytes) return "<null>";
        EXPECT_TRUE(bytes->eltype == APL_CHAR && bytes->rank == 1);
        std::string text(DataOf<const char>(bytes), static_cast<size_t>(bytes->number));
        APL_UnLinkTemp(bytes);
        return text;
    }
    // A call without a result that must succeed; the message is cleared.
    static void Succeeds(aplarray *result, const char *message = "") { Fails(result, 0, message); }

    TempDir dir_;
};

using NativeTies = NativeFiles;

TEST_F(NativeTies, TieNumbersAreSmallAndComeBackWhenUntied) {
    const std::string a = MakeFile("a", "x"), b = MakeFile("b", "y");
    const int32_t first = Tie(a), second = Tie(b);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 2);
    Succeeds(APL_FileUnTie(nullptr, nullptr, APL_Int(first)));
    EXPECT_EQ(Tie(b), first);  // the freed number is used again
    // Ties given as BOOL or as a REAL within the tolerance.
    Succeeds(APL_FileFlush(nullptr, nullptr, Reals({second + 1e-14}, {})));
    Succeeds(APL_FileUnTie(nullptr, nullptr, Bools("1", {1})));
    for (aplarray *gone : {APL_Int(0), APL_Int(-1), APL_Int(kMaxTies + 1), APL_Int(first)})
        Fails(APL_FileUnTie(nullptr, nullptr, gone), APL_ERR_FILEIO);
    Fails(APL_FileUnTie(nullptr, nullptr, Ints({second, second})), APL_ERR_LENGTH);
    Fails(APL_FileFlush(nullptr, nullptr, Ints({})), APL_ERR_LENGTH);
    Fails(APL_FileUnTie(nullptr, nullptr, Chars("1")), APL_ERR_DOMAIN);
    Fails(APL_FileUnTie(nullptr, nullptr, Reals({second + 0.5}, {})), APL_ERR_DOMAIN);
    SetPendingOsError(0);
    EXPECT_EQ(Tie(dir_.file("missing")), -1);
    Fails(nullptr, APL_ERR_FILEIO);
    EXPECT_EQ(pendingOsError, ENOENT);
    Fails(APL_FileTie(nullptr, nullptr, APL_Int(3)), APL_ERR_DOMAIN);
}

TEST_F(NativeTies, FlushMakesBufferedWritesVisible) {
    const std::string path = MakeFile("f", "");
    const int32_t tie = Tie(path);
    ASSERT_NE(TiedStream(tie), nullptr);
    fputs("buffered", TiedStream(tie));
    EXPECT_EQ(ReadFile(path), "");
    Succeeds(APL_FileFlush(nullptr, nullptr, APL_Int(tie)));
    EXPECT_EQ(ReadFile(path), "buffered");
}

TEST_F(NativeTies, AxisUnexpectedLeftOrMissingRightIsSyntax) {
    const std::string path = MakeFile("a", "x");
    for (aplfunction f :
         {APL_FileTie, APL_FileUnTie, APL_FileSize, APL_FileRemove, APL_FileFlush, APL_FileRead, APL_FileExist}) {
        Fails(f(nullptr, Name(path), Name(path)), APL_ERR_SYNTAX);
        Fails(f(APL_Int(1), nullptr, Name(path)), APL_ERR_SYNTAX);
        Fails(f(nullptr, nullptr, nullptr), APL_ERR_SYNTAX);
    }
    for (aplfunction f : {APL_FileWrite, APL_FileAppend}) {
        Fails(f(APL_Int(1), Chars("ab"), Name(path)), APL_ERR_SYNTAX);
        Fails(f(nullptr, Chars("ab"), nullptr), APL_ERR_SYNTAX);
    }
    EXPECT_EQ(ReadFile(path), "x");
}

using FileQueries = NativeFiles;

TEST_F(FileQueries, SizeOfNamedTiedAndMissingFiles) {
    const std::string path = MakeFile("ten", "0123456789");
    EXPECT_EQ(IntOf(APL_FileSize(nullptr, nullptr, Name(path))), 10);
    EXPECT_EQ(IntOf(APL_FileSize(nullptr, nullptr, Name(MakeFile("empty", "")))), 0);
    const int32_t tie = Tie(path);
    EXPECT_EQ(Read(Ints({tie, 3})), "012");
    EXPECT_EQ(IntOf(APL_FileSize(nullptr, nullptr, APL_Int(tie))), 10);
    EXPECT_EQ(Read(Ints({tie, 3})), "345");  // the tie's position is kept
    SetPendingOsError(EIO);
    aplarray *none = APL_FileSize(nullptr, nullptr, Name(dir_.file("missing")));
    ASSERT_NE(none, nullptr);
    EXPECT_TRUE(none->eltype == APL_INTG && none->rank == 1 && none->number == 0);
    APL_UnLinkTemp(none);
    EXPECT_EQ(pendingOsError, 0);
    Fails(APL_FileSize(nullptr, nullptr, Nested({Name(path)})), APL_ERR_DOMAIN);
}

TEST_F(FileQueries, ExistAndRemove) {
    const std::string path = MakeFile("doomed", "abc");
    EXPECT_EQ(IntOf(APL_FileExist(nullptr, nullptr, Name(path))), 1);
    Succeeds(APL_FileRemove(nullptr, nullptr, Name(path)));
    EXPECT_FALSE(std::filesystem::exists(path));
    SetPendingOsError(EIO);
    EXPECT_EQ(IntOf(APL_FileExist(nullptr, nullptr, Name(path))), 0);
    EXPECT_EQ(pendingOsError, 0);
    Fails(APL_FileRemove(nullptr, nullptr, Name(path)), APL_ERR_FILEIO);
    EXPECT_EQ(pendingOsError, ENOENT);
    Fails(APL_FileRemove(nullptr, nullptr, APL_Int(1)), APL_ERR_DOMAIN);
    Fails(APL_FileExist(nullptr, nullptr, Chars("ab", {1, 2})), APL_ERR_RANK);
}

TEST_F(FileQueries, DirectoryIsNeitherSizedNorReadNorRemoved) {
    const std::string sub = dir_.file("sub");
    std::filesystem::create_directory(sub);
    Fails(APL_FileSize(nullptr, nullptr, Name(sub)), APL_ERR_FILEIO);
    EXPECT_EQ(pendingOsError, EISDIR);
    Fails(APL_FileRead(nullptr, nullptr, Name(sub)), APL_ERR_FILEIO);
    Fails(APL_FileRead(nullptr, nullptr, Nested({Name(sub), APL_Int(0), APL_Int(4)})), APL_ERR_FILEIO);
    Fails(APL_FileRemove(nullptr, nullptr, Name(sub)), APL_ERR_FILEIO);
    EXPECT_TRUE(std::filesystem::is_directory(sub));
    Fails(APL_FileTie(nullptr, nullptr, Name(sub)), APL_ERR_FILEIO);
}

using NativeWrite = NativeFiles;

TEST_F(NativeWrite, NamedFilesAreReplacedAndTiesWrittenWhereTheyStand) {
    const std::string path = MakeFile("out", "a much longer old content");
    Succeeds(APL_FileWrite(nullptr, Chars("new"), Name(path)));
    EXPECT_EQ(ReadFile(path), "new");
    Succeeds(APL_FileWrite(nullptr, Chars("abcdef", {2, 3}), Name(dir_.file("fresh"))));
    EXPECT_EQ(ReadFile(dir_.file("fresh")), "abcdef");
    const int32_t tie = Tie(MakeFile("t", "0123456789"));
    EXPECT_EQ(Read(Ints({tie, 4})), "0123");
    Succeeds(APL_FileWrite(nullptr, Chars("ab"), APL_Int(tie)));
    EXPECT_EQ(ReadFile(dir_.file("t")), "0123ab6789");  // flushed
    EXPECT_EQ(Read(Ints({tie, 2})), "67");
}

TEST_F(NativeWrite, ErrorsComeInOrderAndFailedWritesAreFileErrorsAtTheCall) {
    const std::string path = MakeFile("keep", "kept");
    Fails(APL_FileWrite(nullptr, nullptr, Nested({Name(path)})), APL_ERR_DOMAIN);
    Fails(APL_FileWrite(nullptr, nullptr, Name(path)), APL_ERR_VALENCE);
    Fails(APL_FileWrite(nullptr, Ints({65}), Name(path)), APL_ERR_DOMAIN);
    Fails(APL_FileWrite(nullptr, Nested({Chars("ab")}), Name(path)), APL_ERR_DOMAIN);
    Fails(APL_FileWrite(nullptr, Chars("ab"), Ints({1, 2})), APL_ERR_LENGTH);
    Fails(APL_FileWrite(nullptr, Chars("ab"), APL_Int(kMaxTies)), APL_ERR_FILEIO);
    Fails(APL_FileWrite(nullptr, Chars("ab"), Name(dir_.file("no/such/dir"))), APL_ERR_FILEIO);
    EXPECT_EQ(ReadFile(path), "kept");
    Fails(APL_FileWrite(nullptr, Chars("abc"), Name("/dev/full")), APL_ERR_FILEIO);
    EXPECT_EQ(pendingOsError, ENOSPC);
    const int32_t tie = Tie("/dev/full");
    SetPendingOsError(0);
    Fails(APL_FileWrite(nullptr, Chars("abc"), APL_Int(tie)), APL_ERR_FILEIO);
    EXPECT_EQ(pendingOsError, ENOSPC);
}

using NativeAppend = NativeFiles;

TEST_F(NativeAppend, EveryFormOfTarget) {
    const std::string path = MakeFile("log", "0123456789");
    Succeeds(APL_FileAppend(nullptr, Chars("AB"), Name(path)));
    EXPECT_EQ(ReadFile(path), "0123456789AB");
    const int32_t tie = Tie(path);
    auto flush = [tie] { Succeeds(APL_FileFlush(nullptr, nullptr, APL_Int(tie))); };
    EXPECT_EQ(Read(Ints({tie, 2})), "01");
    Succeeds(APL_FileAppend(nullptr, Chars("CD"), APL_Int(tie)));  // the end, not the tie's position
    flush();
    EXPECT_EQ(ReadFile(path), "0123456789ABCD");
    Succeeds(APL_FileAppend(nullptr, Chars("xy"), Shorts({static_cast<int16_t>(tie), 1})));
    flush();
    EXPECT_EQ(ReadFile(path), "0xy3456789ABCD");
    Succeeds(APL_FileAppend(nullptr, Chars("Q"), Nested({Name(path), APL_Int(5)})));
    EXPECT_EQ(ReadFile(path), "0xy34Q6789ABCD");
    Succeeds(APL_FileAppend(nullptr, Chars("R"), Nested({APL_Int(tie), Reals({7}, {})})));
    flush();
    EXPECT_EQ(ReadFile(path), "0xy34Q6R89ABCD");
}

TEST_F(NativeAppend, ErrorsAndFailedWritesReportedAtTheCallThatFailed) {
    const std::string path = MakeFile("data", "0123");
    Fails(APL_FileAppend(nullptr, Chars("a"), Nested({Name(path), APL_Int(0), APL_Int(0)})), APL_ERR_LENGTH);
    Fails(APL_FileAppend(nullptr, Chars("a"), Nested({Name(path), APL_Int(0)}, {2, 1})), APL_ERR_LENGTH);
    Fails(APL_FileAppend(nullptr, Chars("a"), Ints({1, 2, 3})), APL_ERR_LENGTH);
    Fails(APL_FileAppend(nullptr, nullptr, Name(path)), APL_ERR_VALENCE);
    Fails(APL_FileAppend(nullptr, Reals({1.5}), Name(path)), APL_ERR_DOMAIN);
    Fails(APL_FileAppend(nullptr, Chars("a"), Nested({Name(path), Reals({2.5}, {})})), APL_ERR_DOMAIN);
    Fails(APL_FileAppend(nullptr, Chars("a"), Nested({Name(path), APL_Int(-1)})), APL_ERR_FILEIO,
          "Position out of range");
    Fails(APL_FileAppend(nullptr, Chars("a"), Name(dir_.file("missing"))), APL_ERR_FILEIO);
    EXPECT_FALSE(std::filesystem::exists(dir_.file("missing")));
    EXPECT_EQ(ReadFile(path), "0123");
    Fails(APL_FileAppend(nullptr, Chars("abc"), Name("/dev/full")), APL_ERR_FILEIO);
    EXPECT_EQ(pendingOsError, ENOSPC);
    // A tie's buffered bytes fail here, once, not later at the untie.
    const int32_t tie = Tie("/dev/full");
    SetPendingOsError(0);
    Fails(APL_FileAppend(nullptr, Chars("abc"), APL_Int(tie)), APL_ERR_FILEIO);
    EXPECT_EQ(pendingOsError, ENOSPC);
    Succeeds(APL_FileUnTie(nullptr, nullptr, APL_Int(tie)));
}

using NativeRead = NativeFiles;

TEST_F(NativeRead, NamesAndTiesWithCountsAndStarts) {
    const std::string path = MakeFile("src", "0123456789");
    EXPECT_EQ(Read(Name(path)), "0123456789");
    EXPECT_EQ(Read(Name(MakeFile("empty", ""))), "");
    const int32_t tie = Tie(path);
    EXPECT_EQ(Read(Ints({tie, 3})), "012");
    EXPECT_EQ(Read(Ints({tie, 3})), "345");       // on from where the tie stands
    EXPECT_EQ(Read(APL_Int(tie)), "0123456789");  // the whole file from its start
    EXPECT_EQ(Read(Ints({tie, 6, 2})), "67");
    EXPECT_EQ(Read(Ints({tie, 2})), "89");
    EXPECT_EQ(Read(Nested({Name(path), APL_Int(4)})), "0123");
    EXPECT_EQ(Read(Nested({Name(path), APL_Int(5), APL_Int(3)})), "567");
    EXPECT_EQ(Read(Nested({APL_Int(tie), APL_Int(1), APL_Int(2)})), "12");
    EXPECT_EQ(Read(Nested({APL_Int(tie), APL_Int(2)})), "34");
    EXPECT_EQ(Read(Reals({static_cast<double>(tie), 2.00000000000001, 1})), "2");
    EXPECT_EQ(Read(Shorts({static_cast<int16_t>(tie), 0, 1})), "0");
    EXPECT_EQ(Read(Ints({tie, 0, 0})), "");
    Succeeds(nullptr);
}

TEST_F(NativeRead, ShortReadWarnsAndReturnsWhatWasThere) {
    const std::string path = MakeFile("src", "0123456789");
    const int32_t tie = Tie(path);
    EXPECT_EQ(Read(Ints({tie, 7, 10})), "789");
    Succeeds(nullptr, "WARNING: only 3 of 10 bytes read.");
    // A count far beyond the file costs no room for it.
    EXPECT_EQ(Read(Nested({Name(path), APL_Int(8), APL_Int(INT32_MAX)})), "89");
    Succeeds(nullptr, "WARNING: only 2 of 2147483647 bytes read.");
    EXPECT_EQ(Read(Ints({tie, 50, 4})), "");
    Succeeds(nullptr, "WARNING: only 0 of 4 bytes read.");
}

TEST_F(NativeRead, PieceMatrixReadsRangesAndFillsZeros) {
    const std::string path = MakeFile("src", "0123456789");
    aplarray *pieces = Ints({0, 2, 2, 3, 99, -3, 8, 2, 1, 1}, {5, 2});
    EXPECT_EQ(Read(Nested({Name(path), pieces})), std::string("01234\0\0\0"
                                                              "891",
                                                              11));
    const int32_t tie = Tie(path);
    EXPECT_EQ(Read(Nested({APL_Int(tie), Ints({}, {0, 2})})), "");
    Succeeds(nullptr);
    // Adjoining rows are read as one range: the warning counts the range.
    Fails(APL_FileRead(nullptr, nullptr, Nested({APL_Int(tie), Ints({4, 4, 8, 4}, {2, 2})})), APL_ERR_FILEIO,
          "WARNING: only 6 of 8 bytes read.");
    Fails(APL_FileRead(nullptr, nullptr, Nested({Name(path), Ints({-1, 2}, {1, 2})})), APL_ERR_DOMAIN);
    Fails(APL_FileRead(nullptr, nullptr, Nested({Name(path), Ints({0, 1, 2}, {1, 3})})), APL_ERR_LENGTH);
    Fails(APL_FileRead(nullptr, nullptr, Nested({Name(path), Chars("ab", {1, 2})})), APL_ERR_DOMAIN);
}

TEST_F(NativeRead, ArgumentErrors) {
    const std::string path = MakeFile("src", "0123456789");
    const int32_t tie = Tie(path);
    const std::pair<aplarray *, int32_t> cases[] = {
        {Ints({tie, -1, 2}), APL_ERR_DOMAIN},
        {Ints({tie, -2}), APL_ERR_DOMAIN},
        {Nested({Name(path), APL_Int(-1), APL_Int(1)}), APL_ERR_DOMAIN},
        {Reals({static_cast<double>(tie), 0.5}), APL_ERR_DOMAIN},
        {Ints({tie, 0, 1, 2}), APL_ERR_LENGTH},
        {Ints({}), APL_ERR_LENGTH},
        {Nested({Name(path)}), APL_ERR_LENGTH},
        {Nested({Name(path), APL_Int(1), APL_Int(1), APL_Int(1)}), APL_ERR_LENGTH},
        {Nested({Ints({tie, tie}), APL_Int(1)}), APL_ERR_LENGTH},
        {Nested({Name(path), Ints({1, 2})}), APL_ERR_LENGTH},
        {Ints({tie, 1}, {1, 2}), APL_ERR_RANK},
        {Nested({Name(path), APL_Int(1)}, {2, 1}), APL_ERR_RANK},
        {APL_Int(tie + 1), APL_ERR_FILEIO},
    };
    for (const auto &[right, error] : cases) Fails(APL_FileRead(nullptr, nullptr, right), error);
    SetPendingOsError(0);
    Fails(APL_FileRead(nullptr, nullptr, Name(dir_.file("missing"))), APL_ERR_FILEIO);
    EXPECT_EQ(pendingOsError, ENOENT);
}

}  // namespace
