// Workspace files: the time lines of SAVE and LOAD, a failed SAVE that keeps
// the last good file, LOAD of damaged and hostile files (the old workspace
// survives, nothing leaks), and the workspace loaded at start-up.
#include "session_support.h"

#include "core/errors.h"
#include "core/symtab.h"
#include "interpreter/maininc.h"

#include "testos.h"

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string FileBytes(const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

uint32_t Word(const uint8_t *p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

class Workspaces : public SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        folder_ = fs::temp_directory_path() / ("orbax_ws_" + std::to_string(testos::ProcessId()));
        fs::create_directories(folder_);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
        SessionTest::TearDown();
    }
    std::string Path(const std::string &name) const { return (folder_ / name).string(); }

    // A saved workspace: a variable, a function with a label and a changed PP.
    std::string SaveBase() {
        RunLines({A("KEEP←'old'"), A("⎕FX 'Z←F X' 'L:Z←X+1'"), A("⎕PP←7"), ")SAVE " + Path("base")});
        return Path("base.kaz");
    }

    // Reads a workspace file, lets `edit` change the 4-item value, writes it
    // back under `name`.
    void Rewrite(const std::string &from, const std::string &name, const std::function<void(aplarray *)> &edit) {
        aplarray *value = APL_LinkEx(APL_ReadWrite(nullptr, nullptr, MakeString(from.c_str())), HERE);
        ASSERT_NE(value, nullptr);
        edit(value);
        APL_UnLinkTempEx(APL_ReadWrite(nullptr, value, MakeString(Path(name).c_str())), HERE);
        APL_UnLinkEx(value, HERE);
        ASSERT_EQ(aplerrno, 0);
    }

    // The entry bytes of the symbol named `name` in a workspace value.
    static uint8_t *EntryOf(aplarray *workspace, const std::string &name) {
        aplarray *table = ItemsOf(workspace)[0];
        const char *pool = DataOf<const char>(ItemsOf(workspace)[1]);
        for (int32_t i = 0; i < table->number / 12; ++i) {
            uint8_t *entry = DataOf<uint8_t>(table) + 12 * i;
            if (name == pool + Word(entry)) return entry;
        }
        return nullptr;
    }

    // The position of the name's value in item 3.
    static int32_t ValueIndexOf(aplarray *workspace, const std::string &name) {
        aplarray *table = ItemsOf(workspace)[0];
        const char *pool = DataOf<const char>(ItemsOf(workspace)[1]);
        int32_t next = 0;
        for (int32_t i = 0; i < table->number / 12; ++i) {
            const uint8_t *entry = DataOf<uint8_t>(table) + 12 * i;
            if (name == pool + Word(entry)) return next;
            const int kind = entry[4];
            if (Word(entry + 8) && (kind & 0x42) && (kind & 0x1F) != 0x03) ++next;
        }
        return -1;
    }

    static void Replace(aplarray **slot, aplarray *value) {
        aplarray *old = *slot;
        *slot = APL_LinkEx(value, HERE);
        APL_UnLinkEx(old, HERE);
    }

    // Loading `name` fails with the message `why` and changes nothing.
    void ExpectRefused(const std::string &name, const std::string &why) {
        RunLines({")CLEAR", A("MINE←'current'"), ")WSID before"});
        const std::string output = RunLines({")LOAD " + Path(name), "MINE", ")WSID", A("⎕NC 'KEEP'")});
        EXPECT_NE(output.find("SYSTEM COMMAND ERROR\n"), std::string::npos) << why << "\n" << output;
        EXPECT_NE(output.find(why), std::string::npos) << why << "\n" << output;
        EXPECT_NE(output.find("current\nbefore\n0\n"), std::string::npos) << why << "\n" << output;
    }

    fs::path folder_;
};

TEST_F(Workspaces, TheSaveTimeReadsAsTheLocalTime) {
    // The epoch, leap days, the ends of months and years, a time of day.
    const int64_t moments[] = {0, 951782400, 951868799, 1709164800, 1704067199, 1735689600, 1765012345, 2147483647};
    for (int64_t moment : moments) {
        const time_t t = static_cast<time_t>(moment);
        struct tm local {};
        ASSERT_NE(localtime_r(&t, &local), nullptr);
        char expected[64];
        // %e (a day padded with a blank) is unknown to the Windows C library.
        strftime(expected, sizeof expected, "%a %b %d %H:%M:%S %Y", &local);
        if (expected[8] == '0') expected[8] = ' ';
        EXPECT_EQ(SaveTimeText(static_cast<uint32_t>(moment + 3600)), expected) << moment;
    }
}

TEST_F(Workspaces, TheSaveTimeIsAnUnsignedWordPastTheSignBit) {
    // 2040 is beyond a signed 32-bit count of seconds plus the hour offset.
    const uint32_t stored = 2208988800u + 3600u;
    EXPECT_EQ(SaveTimeText(stored).size(), 24u);
    EXPECT_TRUE(std::regex_search(SaveTimeText(stored), std::regex(" 20(39|40)$"))) << SaveTimeText(stored);
    // The word written is the clock (plus the hour offset) at some moment
    // between the readings taken before and after the save.
    const uint64_t before = static_cast<uint64_t>(time(nullptr)) + 3600;
    const std::string base = SaveBase();
    const uint64_t after = static_cast<uint64_t>(time(nullptr)) + 3600;
    const std::string bytes = FileBytes(base);
    ASSERT_GT(bytes.size(), 4u);
    const uint32_t written = Word(reinterpret_cast<const uint8_t *>(bytes.data() + bytes.size() - 4));
    EXPECT_GE(written, before);
    EXPECT_LE(written, after);
}

TEST_F(Workspaces, AFailedSaveKeepsTheLastGoodFile) {
    const std::string base = SaveBase();
    const std::string good = FileBytes(base);
    ASSERT_FALSE(good.empty());
    // A value nested deeper than the file format allows cannot be written.
    aplarray *deep = MakeInt(1);
    const int32_t one = 1;
    for (int i = 0; i < kMaxNestingDepth + 2; ++i) {
        aplarray *outer = AllocArray(APL_NESTEDARRAY | APL_TEMP, 1, APL_NESTED, &one, HERE);
        ASSERT_NE(outer, nullptr);
        ItemsOf(outer)[0] = APL_LinkEx(deep, HERE);
        deep = outer;
    }
    RunLines({A("DEEP←0")});
    SetSymbolValue(LookupName("DEEP"), deep);
    const std::string output = RunLines({")SAVE", A("⎕EX 'DEEP'")});
    EXPECT_EQ(output.find("saved at"), std::string::npos) << output;
    EXPECT_NE(output.find("ERROR"), std::string::npos) << output;
    EXPECT_EQ(FileBytes(base), good);
    for (const auto &entry : fs::directory_iterator(folder_))
        EXPECT_EQ(entry.path().filename(), "base.kaz") << "a temporary file was left behind";
}

// An infinity or NaN would make the file unloadable: SAVE refuses it and
// keeps the last good file; the extremes of the doubles save and load.
TEST_F(Workspaces, SaveWritesOnlyNumbersThatLoadReads) {
    const std::string base = SaveBase();
    const std::string good = FileBytes(base);
    const double extremes[] = {1.7976931348623157e308, -4.9406564584124654e-324, -0.0, 2.2250738585072014e-308};
    const double refused[] = {HUGE_VAL, -HUGE_VAL, NAN};
    auto realVector = [](const double *values, int32_t n) {
        aplarray *v = AllocArray(APL_SIMPLE | APL_TEMP, 1, APL_REAL, &n, HERE);
        memcpy(DataOf<double>(v), values, sizeof(double) * static_cast<size_t>(n));
        return v;
    };
    for (const double bad : refused) {
        RunLines({A("V←0")});
        SetSymbolValue(LookupName("V"), realVector(&bad, 1));
        const std::string output = RunLines({")SAVE"});
        EXPECT_NE(output.find("DOMAIN ERROR : Infinity or NaN cannot be written"), std::string::npos) << output;
        EXPECT_EQ(FileBytes(base), good);
    }
    RunLines({A("V←0")});
    SetSymbolValue(LookupName("V"), realVector(extremes, 4));
    const std::string output =
        RunLines({")SAVE", ")CLEAR", ")LOAD " + Path("base"),
                  A("V≡1.7976931348623157E308 ¯4.9406564584124654E¯324 0 2.2250738585072014E¯308")});
    EXPECT_NE(output.find("saved at"), std::string::npos) << output;
    EXPECT_EQ(output.substr(output.size() - 2), "1\n") << output;
}

TEST_F(Workspaces, DamagedFilesAreRefusedAndTheOldWorkspaceStays) {
    const std::string base = SaveBase();
    Rewrite(base, "outside.kaz", [](aplarray *ws) { memset(EntryOf(ws, "KEEP"), 0xFF, 4); });
    ExpectRefused("outside", "name outside the pool");
    Rewrite(base, "kind.kaz", [](aplarray *ws) { EntryOf(ws, "KEEP")[4] = 0x66; });
    ExpectRefused("kind", "unknown kind of name");
    Rewrite(base, "twice.kaz", [](aplarray *ws) { memcpy(EntryOf(ws, "KEEP"), EntryOf(ws, "F"), 4); });
    ExpectRefused("twice", "name entered twice");
    Rewrite(base, "few.kaz", [](aplarray *ws) {
        aplarray *values = ItemsOf(ws)[2];
        const int32_t n = values->number - 1;
        aplarray *fewer = AllocArray(APL_NESTEDARRAY | APL_TEMP, 1, APL_NESTED, &n, HERE);
        for (int32_t i = 0; i < n; ++i) ItemsOf(fewer)[i] = APL_LinkEx(ItemsOf(values)[i], HERE);
        Replace(&ItemsOf(ws)[2], fewer);
    });
    ExpectRefused("few", "too few or too many values");
    Rewrite(base, "many.kaz", [](aplarray *ws) {
        const int32_t bytes = 12 * 65535;
        aplarray *table = AllocArray(APL_SIMPLE | APL_TEMP, 1, APL_CHAR, &bytes, HERE);
        memset(DataOf(table), 0, static_cast<size_t>(bytes));
        Replace(&ItemsOf(ws)[0], table);
    });
    ExpectRefused("many", "too many names");
    Rewrite(base, "time.kaz", [](aplarray *ws) { Replace(&ItemsOf(ws)[3], MakeString("abc")); });
    ExpectRefused("time", "save time");
}

TEST_F(Workspaces, LoadedSystemVariablesPassTheirChecks) {
    const std::string base = SaveBase();
    Rewrite(base, "pp.kaz", [](aplarray *ws) {
        Replace(&ItemsOf(ItemsOf(ws)[2])[ValueIndexOf(ws, A("⎕PP"))], MakeInt(1000));
        // Marked as a plain variable, it still passes the check.
        EntryOf(ws, A("⎕PP"))[4] = APL_KIND_VARIABLE;
        Replace(&ItemsOf(ItemsOf(ws)[2])[ValueIndexOf(ws, A("⎕IO"))], MakeInt(0));
    });
    const std::string output = RunLines({")LOAD " + Path("pp"), A("⎕PP"), A("⎕IO"), A("÷3"), "KEEP"});
    // The refused PP keeps its default; the acceptable IO comes in.
    EXPECT_NE(output.find("saved at"), std::string::npos) << output;
    EXPECT_NE(output.find("\n6\n0\n0.333333\nold\n"), std::string::npos) << output;
}

TEST_F(Workspaces, StartUpLoadsTheWorkspaceAndRunsItsLatentExpression) {
    RunLines({A("⎕LX←'''hello from '',⍕N'"), A("N←42"), ")SAVE " + Path("start")});
    CapturedOutput::Take();
    APL_Init(0, Path("start").c_str());
    const std::string started = CapturedOutput::Take();
    EXPECT_NE(started.find("saved at"), std::string::npos) << started;
    EXPECT_NE(started.find("hello from 42"), std::string::npos) << started;
    EXPECT_EQ(Run("N"), "42\n");
    EXPECT_STREQ(APL_workspaceID, Path("start").c_str());
}

TEST_F(Workspaces, AFailedStartUpLoadLeavesAClearWorkspace) {
    std::ofstream(Path("broken.kaz"), std::ios::binary) << "not a workspace at all";
    APL_Init(0, Path("broken").c_str());
    const std::string started = CapturedOutput::Take();
    EXPECT_NE(started.find("FILE I/O ERROR"), std::string::npos) << started;
    // A SAVE now must not overwrite the file that failed to load.
    EXPECT_STREQ(APL_workspaceID, "CLEAR WS");
    EXPECT_EQ(Run(")SAVE"), "NOT SAVED\n");
    EXPECT_EQ(FileBytes(Path("broken.kaz")), "not a workspace at all");
}

}  // namespace
