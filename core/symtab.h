// symtab: the workspace's one flat table of names, the system variables with
// their defaults, and the constant pool of fixed functions.
// Relies on the array core; names are in the system's 8-bit character set.
#pragma once

#include "apl.h"
#include "core/glyphs.h"

#include <cstdint>
#include <string_view>

// The most names a table holds: index 65535 must stay free to mean "none".
constexpr uint32_t kMaxSymbols = 65534;

bool IsValidName(const char *name, int32_t length);
// Index of the name, or APL_symtab.count when absent.
uint16_t LookupName(std::string_view name);
inline uint16_t LookupName(const char *name, int32_t length) {
    return LookupName(std::string_view(name, static_cast<size_t>(length)));
}
// Enters or redefines a name; returns its index or APL_symtab.count on error
// (SYNTAX for a bad name or a variable over a function, DEFN for a function over
// a variable, WS FULL). Does not link the value.
uint16_t DefineName(const char *name, int32_t length, int32_t kind, void *const *init);
// Keeps an existing value (releasing `value`), else links and enters `value`
// as a system variable (kind 0x22).
uint16_t CreateSystemVariable(const char *name, aplarray *value);
// Unlinks every owned value and frees the table.
void DestroySymbolTable();
// A whole table with the indices of its system variables, held aside so that a
// new workspace can be built beside the current one and either replace it or
// be thrown away.
struct SymbolTableState {
    aplsymtab table{};
    uint32_t entryCapacity = 0, poolCapacity = 0;
    uint16_t systemIndices[19] = {};
};
// Takes the current table, leaving an empty one.
SymbolTableState TakeSymbolTable();
// Destroys the current table and makes the saved one current again.
void RestoreSymbolTable(const SymbolTableState &saved);
// Creates the system variables in their order with their defaults.
// In program mode MODE starts at 4.
void CreateSystemVariables(bool programMode);

inline aplsymbol &Symbol(uint16_t index) { return APL_symtab.entries[index]; }
inline const char *SymbolName(uint16_t index) { return APL_symtab.pool + Symbol(index).name; }
inline bool IsSymbol(uint16_t index) { return index < APL_symtab.count; }
// True when the entry is a label of a running function (its value a constant).
inline bool IsLabel(const aplsymbol &entry) {
    constexpr int kLabel = APL_KIND_VARIABLE | APL_KIND_LABELBIT;
    constexpr int kFunctions = APL_KIND_FUNCTION | APL_KIND_MONOP | APL_KIND_DYOP;
    return (entry.kind & (kLabel | kFunctions)) == kLabel;
}
// True when the entry's value is an array that the entry holds a link on: not
// a label's constant, a bound operand's descriptor or a built-in's address.
inline bool OwnsArray(const aplsymbol &entry) {
    if (!entry.value || (entry.kind & APL_KIND_OPERAND) || IsLabel(entry)) return false;
    return (entry.kind & (APL_KIND_VARIABLE | APL_KIND_USER)) != 0;
}
// Replaces the value of a variable: links the new value, unlinks the old one.
void SetSymbolValue(uint16_t index, aplarray *value);

// Current values of the system variables the library reads, with their
// defaults when the variable has no usable value.
double ComparisonTolerance();  // CT
int32_t IndexOrigin();         // IO
int32_t PrintWidth();          // PW
int32_t PrintPrecision();      // PP
int32_t DivisionMode();        // DIV: the value of 0÷0
// The first element of a numeric array as a double (INTG, REAL, BOOL, SHORT);
// `fallback` for anything else or an empty array.
double FirstNumber(const aplarray *a, double fallback);

// Constant pool: static copies of simple arrays, identical ones stored once.
// Returns the byte offset of the copy (stable while the pool grows) or -1 on
// error; consumes the array.
int32_t PoolConstant(aplarray *array);
// PoolConstant of an INTG scalar, the commonest constant, found again
// without building its record when it was pooled lately.
int32_t PoolInteger(int32_t value);
// The pooled static record at an offset.
aplarray *PooledConstant(int32_t offset);
// Bytes in use in the pool (offsets below this are valid record starts or inside one).
uint32_t ConstantPoolSize();
void ResetConstantPool();
// The pool's blocks, handed over so that a nested tokenization (execute, a
// nested session) can build a pool of its own and put the outer one back.
struct ConstantPoolState {
    char *pool = nullptr;
    uint32_t used = 0;
    int32_t *offsets = nullptr;
    int32_t count = 0;
};
// Takes the current pool, leaving an empty one.
ConstantPoolState TakeConstantPool();
// Frees the current pool and makes the saved one current again.
void RestoreConstantPool(const ConstantPoolState &saved);
