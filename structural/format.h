// format: the text of any array (monadic and dyadic format) and the matrix form
// in which the session prints a value. Relies on the array core and PP and MODE
// in the symbol table; keyword spelling is handed in by the caller.
#pragma once

#include "apl.h"
#include "core/errors.h"

#include <cstdint>

// A format layout (widths and decimals): REAL elements are written in fixed notation with
// `precision` decimals, right-aligned in `width` positions (0: as wide as the
// text).
struct FormatSpec {
    int32_t width;
    int32_t precision;
};

// Widths and precisions above this are DOMAIN: an element text then always
// fits one fixed buffer.
constexpr int32_t kMaxFormatField = 1000;
// Nesting deeper than this is LIMIT instead of a run off the end of the stack
// (a tenth of the general limit: each level keeps its items' texts alive).
constexpr int kMaxFormatDepth = kMaxNestingDepth / 10;

// Spells `length` codes in their keyword form: a new temporary CHAR vector, or
// null with the error set. The session passes one in keyword mode.
using KeywordSpeller = aplarray *(*)(const uint8_t *codes, int32_t length);

// True when bit 0 of MODE (keyword mode) is set: negative numbers are then
// written with "_" and character data in its keyword spelling.
bool KeywordModeOn();

// The text of a value: the shape of the value with the last axis replaced by
// the row length (a numeric scalar gives a vector, a character scalar stays a
// scalar); nested values are laid out as a character matrix or vector.
// `spec` null is monadic format. A null value gives the text "null_pointer!".
// With a speller (keyword mode) negative numbers are written with "_" and
// character data in its keyword spelling.
// Returns a new temporary CHAR array; the value is only read (links unchanged).
// Null with aplerrno set on failure.
aplarray *FormatArray(const aplarray *value, const FormatSpec *spec, KeywordSpeller speller);

// Monadic format with every REAL written in the fewest digits that read back
// as the same number, whatever PP is: the text of a stored constant.
// Returns a new temporary CHAR array; the value is only read. Null on failure.
aplarray *FormatExact(const aplarray *value);

// The monadic text of a value as a CHAR matrix: a vector or scalar is one row,
// an array of rank 3 or more has its leading axes multiplied together (the
// blank rows between the planes of nested items stay). Returns a new
// temporary; the value is only read. Null on failure.
aplarray *FormatMatrix(const aplarray *value, KeywordSpeller speller);
