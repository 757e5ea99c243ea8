// primitives: the two dispatch tables indexed by a primitive's character (its
// flags, its function or operator, and the name generated code calls it by) and
// the rows that fill them. Relies on apl.h for the entry points, on glyphs.h.
#pragma once

#include "apl.h"

#include <cstddef>
#include <cstdint>

// Indexed by the character code of the primitive's symbol. The flag bits are
// the APL_FN_ bits of apl.h (APL_FN_PRIMITIVE marks a registered character).
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
aplarray *OperatorNotImplemented(aplarray *axis, aplarray *left, aplfnc *operand, aplarray *operandAxis, aplfnc *second,
                                 aplarray *secondAxis, aplarray *right);

// Default handlers everywhere, all flags zero, registered names freed.
void InitPrimitiveTables();
// Registers the primitive of a character unless its flags already hold any of
// the given bits (the first registration wins). Flags with APL_FN_FUNCTION go to
// the function tables, others to the operator tables; a null function stands
// for the default handler. Ends the process when the name cannot be copied.
void RegisterPrimitive(uint8_t code, uint16_t flags, aplfunction function, const char *name);
void RegisterPrimitive(uint8_t code, uint16_t flags, aploperator function, const char *name);
void RegisterPrimitive(uint8_t code, uint16_t flags, std::nullptr_t, const char *name);
// Every row of the built-in primitive table, in its order.
void RegisterPrimitives();

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
