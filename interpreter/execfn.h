// execfn: running user-defined functions: the line-control protocol shared
// with compiled code (line frames, branches, control values), the state
// indicator and the call of a defined function or operator.
// Relies on the line evaluator, the symbol table and the fixed function records.
#pragma once

#include "apl.h"
#include "core/frames.h"

#include <cstddef>
#include <cstdint>

// Line flags of a fixed function (index 0 for the header).
constexpr uint8_t kLineOpensBlock = 0x01;
constexpr uint8_t kLineClosesBlock = 0x02;
constexpr uint8_t kLineSeparator = 0x04;

constexpr int kMaxStateIndicator = 100;
constexpr uint16_t kSessionLevel = 65535;  // "function" of an entry made at session level

// One level of the state indicator: an active call or a suspended function.
struct StateEntry {
    const uint8_t *position;  // the calling token, or the error position of a suspension
    uint16_t function;        // symbol index, kSessionLevel at session level
    int32_t line;
    bool suspended;
};

struct StateIndicator {
    StateEntry entries[kMaxStateIndicator];
    int count = 0;
    uint16_t executing = kSessionLevel;  // the function being executed
};
extern StateIndicator stateIndicator;

// Pushes an entry; LIMIT at the hundredth.
bool PushState(const StateEntry &entry);
void PopState();
// Suspended functions on the state indicator.
int SuspendedCount();

// The session's own frame, current when no function runs, so that a branch
// typed in the session has somewhere to go.
LineFrame *SessionFrame();
// Makes the running function (or the session's frame) go on at `line`, as a
// branch to it does.
void BranchTo(int32_t line);
// The pending control value (set by the control symbol, consumed by the next line).
void ClearPendingControl();

// Runs a user-defined function, or a derived function whose operator is
// user-defined (fn.op->code the operator's symbol). Returns a temporary, or
// null for no value or an error (an unwind request passes through as 1111).
// Consumes temporary arguments, leaves linked ones as they were.
aplarray *RunUserFunction(const aplfnc &function, aplarray *axis, aplarray *left, aplarray *right);
// The call of the defined function (not an operator) named by the symbol, as
// RunUserFunction makes it for its descriptor: what a compiled line calls.
aplarray *CallDefinedFunction(uint16_t symbol, aplarray *left, aplarray *right);
// How many names running functions have localised and how many calls are
// running; EndRunningCallsTo puts the names back and ends the calls (their
// line frames freed, their records let go) down to such a mark, for the
// session's recovery from a caught processor fault that skipped their ends.
struct RunningCallsMark {
    size_t localised;
    size_t calls;
};
RunningCallsMark MarkRunningCalls();
void EndRunningCallsTo(const RunningCallsMark &mark);
// Makes the evaluator and APL_Evaluate run defined functions through RunUserFunction.
void InstallFunctionRunners();
// Writes a line of codes (an error echo), in keywords when keyword mode is on;
// control codes other than the caret marks show as ".".
void ShowCodes(const uint8_t *text, int32_t length);
