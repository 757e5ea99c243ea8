// transfer: the transfer forms of variables and defined functions (the system
// function TF): form 1, a typed header and the raw data; form 2, an APL
// expression. Relies on the symbol table, fixing, and the session's execute.
#pragma once

#include "apl.h"

#include <cstdint>
#include <string>

// Appends the transfer text of a symbol in form 1 or 2. False when the symbol
// is not a variable or defined function with a value, or the form cannot
// carry it (a nested variable in form 1): nothing is appended and no error
// set. False with the error set when the text cannot be built (WS FULL,
// LIMIT for nesting too deep).
bool ExportObject(uint16_t symbol, int form, std::string &text);

// Appends the form 2 expression whose value is `value`: shape prefix, quoted
// characters, numbers with the high minus, items in parentheses. BOOL and
// SHORT elements are written as integers, REAL ones as the shortest text that
// reads back to the same number. Borrows the array. False with LIMIT or WS FULL.
bool AppendValueExpression(const aplarray *value, std::string &text);

// Imports a transfer text in form 1 or 2 (the form 1 text starts with its type
// letter; the form 2 text is the expression itself). Returns a temporary: the
// name of the object defined, or FX's result, or the value of a form 2 text
// that is not an assignment; null with the error set.
aplarray *ImportTransferText(int form, const char *text, int64_t length);
