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
