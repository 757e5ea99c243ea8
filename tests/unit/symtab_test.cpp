// The symbol table: name syntax, the redefinition rules, the size limit and
// the constant pool.
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
                                           "X10",
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

// The rest of the rules (a variable's name taking no function, a function's no
// value, an erased variable's a function) shows in functions_define.tr.
TEST_F(SymbolTable, RedefinitionRules) {
    // A user function replaced by another gives up its old value.
    aplarray *function = APL_Link(APL_String("fn"));
    const uint16_t f = Define("F", APL_KIND_USER | APL_KIND_FUNCTION, function);
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
    aplarray *other = APL_Link(APL_Int(6));
    const uint16_t odd = Define("Odd", APL_KIND_SYSTEM, address);
    EXPECT_EQ(Define("Odd", APL_KIND_VARIABLE, other), odd);
    EXPECT_EQ(Symbol(odd).kind, APL_KIND_SYSTEM);
    APL_UnLink(other);
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

TEST_F(ConstantPool, ManyDistinctConstantsAreEachStoredOnceAndFoundAgainAcrossAHandOver) {
    // Strings that share their first words, as the lines of a long function do.
    auto text = [](int i) { return APL_String(("a constant shared by all of them " + std::to_string(i)).c_str()); };
    std::vector<int32_t> offsets;
    for (int i = 0; i < 3000; ++i) offsets.push_back(PoolConstant(text(i)));
    const uint32_t size = ConstantPoolSize();
    // A pool as large in between, whose records lie where the outer's did.
    const ConstantPoolState outer = TakeConstantPool();
    EXPECT_EQ(PoolConstant(text(5)), 0);
    for (int i = 1; i < 3000; ++i) PoolConstant(text(-i));
    RestoreConstantPool(outer);
    for (int i = 2999; i >= 0; --i) EXPECT_EQ(PoolConstant(text(i)), offsets[static_cast<size_t>(i)]) << i;
    EXPECT_EQ(ConstantPoolSize(), size);
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
