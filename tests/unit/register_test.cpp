// Registration: the default handler of a missing primitive, and plug-ins
// loaded through callbacks 7-9 (fakes, and the sample plug-in).
#include "support.h"

#include "core/callbacks.h"
#include "core/primitives.h"
#include "core/symtab.h"
#include "system/platform.h"
#include "system/register.h"

#include "testos.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string Quad(const char *letters) { return std::string(1, static_cast<char>(glyph::kQuad)) + letters; }
const aplsymbol *Find(const std::string &name) {
    const uint16_t i = LookupName(name);
    return i < APL_symtab.count ? &Symbol(i) : nullptr;
}
void *Address(aplfunction f) { return reinterpret_cast<void *>(f); }

aplarray *Hello(aplarray *, aplarray *, aplarray *) { return APL_String("hello"); }

// Every registry starts empty and the tables get their old contents back
// afterwards, so that other tests in the same process see no difference. The
// symbol table is destroyed instead: its capacity lives outside the record.
class Registry : public LibraryTest {
protected:
    void SetUp() override {
        saved_ = {primitiveTables, systemFunctions, plugins, {}};
        primitiveTables = PrimitiveTables{};
        InitPrimitiveTables();
        systemFunctions = SystemFunctionTable{};
        DestroySymbolTable();
        ResetPluginTable();
        for (int slot = 7; slot <= 9; ++slot) {
            saved_.slots[slot - 7] = CallbackFunction(slot);
            APL_Callback(slot, nullptr);
        }
        LibraryTest::SetUp();
    }
    void TearDown() override {
        InitPrimitiveTables();
        ResetSystemFunctionTable();
        DestroySymbolTable();
        for (int slot = 7; slot <= 9; ++slot) APL_Callback(slot, saved_.slots[slot - 7]);
        LibraryTest::TearDown();
        primitiveTables = saved_.primitives;
        systemFunctions = saved_.side;
        plugins = saved_.plugins;
    }

private:
    struct {
        PrimitiveTables primitives;
        SystemFunctionTable side;
        PluginTable plugins;
        void *slots[3];
    } saved_;
};

using Primitives = Registry;

TEST_F(Primitives, MissingOnesSaySoAndReleaseTheirArguments) {
    RegisterBuiltins();
    primitiveTables.functions[7] = nullptr;  // never initialised: still the default
    primitiveTables.operators[7] = nullptr;
    primitiveTables.functions[43] = nullptr;  // a registered character without its function
    primitiveTables.operators[47] = nullptr;
    aplarray *twice = APL_Int(6);  // one temporary in two places is released once
    aplfnc operand{}, none{};
    aplarray *results[] = {
        PrimitiveFunction(43)(nullptr, APL_Int(1), APL_Int(2)),
        PrimitiveFunction('A')(nullptr, twice, twice),
        PrimitiveFunction(7)(nullptr, nullptr, APL_Int(1)),
        reinterpret_cast<aploperator>(PrimitiveOperator(47))(nullptr, nullptr, &operand, nullptr, &none, nullptr,
                                                             APL_Int(5)),
        reinterpret_cast<aploperator>(PrimitiveOperator(7))(nullptr, nullptr, &operand, nullptr, &none, nullptr,
                                                            nullptr),
    };
    for (aplarray *r : results) EXPECT_EQ(r, nullptr);
    EXPECT_EQ(aplerrno, APL_ERR_SYSTEM);
    EXPECT_STREQ(APL_error_message, "primitive Function not implemented !");
}

// ---- Plug-ins through fake callbacks: a handle is a FakeLibrary --------------------

struct FakeLibrary {
    std::string name;
    PluginStart start;
};
std::vector<FakeLibrary> fakes;
std::string pluginList;  // names ended by NUL
int loads = 0;
int32_t created = -1;

void ListFakes(char *buffer) { memcpy(buffer, pluginList.data(), pluginList.size()); }
void *LoadFake(const char *name) {
    ++loads;
    for (FakeLibrary &f : fakes)
        if (f.name == name) return &f;
    return nullptr;
}
void *FindInFake(void *handle, const char *name) {
    if (!strcmp(name, "ORBAX_StartPlugin")) return reinterpret_cast<void *>(static_cast<FakeLibrary *>(handle)->start);
    return !strcmp(name, "Hello") ? Address(Hello) : nullptr;
}
int32_t StartHello(void *info) {
    strcpy(static_cast<char *>(info), "hello plug-in");
    created = APL_CreateCommand(Quad("HELLO").c_str(), "Hello", 0x24);
    return 0;
}
int32_t StartDeclining(void *) { return 1; }
int32_t StartFaulting(void *) {
    volatile int *volatile nowhere = nullptr;
    *nowhere = 1;
    return 0;
}

class Plugins : public Registry {
protected:
    int Load(std::vector<FakeLibrary> libraries) {
        fakes = std::move(libraries);
        pluginList.clear();
        for (const FakeLibrary &f : fakes) pluginList += f.name + '\0';
        loads = 0;
        created = -1;
        APL_Callback(7, reinterpret_cast<void *>(ListFakes));
        APL_Callback(8, reinterpret_cast<void *>(LoadFake));
        APL_Callback(9, reinterpret_cast<void *>(FindInFake));
        return LoadPlugins();
    }
};

TEST_F(Plugins, AStartedPluginAddsItsCommand) {
    EXPECT_EQ(Load({{"absent", nullptr}, {"declining", StartDeclining}, {"hello", StartHello}}), 0);
    EXPECT_EQ(loads, 3);
    ASSERT_EQ(plugins.count, 1) << "the declining one is not counted";
    EXPECT_EQ(pluginRecords[0].start, StartHello) << "its record was used again";
    EXPECT_EQ(pluginRecords[0].handle, &fakes[2]);
    EXPECT_STREQ(reinterpret_cast<const char *>(pluginRecords[0].info), "hello plug-in");
    EXPECT_EQ(created, 0);
    ASSERT_NE(Find(Quad("HELLO")), nullptr);
    EXPECT_EQ(Find(Quad("HELLO"))->value, Address(Hello));
    EXPECT_EQ(Find(Quad("HELLO"))->kind, 0x24);
    EXPECT_EQ(Find(Quad("HELLO"))->kindHigh, 0x01);
    EXPECT_STREQ(FindCName(Hello), "Hello");
    // An address the table does not hold has no name, never another's.
    EXPECT_EQ(FindCName(APL_Add), nullptr);
}

TEST_F(Plugins, AFaultInAStartProcedureEndsTheLoadingButNotTheLibrary) {
    if (!FaultGuardActive()) GTEST_SKIP() << "the sanitizers own the fault signals in this build";
    EXPECT_EQ(Load({{"hello", StartHello}, {"faulting", StartFaulting}, {"never", StartDeclining}}), 0);
    EXPECT_EQ(CapturedOutput::Take(), "ERROR: Cannot load plugins!\n");
    EXPECT_EQ(loads, 2);
    EXPECT_EQ(plugins.count, 1);
    EXPECT_NE(Find(Quad("HELLO")), nullptr) << "plug-ins started before the fault stay";
    Load({{"hello", StartHello}});
    EXPECT_EQ(plugins.count, 2);
}

// ---- The sample plug-in, loaded as a host loads it -------------------------------------

#ifdef ORBAX_SAMPLE_PLUGIN
const char *const kSamplePlugin = ORBAX_SAMPLE_PLUGIN;
#else
const char *const kSamplePlugin = nullptr;
#endif
void ListSample(char *buffer) { strcpy(buffer, kSamplePlugin ? kSamplePlugin : ""); }
void *LoadWithDlopen(const char *name) { return testos::OpenLibrary(name); }
void *FindWithDlsym(void *handle, const char *name) { return testos::FindInLibrary(handle, name); }

using SamplePlugin = Registry;

TEST_F(SamplePlugin, AddsGetenvThroughDlopenAndDlsym) {
    if (!kSamplePlugin) GTEST_SKIP() << "built without ORBAX_SAMPLE_PLUGIN";
    APL_Callback(7, reinterpret_cast<void *>(ListSample));
    APL_Callback(8, reinterpret_cast<void *>(LoadWithDlopen));
    APL_Callback(9, reinterpret_cast<void *>(FindWithDlsym));
    ASSERT_EQ(LoadPlugins(), 0);
    ASSERT_EQ(plugins.count, 1) << testos::LibraryError();
    const aplsymbol *symbol = Find(Quad("GETENV"));
    ASSERT_NE(symbol, nullptr);
    EXPECT_EQ(symbol->kind + 256 * symbol->kindHigh, 0x124);
    const auto getenvFunction = reinterpret_cast<aplfunction>(symbol->value);
    EXPECT_STREQ(FindCName(getenvFunction), "ORBAX_GetEnv");
    const auto text = [&](const char *name) {
        aplarray *r = getenvFunction(nullptr, nullptr, APL_String(name));
        const std::string s = r ? std::string(DataOf<const char>(r), size_t(r->number)) : "(null)";
        APL_UnLinkTemp(r);
        return s;
    };
    testos::SetEnv("ORBAX_SAMPLE_TEST", "a value");
    EXPECT_EQ(text("ORBAX_SAMPLE_TEST"), "a value");
    testos::UnsetEnv("ORBAX_SAMPLE_TEST");
    EXPECT_EQ(text("ORBAX_SAMPLE_TEST"), "");
    EXPECT_EQ(getenvFunction(nullptr, APL_String("x"), APL_String("HOME")), nullptr);
    EXPECT_EQ(aplerrno, APL_ERR_SYNTAX);
    EXPECT_EQ(getenvFunction(nullptr, nullptr, APL_Int(1)), nullptr);
    EXPECT_EQ(aplerrno, APL_ERR_DOMAIN);
}

}  // namespace
