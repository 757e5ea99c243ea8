// register: the system functions with their names for generated code, the
// start-up registration of every built-in, and plug-ins. Relies on the symbol
// table, the primitive table and callback slots of core/, and the fault guard.
#include "system/register.h"

#include "core/arrays.h"
#include "core/callbacks.h"
#include "core/errors.h"
#include "core/primitives.h"
#include "core/symtab.h"
#include "system/platform.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

SystemFunctionTable systemFunctions;
PluginTable plugins = {0, -1};
PluginRecord pluginRecords[kMaxPlugins];

namespace {
using ListPluginsFn = void (*)(char *buffer);
using LoadLibraryFn = void *(*)(const char *name);
using FindProcedureFn = void *(*)(void *handle, const char *name);

// ---- The built-in system functions ----------------------------------------------
// One row per system function, in the order of registration. A system function
// that does not exist yet has nullptr and is left out.

struct SystemFunctionRow {
    const char *letters;  // the name after the quad
    uint16_t kind;
    aplfunction function;
    const char *cName;
};

constexpr SystemFunctionRow kSystemFunctions[] = {
    {"NTIE", 0x24, APL_FileTie, "FUNCTION(FileTie)"},
    {"NUNTIE", 0x24, APL_FileUnTie, "FUNCTION(FileUnTie)"},
    {"NSIZE", 0x24, APL_FileSize, "FUNCTION(FileSize)"},
    {"NREMOVE", 0x24, APL_FileRemove, "FUNCTION(FileRemove)"},
    {"NFLUSH", 0x24, APL_FileFlush, "FUNCTION(FileFlush)"},
    {"NREAD", 0x24, APL_FileRead, "FUNCTION(FileRead)"},
    {"NWRITE", 0x24, APL_FileWrite, "FUNCTION(FileWrite)"},
    {"NAPPEND", 0x24, APL_FileAppend, "FUNCTION(FileAppend)"},
    {"NEXIST", 0x24, APL_FileExist, "FUNCTION(FileExist)"},
    {"SH", 0x24, APL_SystemCall, "FUNCTION(SystemCall)"},
    {"IIO", 0x24, APL_ReadWrite, "FUNCTION(ReadWrite)"},
    {"IIOL", 0x24, APL_SerialLength, "FUNCTION(SerialLength)"},
    {"IIOS", 0x24, APL_Serialize, "FUNCTION(Serialize)"},
    {"FX", 0x24, APL_Fix, "FUNCTION(Fix)"},
    {"CR", 0x24, APL_CharRep, "FUNCTION(CharRep)"},
    {"VR", 0x24, APL_VectorRep, "FUNCTION(VectorRep)"},
    {"NC", 0x24, APL_NameClass, "FUNCTION(NameClass)"},
    {"NL", 0x24, APL_NameList, "FUNCTION(NameList)"},
    {"AT", 0x24, APL_Attributes, "FUNCTION(Attributes)"},
    {"EX", 0x24, APL_EraseItem, "FUNCTION(EraseItem)"},
    {"CONST", 0x24, APL_MakeConst, "FUNCTION(MakeConst)"},
    {"VAR", 0x24, APL_MakeVar, "FUNCTION(MakeVar)"},
    {"EA", 0x24, APL_ExecAlternate, "FUNCTION(ExecAlternate)"},
    {"DR", 0x24, APL_DataRep, "FUNCTION(DataRep)"},
    {"INTRN", 0x24, APL_Internal, "FUNCTION(Internal)"},
    {"EXTRN", 0x24, APL_Literal, "FUNCTION(Literal)"},
    {"HEAD", 0x24, APL_HeaderInfo, "FUNCTION(HeaderInfo)"},
    {"AF", 0x24, APL_Atomic, "FUNCTION(Atomic)"},
    {"ORBAX", 0x24, APL_Compile, "FUNCTION(Compile)"},
    {"TF", 0x24, APL_TransferFormat, "FUNCTION(TransferFormat)"},
    {"LIB", 0x24, APL_Directory, "FUNCTION(Directory)"},
    {"SHORT", 0x24, APL_ToShort, "FUNCTION(ToShort)"},
    {"BOOL", 0x24, APL_ToBool, "FUNCTION(ToBool)"},
    {"REAL", 0x24, APL_ToReal, "FUNCTION(ToReal)"},
    {"DISPLAY", 0x24, APL_PictDisplay, "FUNCTION(PictDisplay)"},
    {"LC", 0x25, APL_LineCount, "FUNCTION(LineCount)"},
    {"IC", 0x25, APL_IterationCount, "FUNCTION(IterationCount)"},
    {"TS", 0x25, APL_TimeStamp, "FUNCTION(TimeStamp)"},
    {"AI", 0x25, APL_AccountInfo, "FUNCTION(AccountInfo)"},
    {"MD", 0x25, APL_MemDebug, "FUNCTION(MemDebug)"},
};
static_assert(sizeof kSystemFunctions / sizeof kSystemFunctions[0] == 40);

// ---- Side table ------------------------------------------------------------------

constexpr size_t kAddressSize = sizeof(aplfunction);
constexpr size_t kKindSize = 2;

bool AppendSystemFunction(const char *name, const char *cName, aplfunction function, uint16_t kind) {
    const size_t nameBytes = strlen(name) + 1, cNameBytes = strlen(cName) + 1;
    const size_t entryBytes = nameBytes + cNameBytes + kAddressSize + kKindSize;
    if (entryBytes > UINT32_MAX - systemFunctions.size) return false;
    auto *bytes = static_cast<char *>(ReallocBlock(systemFunctions.bytes, systemFunctions.size + entryBytes, HERE));
    if (!bytes) return false;
    char *p = bytes + systemFunctions.size;
    memcpy(p, name, nameBytes);
    p += nameBytes;
    memcpy(p, cName, cNameBytes);
    p += cNameBytes;
    memcpy(p, &function, kAddressSize);
    p += kAddressSize;
    memcpy(p, &kind, kKindSize);
    systemFunctions.bytes = bytes;
    systemFunctions.size += static_cast<uint32_t>(entryBytes);
    return true;
}

}  // namespace

// ---- System functions ----------------------------------------------------------------

bool NextSystemFunction(uint32_t &offset, SystemFunctionEntry &entry) {
    if (offset >= systemFunctions.size) return false;
    const char *p = systemFunctions.bytes + offset;
    entry.name = p;
    p += strlen(p) + 1;
    entry.cName = p;
    p += strlen(p) + 1;
    memcpy(&entry.function, p, kAddressSize);
    p += kAddressSize;
    memcpy(&entry.kind, p, kKindSize);
    p += kKindSize;
    offset = static_cast<uint32_t>(p - systemFunctions.bytes);
    return true;
}

namespace {

// Every clear workspace registers the built-ins again. Recording each of those
// repetitions would grow the table by the whole list per CLEAR, and copying it
// on every append would make a long session's clears ever slower.
bool AlreadyRecorded(const char *name, const char *cName, aplfunction function, uint16_t kind) {
    uint32_t offset = 0;
    SystemFunctionEntry entry;
    while (NextSystemFunction(offset, entry))
        if (entry.function == function && entry.kind == kind && strcmp(entry.name, name) == 0 &&
            strcmp(entry.cName, cName) == 0)
            return true;
    return false;
}

}  // namespace

uint16_t RegisterSystemFunction(const char *name, int32_t kind, aplfunction function, const char *cName) {
    void *value = reinterpret_cast<void *>(function);
    const uint16_t index = DefineName(name, static_cast<int32_t>(strlen(name)), kind, &value);
    if (index == APL_symtab.count) return index;
    if (AlreadyRecorded(name, cName, function, static_cast<uint16_t>(kind))) return index;
    if (!AppendSystemFunction(name, cName, function, static_cast<uint16_t>(kind))) {
        SetError(APL_ERR_WSFULL);
        return APL_symtab.count;
    }
    return index;
}

bool ReregisterSystemFunctions() {
    uint32_t offset = 0;
    SystemFunctionEntry entry;
    while (NextSystemFunction(offset, entry)) {
        void *value = reinterpret_cast<void *>(entry.function);
        if (DefineName(entry.name, static_cast<int32_t>(strlen(entry.name)), entry.kind, &value) == APL_symtab.count)
            return false;
    }
    return true;
}

const char *FindCName(aplfunction function, uint16_t *kind) {
    uint32_t offset = 0;
    SystemFunctionEntry entry;
    while (NextSystemFunction(offset, entry))
        if (entry.function == function) {
            if (kind) *kind = entry.kind;
            return entry.cName;
        }
    return nullptr;
}

void ResetSystemFunctionTable() {
    FreeBlock(systemFunctions.bytes, HERE);
    systemFunctions = SystemFunctionTable{};
}

void RegisterBuiltins() {
    RegisterPrimitives();
    for (const SystemFunctionRow &row : kSystemFunctions) {
        if (!row.function) continue;
        char name[16];
        snprintf(name, sizeof name, "%c%s", static_cast<char>(glyph::kQuad), row.letters);
        RegisterSystemFunction(name, row.kind, row.function, row.cName);
    }
}

// ---- Plug-ins ----------------------------------------------------------------------------

namespace {

// Runs under the fault guard: whatever it owns lives in `list`, outside.
void StartPlugins(const char *list) {
    const auto load = reinterpret_cast<LoadLibraryFn>(CallbackFunction(kSlotLoadLibrary));
    const auto find = reinterpret_cast<FindProcedureFn>(CallbackFunction(kSlotFindProcedure));
    for (const char *name = list; *name && plugins.count < kMaxPlugins; name += strlen(name) + 1) {
        void *handle = load(name);
        if (!handle) continue;
        const auto start = reinterpret_cast<PluginStart>(find(handle, "ORBAX_StartPlugin"));
        if (!start) continue;
        PluginRecord &record = pluginRecords[plugins.count];
        record.start = start;
        record.handle = handle;
        plugins.current = plugins.count;
        // The plug-in fills a block of its own; ours is kept only when it says yes.
        unsigned char info[kPluginInfoSize] = {};
        if (start(info) == 0) {
            memcpy(record.info, info, sizeof info);
            ++plugins.count;
        }
    }
}

}  // namespace

int LoadPlugins() {
    const auto list = reinterpret_cast<ListPluginsFn>(CallbackFunction(kSlotListPlugins));
    if (!list || !CallbackFunction(kSlotLoadLibrary) || !CallbackFunction(kSlotFindProcedure)) return 1;
    auto *buffer = static_cast<char *>(AllocBlock(kPluginListSize, HERE));
    if (!buffer) return 2;
    memset(buffer, 0, kPluginListSize);
    const FaultReport report = RunGuarded([buffer, list] {
        list(buffer);
        // A list that fills the whole buffer still ends with an empty name.
        buffer[kPluginListSize - 2] = buffer[kPluginListSize - 1] = 0;
        StartPlugins(buffer);
    });
    if (report.faulted) WriteText("ERROR: Cannot load plugins!", true);
    FreeBlock(buffer, HERE);
    return 0;
}

void ResetPluginTable() {
    plugins.count = 0;
    plugins.current = -1;
}

// Returns 1 when the procedure is unknown, else 0 (also when the name could not
// be defined: the error is cleared).
extern "C" int32_t APL_CreateCommand(const char *name, const char *cName, int32_t kind) {
    const auto find = reinterpret_cast<FindProcedureFn>(CallbackFunction(kSlotFindProcedure));
    if (!find || !name || !cName || plugins.current < 0) return 1;
    void *procedure = find(pluginRecords[plugins.current].handle, cName);
    if (!procedure) return 1;
    // Whatever the plug-in asks for, its name becomes a system function (niladic
    // or not): any other kind would make the symbol table treat the address as
    // an array.
    const int32_t safeKind = (kind & APL_KIND_LABELBIT) | APL_KIND_SYSTEM | APL_KIND_FUNCTION | 0x100;
    const int32_t pending = aplerrno;
    RegisterSystemFunction(name, safeKind, reinterpret_cast<aplfunction>(procedure), cName);
    if (aplerrno && !pending) {
        aplerrno = 0;
        APL_error_message[0] = 0;
    }
    return 0;
}
