// Native files where the session cannot look: the tie's buffered stream and a
// missing right argument (the rest shows in the nfiles transcript).
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
    // A call without a result that must succeed; the message is cleared.
    static void Succeeds(aplarray *result, const char *message = "") { Fails(result, 0, message); }

    TempDir dir_;
};

using NativeTies = NativeFiles;

TEST_F(NativeTies, FlushMakesBufferedWritesVisible) {
    const std::string path = MakeFile("f", "");
    const int32_t tie = Tie(path);
    ASSERT_NE(TiedStream(tie), nullptr);
    fputs("buffered", TiedStream(tie));
    EXPECT_EQ(ReadFile(path), "");
    Succeeds(APL_FileFlush(nullptr, nullptr, APL_Int(tie)));
    EXPECT_EQ(ReadFile(path), "buffered");
}

// An axis or an unexpected left argument shows in the nfiles transcript; a
// missing right one only a caller of the interface can give.
TEST_F(NativeTies, AMissingRightArgumentIsSyntax) {
    for (aplfunction f : {APL_FileTie, APL_FileUnTie, APL_FileSize, APL_FileRemove, APL_FileFlush, APL_FileRead,
                          APL_FileExist, APL_FileWrite, APL_FileAppend})
        Fails(f(nullptr, nullptr, nullptr), APL_ERR_SYNTAX);
}

}  // namespace
