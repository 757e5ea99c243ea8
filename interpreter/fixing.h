// fixing: user-defined functions and operators made from their text: the
// header forms, labels, the fixed function record and the two-item function
// value, and the way back to text (vector and character representations).
// Relies on the tokenizer and constant pool, the symbol table and serialisation.
#pragma once

#include "apl.h"
#include "interpreter/tokenizer.h"

#include <cstdint>
#include <string>

// ---- The fixed function record ------------------------------------------------------
// A CHAR vector holding a byte block of 32-bit little-endian words: the
// header below, the line table (one word per body line), the names area (2-byte
// symbol indices), the token area (every body line as a stored line, sharing
// the line-end markers), padding, and the function's constant pool, whose last
// record is the line-flags vector.
enum RecordWord : int {
    kWordFlags = 0,  // low byte: kRecord* bits
    kWordNames = 1,  // names in the names area
    kWordLocals = 2,
    kWordLabels = 3,
    kWordLines = 4,      // body lines
    kWordPool = 5,       // offset of the constant pool
    kWordLineFlags = 6,  // offset of the line-flags vector (an array image in the pool)
    kWordCreated = 7,    // seconds since 1970, kept over redefinitions
    kWordFixed = 8,      // seconds since 1970 of this fix
};
constexpr uint32_t kRecordHeaderBytes = 44;
constexpr uint32_t kRecordResult = 0x01;  // the header has a result
constexpr uint32_t kRecordLeft = 0x02;    // the header has a left argument
constexpr uint32_t kRecordAlways = 0x04;

// A record checked for consistency, with the places of its parts. Borrowed
// from the record array, which must outlive it.
struct FixedView {
    const uint8_t *bytes = nullptr;
    uint32_t size = 0;
    uint32_t flags = 0, names = 0, locals = 0, labels = 0, lines = 0;
    uint32_t poolOffset = 0, lineFlagsOffset = 0, created = 0, fixed = 0;
    uint32_t tokenStart = 0;  // the left marker of line 1

    uint16_t Name(uint32_t i) const;
    // Names of the header (result, left argument, operands, right argument).
    uint32_t HeaderNames() const { return names - locals - labels; }
    // Body line n (1 ... lines) as a stored line.
    StoredLine Line(uint32_t n) const;
    PoolView Pool() const { return {reinterpret_cast<const char *>(bytes + poolOffset), size - poolOffset}; }
    // The line-flags vector as an array image (element 0 for the header).
    const uint8_t *LineFlags() const { return bytes + lineFlagsOffset; }
    // The static INTG scalar holding the line of label i (0 = the first label
    // in line order); labels stand in the names area in reverse line order.
    aplarray *LabelValue(uint32_t i) const;
};

// Fills the view; false with SYSTEM "Damaged function record" when the record
// does not hold up. Only reads the record.
bool ReadFixedRecord(const aplarray *record, FixedView &view);

// ---- Functions in the symbol table --------------------------------------------------

// Set by the workspace loader for the time of a load: a body line that does not
// tokenize is kept as a comment instead of failing the definition.
extern bool lenientFixing;

// True for a user-defined function or operator that has a value.
bool IsUserFunction(uint16_t symbol);
// The record of a function value: item 1 of the two-item value, or the value
// itself (an older form). Not linked; null when the symbol is no user function.
aplarray *FixedRecord(uint16_t symbol);

// The name that a function's lines (as DefineFunction takes them) would
// define: the name in their header. False when the header does not hold up.
// Borrows `lines`; changes nothing.
bool DefinedName(const aplarray *lines, std::string &name);

// Fixes a function from its lines (a nested vector: header, then body lines,
// each a CHAR vector or scalar). Returns a temporary: the function's name, or
// the INTG scalar index of the line at fault (0 for the header). aplerrno is
// cleared in both cases; the reason stays in APL_error_message. Borrows `lines`.
aplarray *DefineFunction(const aplarray *lines);

// The lines of a function (header first) as a nested vector of CHAR vectors:
// the stored text, or rendered from the record. A temporary; null with the
// error set (VALUE for a name that is no user function).
aplarray *FunctionLines(uint16_t symbol);

// Writes "[n]  " and line n of the function (0 for the header).
void ShowLine(uint16_t function, int32_t lineNumber);

// The function's kind bits without APL_KIND_USER (0x04 function, 0x05 niladic,
// 0x08 monadic operator, 0x10 dyadic operator).
int FunctionKind(uint16_t symbol);
