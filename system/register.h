// register: the host's callback slots and the session output channel, the
// per-character primitive tables, the system functions with their names for
// generated code, and the plug-in libraries that add system functions.
#pragma once

#include "apl.h"

#include <cstddef>
#include <cstdint>

// ---- Callback slots and the output channel -----------------------------------

constexpr int kCallbackSlots = 10;

enum CallbackSlot {
    kSlotWrite = 1,
    kSlotNewLines = 2,
    kSlotReadLine = 3,
    kSlotWorkspaceName = 4,
    kSlotCopyFile = 5,
    kSlotMakeDirectory = 6,
    kSlotListPlugins = 7,
    kSlotLoadLibrary = 8,
    kSlotFindProcedure = 9,
    kSlotMaskFloatingPoint = 10
};

// The function stored in a slot (1 ... 10), or null.
void *CallbackFunction(int slot);

// Writes text through slot 1, ending the line when newLine is set.
void WriteText(const char *text, bool newLine);
// Writes one formatted line through slot 1.
void WriteLinef(const char *format, ...) __attribute__((format(printf, 1, 2)));
// Ends count lines through slot 2 (or slot 1 when slot 2 is not set).
void WriteNewLines(int count);

// ---- Primitive tables --------------------------------------------------------
// Indexed by the character code of the primitive's symbol. The flag bits are
// the APL_FN_ bits of apl.h (0x0800 marks a registered character).

struct PrimitiveTables {
    uint16_t flags[256];
    aplfunction functions[256];
    char *functionNames[256];  // raw blocks, null while nothing is registered
    aploperator operators[256];
    char *operatorNames[256];
};
extern PrimitiveTables primitiveTables;

// The handler of every character without a registered primitive: SYSTEM error
// with "primitive Function not implemented !" and null. Consumes temporary
// arguments, as any function does.
aplarray *PrimitiveNotImplemented(aplarray *axis, aplarray *left, aplarray *right);
aplarray *OperatorNotImplemented(aplarray *axis, aplarray *left, aplfnc *operand, aplarray *operandAxis,
                                 aplfnc *second, aplarray *secondAxis, aplarray *right);

// Default handlers everywhere, all flags zero, registered names freed.
void InitPrimitiveTables();
// Registers the primitive of a character unless its flags already hold any of
// the given bits (the first registration wins). Flags with APL_FN_FUNCTION go to
// the function tables, others to the operator tables; a null function stands
// for the default handler. Ends the process when the name cannot be copied.
void RegisterPrimitive(uint8_t code, uint16_t flags, aplfunction function, const char *name);
void RegisterPrimitive(uint8_t code, uint16_t flags, aploperator function, const char *name);
void RegisterPrimitive(uint8_t code, uint16_t flags, std::nullptr_t, const char *name);

// Never null: before InitPrimitiveTables has run an entry is still the default.
inline aplfunction PrimitiveFunction(uint8_t code) {
    const aplfunction function = primitiveTables.functions[code];
    return function ? function : PrimitiveNotImplemented;
}
// An aploperator, never null.
inline void *PrimitiveOperator(uint8_t code) {
    const aploperator op = primitiveTables.operators[code];
    return reinterpret_cast<void *>(op ? op : OperatorNotImplemented);
}
inline uint16_t PrimitiveFlags(uint8_t code) { return primitiveTables.flags[code]; }
// Registered names ("APL_Shape"), null for an unregistered character.
inline const char *PrimitiveFunctionName(uint8_t code) { return primitiveTables.functionNames[code]; }
inline const char *PrimitiveOperatorName(uint8_t code) { return primitiveTables.operatorNames[code]; }

// ---- System functions ----------------------------------------------------------
// The side table keeps, per registration, the APL name, the name generated code
// calls the function by, its address and its kind, entries laid end to end:
// name NUL, cName NUL, address (pointer-sized), kind (2 bytes), unaligned.

struct SystemFunctionTable {
    char *bytes;   // a raw block, null while empty
    uint32_t size; // bytes in use
};
extern SystemFunctionTable systemFunctions;

struct SystemFunctionEntry {
    const char *name;   // quad and letters
    const char *cName;  // "FUNCTION(FileTie)", or a plug-in's procedure name
    aplfunction function;
    uint16_t kind;      // 0x24, 0x25; plus 0x100 for a plug-in's function
};
// Reads the entry at *offset and moves the offset to the next; false at the end.
// The pointers are valid until the next registration.
bool NextSystemFunction(uint32_t &offset, SystemFunctionEntry &entry);

// Defines the name as a system function of the given kind and, when that
// worked, appends it to the side table. Returns the symbol index, or
// APL_symtab.count with the error set.
uint16_t RegisterSystemFunction(const char *name, int32_t kind, aplfunction function, const char *cName);
// Defines every registered name again (after a workspace load); stops at the
// first error and returns false there.
bool ReregisterSystemFunctions();
// The generated-code name of the system function at that address; the start
// of the side table when none matches ("" while the table is empty).
const char *FindCName(aplfunction function);
// Empties the side table (start-up).
void ResetSystemFunctionTable();
// All primitives in their order, then the system functions that exist.
void RegisterBuiltins();

// ---- Plug-ins --------------------------------------------------------------------

constexpr int kMaxPlugins = 1024;
constexpr size_t kPluginInfoSize = APL_PLUGIN_INFO_SIZE;
constexpr size_t kPluginListSize = 65536;

using PluginStart = aplpluginstart;

struct PluginRecord {
    unsigned char info[kPluginInfoSize];  // as the plug-in filled it in; never read by us
    PluginStart start;
    void *handle;
};

// Records 0 ... count-1 hold the plug-ins that started.
struct PluginTable {
    int32_t count;
    int32_t current;  // the record whose library is being started; -1 before any
};
extern PluginTable plugins;
extern PluginRecord pluginRecords[kMaxPlugins];

// Loads the libraries that slot 7 lists through slots 8 and 9 and runs their
// start procedures, under the fault guard: a fault ends the loading with
// "ERROR: Cannot load plugins!" and keeps the plug-ins started before it.
// Returns 1 when slot 7, 8 or 9 is not set, 2 without memory for the list, else 0.
int LoadPlugins();
// Forgets every plug-in (the libraries stay loaded).
void ResetPluginTable();
