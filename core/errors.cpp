// errors: the error number, its message text and the session's error report.
// Relies on the output channel of the host callbacks and, for EM, on the
// symbol table.
#include "core/errors.h"

#include "core/arrays.h"
#include "core/callbacks.h"
#include "core/symtab.h"

#include <cstdarg>
#include <cstdio>

int32_t aplerrno = 0;
char APL_error_message[256] = "";
volatile uint8_t APL_interrupted = 0;

namespace {
struct ErrorNameEntry {
    int32_t code;
    const char *name;
};
constexpr ErrorNameEntry kErrorNames[] = {
    {APL_ERR_WSFULL, "WSFULL "},
    {APL_ERR_SYNTAX, "SYNTAX "},
    {APL_ERR_INDEX, "INDEX "},
    {APL_ERR_RANK, "RANK "},
    {APL_ERR_LENGTH, "LENGTH "},
    {APL_ERR_VALUE, "VALUE "},
    {APL_ERR_AXIS, "AXIS "},
    {APL_ERR_BRANCH, "BRANCH "},
    {APL_ERR_LIMIT, "LIMIT "},
    {APL_ERR_DOMAIN, "DOMAIN "},
    {APL_ERR_NONCE, "NONCE "},
    {APL_ERR_FILEIO, "FILE I/O "},
    {APL_ERR_NOPIPES, "NOPIPES "},
    {APL_ERR_NOPROCS, "NOPROCS "},
    {APL_ERR_DEFN, "DEFN "},
    {APL_ERR_SYSTEM, "SYSTEM "},
    {APL_ERR_VALENCE, "VALENCE "},
    {APL_ERR_INTERRUPT, "INTERRUPT "},
    {APL_ERR_EOF_INTERRUPT, "EOF_INTERRUPT "},
    {APL_ERR_DEADLOCK, "DEADLOCK "},
};
}  // namespace

const char *ErrorName(int32_t code) {
    for (const auto &entry : kErrorNames)
        if (entry.code == code) return entry.name;
    return "UNKNOWN ";
}

void SetError(int32_t code) {
    aplerrno = code;
    APL_error_message[0] = 0;
}

void SetErrorText(int32_t code, const char *format, ...) {
    va_list args;
    va_start(args, format);
    vsnprintf(APL_error_message, sizeof APL_error_message, format, args);
    va_end(args);
    aplerrno = code;
}

void PrintError(int32_t code) {
    SetErrorVariable(code);
    WriteText(ErrorName(code), false);
    if (APL_error_message[0] == 0) {
        WriteText("ERROR", true);
    } else {
        WriteText("ERROR", false);
        char line[sizeof APL_error_message + 4];
        snprintf(line, sizeof line, " : %s", APL_error_message);
        WriteText(line, true);
    }
    APL_error_message[0] = 0;
}

extern "C" void runtime_error(const char *file, int32_t line) {
    // Generated code passes the running function's line number (APL_GetLineNum).
    printf("Run time error %d in module %s[%d]\n", aplerrno, file, line);
    fflush(stdout);
}

void SetErrorVariable(int32_t code) {
    if (!IsSymbol(sys_EM_idx)) return;
    // Built before the old value goes, so that a failed allocation leaves EM as it was.
    const int32_t saved = aplerrno;
    if (aplarray *name = MakeString(ErrorName(code))) SetSymbolValue(sys_EM_idx, name);
    aplerrno = saved;
}

namespace {
int64_t interruptChecks = 0;
int64_t checkWithAction = 0;
void (*checkAction)() = nullptr;
void RaiseInterrupt() { APL_interrupted = 1; }
}  // namespace

bool InterruptRequested() {
    ++interruptChecks;
    if (!APL_interrupted) {
        if (interruptChecks == checkWithAction) checkAction();
        return false;
    }
    SetError(APL_ERR_INTERRUPT);
    return true;
}

void CallAtInterruptCheck(int64_t n, void (*action)()) {
    interruptChecks = 0;
    checkWithAction = action ? n : 0;
    checkAction = action;
}

void RaiseInterruptAtCheck(int64_t n) { CallAtInterruptCheck(n, RaiseInterrupt); }

int64_t InterruptChecksMade() { return interruptChecks; }
