// register: the system functions with their names for generated code, the
// start-up registration of every built-in, and the plug-in libraries that add
// system functions. The primitive tables and callback slots live in core/.
#pragma once

#include "apl.h"

#include <cstdint>

// ---- System functions ----------------------------------------------------------
// The side table keeps, per registration, the APL name, the name generated code
// calls the function by, its address and its kind, entries laid end to end:
// name NUL, cName NUL, address (pointer-sized), kind (2 bytes), unaligned.

struct SystemFunctionTable {
    char *bytes;    // a raw block, null while empty
    uint32_t size;  // bytes in use
};
extern SystemFunctionTable systemFunctions;

struct SystemFunctionEntry {
    const char *name;   // quad and letters
    const char *cName;  // "FUNCTION(FileTie)", or a plug-in's procedure name
    aplfunction function;
    uint16_t kind;  // 0x24, 0x25; plus 0x100 for a plug-in's function
};
// Reads the entry at *offset and moves the offset to the next; false at the end.
// The pointers are valid until the next registration.
bool NextSystemFunction(uint32_t &offset, SystemFunctionEntry &entry);

// Defines the name as a system function of the given kind and, when that
// worked, appends it to the side table unless the same entry is already there
// (as after every CLEAR). Returns the symbol index, or
// APL_symtab.count with the error set.
uint16_t RegisterSystemFunction(const char *name, int32_t kind, aplfunction function, const char *cName);
// Defines every registered name again (after a workspace load); stops at the
// first error and returns false there.
bool ReregisterSystemFunctions();
// The generated-code name of the system function at that address, and its
// kind when `kind` is given; null when no registered function has it.
const char *FindCName(aplfunction function, uint16_t *kind = nullptr);
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
