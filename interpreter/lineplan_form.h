// lineplan_form: what a compiled line is made of, shared by the compiler of
// plans, their runner and the cache of plans: the operations, the statements
// of a line and the plan of a whole line.
// Relies on the stored-line format and the symbol table.
#pragma once

#include "apl.h"
#include "core/symtab.h"
#include "interpreter/storedline.h"

#include <cstdint>

struct ScalarMember;

namespace lineplan {

// A plan is a function of the line's bytes and of the kinds its names had
// when it was compiled (a defined function's name is called, any other name
// read): it names symbols by index and constants by pool offset. The kinds
// are compared on every run, and a line whose names changed kind is compiled
// again; what a name holds is checked too (each name read must be a variable),
// so that no redefinition, erasure, localisation or cleared workspace can
// leave a plan that reads a line differently from the walk.
constexpr int kMaxPlanBytes = 160;
constexpr int kMaxPlanOps = 48;
constexpr int kMaxPlanTokens = 64;
constexpr int kMaxStatements = 6;  // statements of one line, between diamonds
constexpr int kMaxLineNames = 16;  // distinct names of a line whose kinds a plan notes
constexpr int kMaxPlanGroups = 4;  // parentheses nested deeper take the walk
constexpr int kPlanSlots = 64;     // lines remembered, direct-mapped by address
constexpr int kMaxPlanStack = kMaxPlanOps;

enum class OpKind : uint8_t { Name, Constant, Monadic, Dyadic, Assign, Ungroup, Index, IndexAssign, Call };

// Flags of an operation.
constexpr uint8_t kInPlace = 1;      // a dyadic call whose result the next operation assigns
constexpr uint8_t kFinal = 2;        // the statement's outermost call (the branch may leave no value)
constexpr uint8_t kBranchAfter = 4;  // a reshape or compress whose result the next operation branches on
constexpr uint8_t kBranchIota = 8;   // ⍳C in →L×⍳C: the next three operations read L, multiply and branch

struct Op {
    OpKind kind;
    uint8_t code;  // the primitive's character; a defined function's call: its arguments
    uint8_t flags;
    uint16_t symbol;             // name read, assigned or called; for in-place calls the variable assigned
    uint16_t back;               // the token's distance from the line's rightmost tag (error position)
    const ScalarMember *member;  // a dyadic call of a scalar primitive: its member, found once
};

// One statement of a line: its operations op[first, first + ops), and the
// names it reads, checked before it runs.
struct Statement {
    uint8_t first = 0;
    uint8_t ops = 0;
    bool borrow = false;  // no assignment but the last operation: values may be read without links
    uint8_t names = 0;    // distinct names read: name[firstName, firstName + names)
    uint8_t firstName = 0;
};

// The statements stand in the order they run: the walk completes the
// rightmost statement of a line first.
struct Plan {
    const uint8_t *last = nullptr;  // the line this slot describes
    int16_t length = -1;            // bytes from the left marker to the rightmost tag
    bool usable = false;            // false: the line is not of the compiled kind
    uint8_t ops = 0;
    uint8_t groups = 0;  // deepest nesting of parentheses
    uint8_t statements = 0;
    uint8_t names = 0;
    bool calls = false;    // calls a defined function, which may run other plans meanwhile
    uint16_t running = 0;  // runs under way (a call may run the same line again): the slot stays
    uint32_t stamp = 0;    // changes whenever the slot describes another line or is compiled again
    uint8_t kinds = 0;     // the names of the line, each noted as called or read when it was compiled
    uint16_t kindName[kMaxLineNames];
    bool kindOf[kMaxLineNames];
    Statement statement[kMaxStatements];
    uint16_t name[kMaxPlanOps];
    uint8_t bytes[kMaxPlanBytes];
    Op op[kMaxPlanOps];
};

// Compiles the line into the plan; false when the line is not of the kind a
// plan handles. Notes the kinds of the line's names as it finds them.
bool CompileLine(const StoredLine &line, Plan &plan);
// Whether the line's names are still called or read as when its plan was compiled.
bool KindsHold(const Plan &plan);
// A defined function (not an operator, not niladic) that has a definition.
bool CalledFunction(const aplsymbol &entry);
// Compress, which the plans take only right of an array operand.
bool IsReplicate(uint8_t code);
// A name the plan may read as an array: what the walk would read as a value.
// (The compiler leaves lines that read quad or quote-quad to the walk.)
inline bool ReadsAsVariable(uint16_t symbol) {
    if (!IsSymbol(symbol)) return false;
    const int kind = Symbol(symbol).kind;
    return (kind & APL_KIND_VARIABLE) && !(kind & (APL_KIND_OPERAND | APL_KIND_SYSTEM));
}
// Runs one statement of the plan; false with the error set.
bool RunStatement(const Plan &plan, const Statement &statement, const uint8_t *last, const PoolView &pool);

}  // namespace lineplan
