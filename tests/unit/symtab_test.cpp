// The symbol table: name syntax and order, the redefinition rules, system
// variables and their defaults, EM, the size limit and the constant pool.
#include "support.h"

#include "core/errors.h"
#include "core/symtab.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

std::string Quad(const char *letters) { return std::string(1, static_cast<char>(glyph::kQuad)) + letters; }

uint16_t Define(const std::string &name, int kind, void *value) {
    return DefineName(name.data(), static_cast<int32_t>(name.size()), kind, &value);
}

std::string Text(const aplarray *a) { return std::string(DataOf<const char>(a), static_cast<size_t>(a->number)); }

// A workspace with the system variables, torn down before the block count is checked.
class SymbolTable : public WorkspaceTest {
protected:
    void TearDown() override {
        ResetConstantPool();
        WorkspaceTest::TearDown();
    }
};

TEST_F(SymbolTable, NameSyntax) {
    const std::vector<std::string> good = {"A",
                                           "abc",
                                           "X1",
                                           "a_b",
                                           "\x91x",
                                           "\x8fy",
                                           "\xb8",
                                           Quad("IO"),
                                           "\x8d",
                                           "A\xaf"
                                           "1",
                                           "Z\x91\x8f"};
    const std::vector<std::string> bad = {"",
                                          "1abc",
                                          "_x",
                                          "a b",
                                          "a" + Quad("IO"),
                                          "\xaf"
                                          "1",
                                          "a.b",
                                          "a\x8d"};
    for (const std::string &n : good) EXPECT_TRUE(IsValidName(n.data(), static_cast<int32_t>(n.size()))) << n;
    for (const std::string &n : bad) EXPECT_FALSE(IsValidName(n.data(), static_cast<int32_t>(n.size()))) << n;
}

TEST_F(SymbolTable, BadNameIsSyntaxWithTheNameInTheMessage) {
    const uint16_t count = APL_symtab.count;
    aplarray *value = APL_Link(APL_Int(1));
    EXPECT_EQ(Define("1abc", APL_KIND_VARIABLE, value), count);
    EXPECT_EQ(aplerrno, APL_ERR_SYNTAX);
    EXPECT_STREQ(APL_error_message, "Illegal symbol name '1abc' !");
    EXPECT_EQ(APL_symtab.count, count);
    APL_UnLink(value);
}

TEST_F(SymbolTable, AddSymbolKeepsAnExistingNameWhenGivenNoValue) {
    aplarray *first = APL_Link(APL_Int(1));
    const uint16_t x = Define("X", APL_KIND_VARIABLE, first);
    void *none = nullptr;
    EXPECT_EQ(APL_AddSymbol("X", 1, APL_KIND_VARIABLE, &none), x);
    EXPECT_EQ(APL_Variable(x), first);

    void *second = APL_Link(APL_String("two"));
    EXPECT_EQ(APL_AddSymbol("Xextra", 1, APL_KIND_VARIABLE, &second), x);  // length 1: "X"
    EXPECT_EQ(APL_Variable(x), second);
    EXPECT_FALSE(IsLiveBlock(first));  // the old value was unlinked
    const uint16_t added = APL_AddSymbol("new", 3, APL_KIND_VARIABLE, &none);
    EXPECT_EQ(added, APL_symtab.count - 1);
    EXPECT_EQ(APL_Variable(APL_symtab.count - 1), nullptr);
    EXPECT_EQ(APL_Variable(APL_symtab.count), nullptr);
}

TEST_F(SymbolTable, RedefinitionRules) {
    aplarray *value = APL_Link(APL_Int(5));
    const uint16_t v = Define("V", APL_KIND_VARIABLE, value);
    aplarray *function = APL_Link(APL_String("fn"));
    EXPECT_EQ(Define("V", APL_KIND_USER | APL_KIND_FUNCTION, function), APL_symtab.count);
    EXPECT_EQ(aplerrno, APL_ERR_DEFN);
    EXPECT_EQ(APL_Variable(v), value);
    aplerrno = 0;

    const uint16_t f = Define("F", APL_KIND_USER | APL_KIND_FUNCTION, function);
    aplarray *other = APL_Link(APL_Int(6));
    EXPECT_EQ(Define("F", APL_KIND_VARIABLE, other), APL_symtab.count);
    EXPECT_EQ(aplerrno, APL_ERR_SYNTAX);
    aplerrno = 0;

    // A user function replaced by another gives up its old value.
    aplarray *newer = APL_Link(APL_String("fn2"));
    EXPECT_EQ(Define("F", APL_KIND_USER | APL_KIND_FUNCTION | APL_KIND_LABELBIT, newer), f);
    EXPECT_FALSE(IsLiveBlock(function));
    EXPECT_EQ(Symbol(f).kind, APL_KIND_USER | APL_KIND_FUNCTION | APL_KIND_LABELBIT);

    // A system function (not user-defined) is replaced without unlinking its address.
    void *address = reinterpret_cast<void *>(&APL_MemDebug);
    const uint16_t s = DefineName(Quad("XX").c_str(), 3, 0x25 | 0x100, &address);
    EXPECT_EQ(Symbol(s).kindHigh, 1);
    EXPECT_EQ(Define(Quad("XX"), 0x24, address), s);

    // A name whose entry is neither variable nor function is left as it is.
    const uint16_t odd = Define("Odd", APL_KIND_SYSTEM, address);
    EXPECT_EQ(Define("Odd", APL_KIND_VARIABLE, other), odd);
    EXPECT_EQ(Symbol(odd).kind, APL_KIND_SYSTEM);
    APL_UnLink(other);

    // An erased variable (no value) can become a function.
    SetSymbolValue(v, nullptr);
    aplarray *fn3 = APL_Link(APL_String("fn3"));
    EXPECT_EQ(Define("V", APL_KIND_USER | APL_KIND_FUNCTION, fn3), v);
}

TEST_F(SymbolTable, RecreatingKeepsASetValueAndFreesTheNewDefault) {
    SetSymbolValue(sys_IO_idx, APL_Int(0));
    const int32_t blocks = LiveBlocks();
    EXPECT_EQ(CreateSystemVariable(Quad("IO").c_str(), MakeInt(1)), sys_IO_idx);
    EXPECT_EQ(IndexOrigin(), 0);
    EXPECT_EQ(LiveBlocks(), blocks);
    const uint16_t before = APL_symtab.count;
    CreateSystemVariables(false);
    EXPECT_EQ(APL_symtab.count, before);
    EXPECT_EQ(IndexOrigin(), 0);
}

TEST_F(SymbolTable, ClearingRestoresTheDefaults) {
    SetSymbolValue(sys_PW_idx, APL_Int(120));
    SetSymbolValue(sys_IO_idx, APL_Int(0));
    PrintError(APL_ERR_INDEX);
    DestroySymbolTable();
    EXPECT_EQ(APL_symtab.count, 0);
    EXPECT_EQ(PrintWidth(), 79);  // the fallback while there is no table
    CreateSystemVariables(false);
    EXPECT_EQ(PrintWidth(), 79);
    EXPECT_EQ(IndexOrigin(), 1);
    EXPECT_EQ(Text(APL_Variable(sys_EM_idx)), "NO ERROR");
}

TEST_F(SymbolTable, ReportedErrorIsKeptInEM) {
    PrintError(APL_ERR_INDEX);
    EXPECT_EQ(Text(APL_Variable(sys_EM_idx)), "INDEX ");
    EXPECT_STREQ(APL_error_message, "");
    SetErrorVariable(42);
    EXPECT_EQ(Text(APL_Variable(sys_EM_idx)), "UNKNOWN ");
    EXPECT_EQ(APL_Variable(sys_EM_idx)->lnkcnt, 1);
}

TEST_F(SymbolTable, HoldsAtMost65534NamesThenWsFull) {
    DestroySymbolTable();
    char name[8];
    for (uint32_t i = 0; i < kMaxSymbols; ++i) {
        snprintf(name, sizeof name, "N%05u", i);
        ASSERT_EQ(Define(name, APL_KIND_VARIABLE, nullptr), i);
    }
    EXPECT_EQ(APL_symtab.count, 65534);
    EXPECT_EQ(Define("Zlast", APL_KIND_VARIABLE, nullptr), 65534);
    EXPECT_EQ(aplerrno, APL_ERR_WSFULL);
    aplerrno = 0;
    EXPECT_EQ(APL_symtab.count, 65534);
    EXPECT_EQ(LookupName("N00007", 6), 7);  // still usable
    EXPECT_EQ(LookupName("N65533", 6), 65533);
}

using ConstantPool = SymbolTable;

TEST_F(ConstantPool, IdenticalConstantsAreStoredOnce) {
    const int32_t a = PoolConstant(APL_String("hello"));
    const int32_t b = PoolConstant(APL_Int(7));
    const int32_t c = PoolConstant(APL_String("hello"));
    EXPECT_EQ(a, 0);
    EXPECT_EQ(c, a);
    EXPECT_NE(b, a);
    EXPECT_EQ(b % 4, 0);
    aplarray *hello = PooledConstant(a);
    EXPECT_EQ(hello->type & APL_STATIC, APL_STATIC);
    EXPECT_EQ(hello->lnkcnt, 1);
    EXPECT_EQ(std::string(DataOf<char>(hello), 5), "hello");
}

TEST_F(ConstantPool, OffsetsStayValidWhileThePoolGrows) {
    std::vector<int32_t> offsets;
    for (int i = 0; i < 500; ++i) offsets.push_back(PoolConstant(APL_Int(i)));
    for (int i = 0; i < 500; ++i) {
        int32_t value;
        memcpy(&value, DataOf(PooledConstant(offsets[i])), 4);
        EXPECT_EQ(value, i);
    }
    // Linking a pooled constant gives a managed copy; the pool keeps its own.
    aplarray *copy = APL_Link(PooledConstant(offsets[42]));
    EXPECT_EQ(copy->type & APL_STATIC, 0);
    EXPECT_EQ(*DataOf<int32_t>(copy), 42);
    APL_UnLink(copy);
}

TEST_F(ConstantPool, IntegersPooledAgainAreFoundInTheCurrentPoolOnly) {
    auto valueAt = [](int32_t offset) {
        int32_t value = -1;
        if (offset >= 0) memcpy(&value, DataOf(PooledConstant(offset)), 4);
        return value;
    };
    const int32_t seven = PoolInteger(7);
    EXPECT_EQ(PoolInteger(7), seven);
    EXPECT_EQ(PoolConstant(APL_Int(7)), seven);  // one record, whichever way it came
    EXPECT_EQ(valueAt(seven), 7);
    EXPECT_NE(PoolInteger(-7), seven);

    // A new pool: offset 0 now holds something else, and 7 must be pooled afresh.
    ResetConstantPool();
    EXPECT_EQ(PoolConstant(APL_String("xy")), 0);
    EXPECT_EQ(valueAt(PoolInteger(7)), 7);

    // A pool handed over and put back is another pool for the while.
    const ConstantPoolState outer = TakeConstantPool();
    EXPECT_EQ(PoolConstant(APL_String("abcdefgh")), 0);
    EXPECT_EQ(valueAt(PoolInteger(7)), 7);
    RestoreConstantPool(outer);
    EXPECT_EQ(valueAt(PoolInteger(7)), 7);
    EXPECT_EQ(std::string(DataOf<char>(PooledConstant(0)), 2), "xy");
}

TEST_F(ConstantPool, ConsumesItsArgumentAndRefusesNestedArrays) {
    aplarray *linked = APL_Link(APL_String("keep"));
    PoolConstant(APL_Link(linked));
    EXPECT_EQ(linked->lnkcnt, 1);
    aplarray *nested = AllocArray(APL_TEMP, 0, APL_NESTED, nullptr, HERE);
    ItemsOf(nested)[0] = APL_Link(APL_Int(1));
    EXPECT_EQ(PoolConstant(nested), -1);
    EXPECT_EQ(aplerrno, APL_ERR_DOMAIN);
    aplerrno = 0;
    APL_UnLink(linked);
}

}  // namespace
