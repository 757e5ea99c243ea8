// eltypes: element types and the conversions between them, the integer view
// of numeric data, and the passage between nested scalars and simple arrays.
// Relies on the array core and, for the tolerance, on CT in the symbol table.
#pragma once

#include "apl.h"
#include "core/arrays.h"

// Masks of element types.
constexpr int kNumeric = APL_INTG | APL_REAL;
constexpr int kAnyButShort = 15 | APL_BOOL;
constexpr int kAnyButBool = 15 | APL_SHORT;
constexpr int kAnyType = 63;

// Element i of a simple INTG, SHORT or BOOL array as an integer (each BOOL
// row starts on a fresh word).
inline int32_t IntegerAt(const aplarray *a, int64_t i) {
    switch (a->eltype) {
        case APL_INTG: return DataOf<const int32_t>(a)[i];
        case APL_SHORT: return DataOf<const int16_t>(a)[i];
        default: {
            const int64_t row = RowLength(a), words = (row + 31) / 32;
            return (DataOf<const uint32_t>(a)[(i / row) * words + (i % row) / 32] >> ((i % row) % 32)) & 1u;
        }
    }
}

// "CHAR", "INTG", "REAL", "BOOL", "SHORT"; "UNKNOWN" for anything else.
const char *TypeName(int eltype);
// The array itself when its type is in the mask, else a converted temporary
// (the argument released), else the argument with DOMAIN and
// "Invalid data type(%s)". Null with DOMAIN (no text) when the converter
// refuses an element; a temporary argument is then released.
aplarray *ConvertType(aplarray *array, int mask);
// Converters: a new temporary of the same shape; the argument is released.
// Null with the error set on failure.
aplarray *BoolToInt(aplarray *array);
aplarray *ShortToInt(aplarray *array);
aplarray *IntToReal(aplarray *array);
aplarray *RealToInt(aplarray *array);
// INTG data: *out = the array's data, false. REAL data: *out = a new raw block of
// int32 (free it with FreeBlock), true. Otherwise *out null, false (DOMAIN for
// CHAR, nested and REAL values that are not near-integers).
bool IntegerData(aplarray *array, int32_t **out);
// A nested array of simple scalars of compatible types as a simple array, or
// the argument unchanged.
aplarray *SimplifyArray(aplarray *array);
// True for a nested array none of whose items is nested or has rank above 0.
bool IsScalarList(const aplarray *array);
