// errors: the error number, its message text and the session's error report.
// Relies on the output channel of the host callbacks and, for EM, on the
// symbol table.
#pragma once

#include "apl.h"

// Name text of an error code, ending in one blank ("DOMAIN "); "UNKNOWN "
// for codes without a name of their own.
const char *ErrorName(int32_t code);
// Makes EM the name text of the code.
void SetErrorVariable(int32_t code);
// Writes "<name>ERROR" and " : <message>" when there is one; empties the message.
void PrintError(int32_t code);

// Sets aplerrno and clears the detail text.
void SetError(int32_t code);
// Sets aplerrno and a printf-style detail text.
void SetErrorText(int32_t code, const char *format, ...) __attribute__((format(printf, 2, 3)));

// ---- Long work ---------------------------------------------------------------
// Loops whose length depends on the data look at the host's interrupt flag once
// every kInterruptStride elements (or rows, or items), so that Ctrl-C reaches
// them quickly without costing anything per element. The flag is cleared only
// by the session, never here.
constexpr int64_t kInterruptStride = 65536;
// True, with INTERRUPT ERROR set, when the host has asked to stop.
bool InterruptRequested();

// Every recursion over nested data or code stops at this depth with LIMIT ERROR.
constexpr int kMaxNestingDepth = 10000;
