// execline: the line evaluator. Walks a stored line from its right end with a
// short stack of items, binds operators, calls functions through one dispatch,
// performs every form of assignment and runs control blocks.
// Relies on the tokenizer's stored lines, the primitive tables and the cover functions.
#pragma once

#include "apl.h"
#include "core/call.h"
#include "core/errors.h"
#include "interpreter/tokenizer.h"

#include <cstdint>

// Flags of EvaluateLine.
constexpr int32_t kEvalIndex = 1;       // stop at a semicolon or left bracket
constexpr int32_t kEvalGroup = 2;       // the inside of parentheses: stop at the left one
constexpr int32_t kEvalStatement = 64;  // display an unassigned final value, return nothing
constexpr int32_t kEvalSegment = 128;   // stop at a colon or left brace
constexpr int32_t kEvalExecute = 256;   // a missing value is not an error

// Item classes (the class word of the evaluator's items, in aplfnc.flags).
constexpr intptr_t kItemArray = kOperandArray;  // also in operand descriptors
constexpr intptr_t kItemArrow = 0x0100;
constexpr intptr_t kItemSystem = 0x0200;
constexpr intptr_t kItemStrand = 0x0400;

constexpr int kMaxStackItems = 8;
// Evaluations nested deeper than this (parentheses, blocks, execute, calls) are
// LIMIT; each level is a whole evaluator on the C stack, hence the fraction.
constexpr int kMaxEvaluationDepth = kMaxNestingDepth / 25;

// What an evaluation left: a value (linked by the holder, a temporary to
// release) or a function, or nothing.
struct EvalResult {
    aplarray *value = nullptr;  // a temporary the caller owns
    bool assigned = false;      // the value was just assigned
    bool function = false;      // the line ended in a function or operator (an error for callers)
};

// Evaluates the stored line whose rightmost token's tag is at `position`,
// reading constants from `pool`. Returns the position at which it stopped (the
// token that ended it). On error aplerrno is set, the error position recorded
// and nothing is returned in `result`.
const uint8_t *EvaluateLine(const uint8_t *position, int32_t flags, EvalResult &result, const PoolView &pool);

// Evaluates a whole stored line in statement mode (a session or function line).
// A function's line may bring the hint that finds its compiled plan.
struct LinePlanHint;
void EvaluateStatementLine(const StoredLine &line, const PoolView &pool, LinePlanHint *hint = nullptr);

// Assignment of a value to a name: links it; a system variable is checked.
// Returns false with the error set. Does not consume the value.
bool AssignName(uint16_t symbol, aplarray *value);
// The checked assignment of a system variable.
// Returns the stored value or null with the error set; consumes a temporary.
aplarray *AssignSystemValue(uint16_t symbol, aplarray *value);
// Hands the same checks to APL_Assign, which compiled code and hosts call.
void InstallSystemValueCheck();

// The in-place rule, one for the walk and the compiled lines: a call whose
// result is assigned to the plain variable `symbol` may write the result over
// the argument that is the variable's whole value (I←I+1), when nothing but
// the variable and the caller hold it, since the old value is never seen
// again. `leftLinks` and `rightLinks` are the links the caller holds on each
// argument (0 for one it borrows). Null when neither qualifies, or when both
// arguments are one array (I←I+I reads it twice).
aplarray *ArgumentWrittenOver(uint16_t symbol, aplarray *left, int32_t leftLinks, aplarray *right,
                              int32_t rightLinks);

// Holds a static record for an evaluation: the record itself while its data
// suits its element type, else a managed copy with one link (null: WS FULL).
aplarray *HoldStatic(aplarray *record);

// Evaluator state shared with the session.
struct EvaluatorState {
    int depth = 0;                 // nested evaluations
    bool selective = false;        // a selective assignment waits for its variable
    uint16_t selectiveSymbol = 0;  // the variable met
    bool selectiveMet = false;
};
extern EvaluatorState evaluator;

// Evaluated and character input (the session supplies them).
aplarray *QuadInput();
aplarray *QuoteQuadInput();
