// register: the host's callback slots and the session output channel, the
// per-character primitive tables, the system functions with their names for
// generated code, and plug-ins. Relies on the symbol table and the fault guard.
#include "system/register.h"

#include "core/arrays.h"
#include "core/errors.h"
#include "core/symtab.h"
#include "system/platform.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

PrimitiveTables primitiveTables;
SystemFunctionTable systemFunctions;
PluginTable plugins = {0, -1};
PluginRecord pluginRecords[kMaxPlugins];

namespace {
void *callbacks[kCallbackSlots + 1];

using WriteFn = void (*)(const char *text, int32_t newLine);
using NewLinesFn = void (*)(int32_t count);
using ListPluginsFn = void (*)(char *buffer);
using LoadLibraryFn = void *(*)(const char *name);
using FindProcedureFn = void *(*)(void *handle, const char *name);

// ---- The built-in tables ------------------------------------------------------
// One row per primitive and per system function, in the order of registration.
// A primitive or system function that does not exist yet has nullptr: the
// character then gets the default handler and the system function is left out.

// A primitive's entry point: a function or an operator.
struct Entry {
    aplfunction function = nullptr;
    aploperator op = nullptr;
    constexpr Entry(std::nullptr_t) {}
    constexpr Entry(aplfunction f) : function(f) {}
    constexpr Entry(aploperator o) : op(o) {}
};

struct PrimitiveRow {
    uint8_t code;
    uint16_t flags;
    Entry entry;
    const char *name;
};

constexpr PrimitiveRow kPrimitives[] = {
    { 46, 0x0010, nullptr, "APL_InnerProduct"},
    {240, 0x0008, nullptr, "APL_Rank"},
    {168, 0x0008, nullptr, "APL_Each"},
    { 47, 0x0008, nullptr, "APL_Reduce"},
    {154, 0x0008, nullptr, "APL_Reduce1"},
    { 92, 0x0008, nullptr, "APL_Scan"},
    {153, 0x0008, nullptr, "APL_Scan1"},
    {254, 0x0008, APL_Commute, "APL_Commute"},
    {189, 0x8004, APL_Shape, "APL_Shape"},
    {155, 0x0004, APL_Enclose, "APL_Enclose"},
    {133, 0x0004, APL_Jump, "APL_Jump"},
    {179, 0xc004, APL_Transpose, "APL_Transpose"},
    {156, 0xc004, nullptr, "APL_Disclose"},
    {134, 0xc004, APL_Take, "APL_Take"},
    {149, 0x0004, APL_Format, "APL_Format"},
    {150, 0x0004, APL_Execute, "APL_Execute"},
    { 47, 0x8004, APL_Replicate, "APL_Replicate"},
    {154, 0x8004, APL_Replicate1, "APL_Replicate1"},
    { 92, 0x0004, APL_Expand, "APL_Expand"},
    {153, 0x0004, APL_Expand1, "APL_Expand1"},
    {135, 0xc004, APL_Drop, "APL_Drop"},
    { 44, 0x4004, APL_Catenate, "APL_Catenate"},
    {147, 0x0004, nullptr, "APL_GradeUp"},
    {148, 0x0004, nullptr, "APL_GradeDown"},
    {188, 0x0004, APL_Interval, "APL_Interval"},
    {173, 0x0004, nullptr, "APL_Match"},
    {43, 0x3004, APL_Add, "APL_Add"},
    {45, 0x3004, APL_Sub, "APL_Sub"},
    {215, 0x3004, APL_Mul, "APL_Mul"},
    {151, 0x3004, APL_Max, "APL_Max"},
    {152, 0x3004, APL_Min, "APL_Min"},
    {124, 0x3004, APL_Residue, "APL_Residue"},
    {61, 0x3004, APL_Equal, "APL_Equal"},
    {60, 0x3004, APL_Lower, "APL_Lower"},
    {62, 0x3004, APL_Greater, "APL_Greater"},
    {137, 0x3004, APL_GEqual, "APL_GEqual"},
    {136, 0x3004, APL_LEqual, "APL_LEqual"},
    {172, 0x3004, APL_NEqual, "APL_NEqual"},
    {159, 0x3004, APL_Or, "APL_Or"},
    {139, 0x3004, APL_Nor, "APL_Nor"},
    {94, 0x3004, APL_And, "APL_And"},
    {138, 0x3004, APL_Nand, "APL_Nand"},
    {42, 0x3004, APL_Power, "APL_Power"},
    {181, 0x3004, APL_Logarithm, "APL_Logarithm"},
    {177, 0x3004, APL_Circle, "APL_Circle"},
    {247, 0x3004, APL_Division, "APL_Division"},
    {126, 0x1004, nullptr, "APL_Without"},
    { 63, 0x1004, nullptr, "APL_Roll"},
    {33, 0x3004, APL_Factorial, "APL_Factorial"},
    {178, 0xc004, APL_Rotate, "APL_Rotate"},
    {180, 0xc004, APL_Rotate1, "APL_Rotate1"},
    {185, 0x4004, nullptr, "APL_Element"},
    {130, 0x0004, nullptr, "APL_Decode"},
    {131, 0x0004, nullptr, "APL_Encode"},
    {142, 0x0004, nullptr, "APL_MatInverse"},
    {186, 0x0004, nullptr, "APL_Find"},
    {222, 0x8004, APL_Indexing, "APL_Indexing"},
    {164, 0x0004, nullptr, "APL_Dex"},
    {129, 0x0004, nullptr, "APL_Lev"},
    {176, 0x0004, nullptr, "APL_Jot"},
    {208, 0x0005, APL_EmptyVector, "APL_EmptyVector"},
    {146, 0x0004, APL_Control, "APL_Control"},
};
static_assert(sizeof kPrimitives / sizeof kPrimitives[0] == 62);

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
    {"SH", 0x24, nullptr, "FUNCTION(SystemCall)"},
    {"IIO", 0x24, APL_ReadWrite, "FUNCTION(ReadWrite)"},
    {"IIOL", 0x24, APL_SerialLength, "FUNCTION(SerialLength)"},
    {"IIOS", 0x24, APL_Serialize, "FUNCTION(Serialize)"},
    {"FX", 0x24, APL_Fix, "FUNCTION(Fix)"},
    {"CR", 0x24, APL_CharRep, "FUNCTION(CharRep)"},
    {"VR", 0x24, APL_VectorRep, "FUNCTION(VectorRep)"},
    {"NC", 0x24, nullptr, "FUNCTION(NameClass)"},
    {"NL", 0x24, nullptr, "FUNCTION(NameList)"},
    {"AT", 0x24, nullptr, "FUNCTION(Attributes)"},
    {"EX", 0x24, nullptr, "FUNCTION(EraseItem)"},
    {"CONST", 0x24, nullptr, "FUNCTION(MakeConst)"},
    {"VAR", 0x24, nullptr, "FUNCTION(MakeVar)"},
    {"EA", 0x24, nullptr, "FUNCTION(ExecAlternate)"},
    {"DR", 0x24, nullptr, "FUNCTION(DataRep)"},
    {"INTRN", 0x24, nullptr, "FUNCTION(Internal)"},
    {"EXTRN", 0x24, APL_Literal, "FUNCTION(Literal)"},
    {"HEAD", 0x24, nullptr, "FUNCTION(HeaderInfo)"},
    {"AF", 0x24, nullptr, "FUNCTION(Atomic)"},
    {"ORBAX", 0x24, nullptr, "FUNCTION(Compile)"},
    {"TF", 0x24, nullptr, "FUNCTION(TransferFormat)"},
    {"LIB", 0x24, nullptr, "FUNCTION(Directory)"},
    {"SHORT", 0x24, APL_ToShort, "FUNCTION(ToShort)"},
    {"BOOL", 0x24, APL_ToBool, "FUNCTION(ToBool)"},
    {"REAL", 0x24, APL_ToReal, "FUNCTION(ToReal)"},
    {"DISPLAY", 0x24, nullptr, "FUNCTION(PictDisplay)"},
    {"LC", 0x25, nullptr, "FUNCTION(LineCount)"},
    {"IC", 0x25, nullptr, "FUNCTION(IterationCount)"},
    {"TS", 0x25, nullptr, "FUNCTION(TimeStamp)"},
    {"AI", 0x25, nullptr, "FUNCTION(AccountInfo)"},
    {"MD", 0x25, APL_MemDebug, "FUNCTION(MemDebug)"},
};
static_assert(sizeof kSystemFunctions / sizeof kSystemFunctions[0] == 40);

// Releases the temporaries a call was given; the same one may stand twice.
void ReleaseArguments(aplarray *a, aplarray *b, aplarray *c) {
    APL_UnLinkTempEx(a, HERE);
    if (b != a) APL_UnLinkTempEx(b, HERE);
    if (c != a && c != b) APL_UnLinkTempEx(c, HERE);
}

void NotImplemented() { SetErrorText(APL_ERR_SYSTEM, "primitive Function not implemented !"); }

char *CopyName(const char *name) {
    const size_t length = strlen(name);
    auto *copy = static_cast<char *>(AllocBlock(length + 1, HERE));
    if (!copy) {
        fputs("Initializing primitive functions: Not enough memory!\n", stdout);
        fflush(stdout);
        exit(EXIT_FAILURE);
    }
    memcpy(copy, name, length + 1);
    return copy;
}

void Register(uint8_t code, uint16_t flags, aplfunction function, aploperator op, const char *name) {
    uint16_t &known = primitiveTables.flags[code];
    if (known & flags) return;
    known = static_cast<uint16_t>(known | flags | APL_FN_PRIMITIVE);
    // A monadic and a dyadic operator on one character do not share a bit: the
    // later one replaces the earlier, whose name copy is given back.
    if (flags & APL_FN_FUNCTION) {
        primitiveTables.functions[code] = function ? function : PrimitiveNotImplemented;
        FreeBlock(primitiveTables.functionNames[code], HERE);
        primitiveTables.functionNames[code] = CopyName(name);
    } else {
        primitiveTables.operators[code] = op ? op : OperatorNotImplemented;
        FreeBlock(primitiveTables.operatorNames[code], HERE);
        primitiveTables.operatorNames[code] = CopyName(name);
    }
}

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

// ---- Callbacks and output ----------------------------------------------------------

extern "C" int32_t APL_Callback(int32_t slot, void *function) {
    if (slot >= 1 && slot <= kCallbackSlots) callbacks[slot] = function;
    return 0;
}

void *CallbackFunction(int slot) {
    return slot >= 1 && slot <= kCallbackSlots ? callbacks[slot] : nullptr;
}

void WriteText(const char *text, bool newLine) {
    if (auto write = reinterpret_cast<WriteFn>(callbacks[kSlotWrite])) write(text, newLine ? 1 : 0);
}

void WriteLinef(const char *format, ...) {
    char line[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    WriteText(line, true);
}

void WriteNewLines(int count) {
    if (auto newLines = reinterpret_cast<NewLinesFn>(callbacks[kSlotNewLines])) {
        newLines(count);
        return;
    }
    for (int i = 0; i < count; ++i) WriteText("", true);
}

// ---- Primitives ----------------------------------------------------------------------

// Consumes temporary arguments; returns null with SYSTEM set.
aplarray *PrimitiveNotImplemented(aplarray *axis, aplarray *left, aplarray *right) {
    ReleaseArguments(axis, left, right);
    NotImplemented();
    return nullptr;
}

// Consumes temporary arguments; returns null with SYSTEM set.
aplarray *OperatorNotImplemented(aplarray *axis, aplarray *left, aplfnc *, aplarray *operandAxis, aplfnc *,
                                 aplarray *secondAxis, aplarray *right) {
    ReleaseArguments(axis, left, right);
    ReleaseArguments(operandAxis, secondAxis, nullptr);
    NotImplemented();
    return nullptr;
}

void InitPrimitiveTables() {
    for (int code = 0; code < 256; ++code) {
        FreeBlock(primitiveTables.functionNames[code], HERE);
        FreeBlock(primitiveTables.operatorNames[code], HERE);
        primitiveTables.functionNames[code] = primitiveTables.operatorNames[code] = nullptr;
        primitiveTables.functions[code] = PrimitiveNotImplemented;
        primitiveTables.operators[code] = OperatorNotImplemented;
        primitiveTables.flags[code] = 0;
    }
}

void RegisterPrimitive(uint8_t code, uint16_t flags, aplfunction function, const char *name) {
    Register(code, flags, function, nullptr, name);
}
void RegisterPrimitive(uint8_t code, uint16_t flags, aploperator function, const char *name) {
    Register(code, flags, nullptr, function, name);
}
void RegisterPrimitive(uint8_t code, uint16_t flags, std::nullptr_t, const char *name) {
    Register(code, flags, nullptr, nullptr, name);
}

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

uint16_t RegisterSystemFunction(const char *name, int32_t kind, aplfunction function, const char *cName) {
    void *value = reinterpret_cast<void *>(function);
    const uint16_t index = DefineName(name, static_cast<int32_t>(strlen(name)), kind, &value);
    if (index == APL_symtab.count) return index;
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
        if (DefineName(entry.name, static_cast<int32_t>(strlen(entry.name)), entry.kind, &value) ==
            APL_symtab.count)
            return false;
    }
    return true;
}

const char *FindCName(aplfunction function) {
    uint32_t offset = 0;
    SystemFunctionEntry entry;
    while (NextSystemFunction(offset, entry))
        if (entry.function == function) return entry.cName;
    return systemFunctions.bytes ? systemFunctions.bytes : "";
}

void ResetSystemFunctionTable() {
    FreeBlock(systemFunctions.bytes, HERE);
    systemFunctions = SystemFunctionTable{};
}

void RegisterBuiltins() {
    for (const PrimitiveRow &row : kPrimitives)
        Register(row.code, row.flags, row.entry.function, row.entry.op, row.name);
    for (const SystemFunctionRow &row : kSystemFunctions) {
        if (!row.function) continue;
        char name[16];
        snprintf(name, sizeof name, "%c%s", static_cast<char>(kQuad), row.letters);
        RegisterSystemFunction(name, row.kind, row.function, row.cName);
    }
}

// ---- Plug-ins ----------------------------------------------------------------------------

namespace {

// Runs under the fault guard: whatever it owns lives in `list`, outside.
void StartPlugins(const char *list) {
    const auto load = reinterpret_cast<LoadLibraryFn>(callbacks[kSlotLoadLibrary]);
    const auto find = reinterpret_cast<FindProcedureFn>(callbacks[kSlotFindProcedure]);
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
    const auto list = reinterpret_cast<ListPluginsFn>(callbacks[kSlotListPlugins]);
    if (!list || !callbacks[kSlotLoadLibrary] || !callbacks[kSlotFindProcedure]) return 1;
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
    const auto find = reinterpret_cast<FindProcedureFn>(callbacks[kSlotFindProcedure]);
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
