// errors: the error number, its message text and the session's error report.
// Relies on the output channel of the host callbacks and, for EM, on the
// symbol table.
#pragma once

#include "apl.h"

#include <cstdint>
#include <type_traits>

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
// For tests, which must not depend on how fast a machine runs: the checks are
// counted from here on, and the nth of them calls `action` just after it has
// looked (n 0: none).
void CallAtInterruptCheck(int64_t n, void (*action)());
// The nth check raises the flag, as Ctrl-C in the stride that follows would:
// work that heeds the flag makes exactly one check more.
void RaiseInterruptAtCheck(int64_t n);
// Checks counted since the last of these two calls.
int64_t InterruptChecksMade();
// The same test made only when element (or row, or item) i starts a stride:
// for loops whose body already costs more than a compare.
inline bool InterruptAt(int64_t i) { return (i & (kInterruptStride - 1)) == 0 && InterruptRequested(); }
// For loops that advance by uneven amounts (runs, rows, records): passed(done)
// looks at the flag each time the count of units done crosses a stride.
class StrideClock {
public:
    bool passed(int64_t done) {
        if (done < next_) return false;
        next_ = done + kInterruptStride;
        return InterruptRequested();
    }

private:
    int64_t next_ = kInterruptStride;
};
// Runs body(begin, end) over [0, n) in pieces of at most kInterruptStride,
// looking at the flag before each piece, so that a tight element loop keeps
// its plain vectorisable form inside. False, with INTERRUPT ERROR set, when
// the host asked to stop (or when a body that returns bool returns false);
// the pieces done so far stay done.
template <class Body>
bool ForEachStride(int64_t n, Body &&body) {
    for (int64_t begin = 0; begin < n; begin += kInterruptStride) {
        if (InterruptRequested()) return false;
        const int64_t end = n - begin < kInterruptStride ? n : begin + kInterruptStride;
        if constexpr (std::is_same_v<decltype(body(begin, end)), bool>) {
            if (!body(begin, end)) return false;
        } else {
            body(begin, end);
        }
    }
    return true;
}

// Every recursion over nested data or code stops at this depth with LIMIT ERROR.
constexpr int kMaxNestingDepth = 10000;
