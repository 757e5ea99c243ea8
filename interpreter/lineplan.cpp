// lineplan: statement lines compiled once, when first run, into a short list of
// operations (read a variable, hold a constant, call a primitive, assign) that
// later runs of the same line follow without matching any reduction rule.
// Relies on the stored-line reader, the primitive tables and the evaluator's
// assignment and in-place rule.
#include "interpreter/lineplan.h"

#include "core/arrays.h"
#include "core/call.h"
#include "core/errors.h"
#include "core/glyphs.h"
#include "core/primitives.h"
#include "core/symtab.h"
#include "interpreter/execfn.h"
#include "interpreter/execline.h"
#include "scalar/scllib.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace {

// A plan is a pure function of the line's bytes: it names symbols by index and
// constants by pool offset, and decides nothing from what a name holds. What a
// name holds is checked on every run instead (each name read must be a
// variable), so that no redefinition, erasure, localisation or cleared
// workspace can leave a plan that reads a line differently from the walk.
constexpr int kMaxPlanBytes = 96;
constexpr int kMaxPlanOps = 32;
constexpr int kMaxPlanGroups = 4;  // parentheses nested deeper take the walk
constexpr int kPlanSlots = 64;     // lines remembered, direct-mapped by address
constexpr int kMaxPlanStack = kMaxPlanOps;

enum class OpKind : uint8_t { Name, Constant, Monadic, Dyadic, Assign, Ungroup };

// Flags of an operation.
constexpr uint8_t kInPlace = 1;      // a dyadic call whose result the next operation assigns
constexpr uint8_t kFinal = 2;        // the statement's outermost call (the branch may leave no value)
constexpr uint8_t kBranchAfter = 4;  // a reshape whose result the next operation branches on

struct Op {
    OpKind kind;
    uint8_t code;  // the primitive's character
    uint8_t flags;
    uint16_t symbol;             // name read or assigned; for in-place calls the variable assigned
    uint16_t back;               // the token's distance from the line's rightmost tag (error position)
    const ScalarMember *member;  // a dyadic call of a scalar primitive: its member, found once
};

struct Plan {
    const uint8_t *last = nullptr;  // the line this slot describes
    int16_t length = -1;            // bytes from the left marker to the rightmost tag
    bool usable = false;            // false: the line is not of the compiled kind
    uint8_t ops = 0;
    uint8_t groups = 0;   // deepest nesting of parentheses
    bool borrow = false;  // no assignment but the last operation: values may be read without links
    uint8_t names = 0;    // distinct names read
    uint16_t name[kMaxPlanOps];
    uint8_t bytes[kMaxPlanBytes];
    Op op[kMaxPlanOps];
};

Plan plans[kPlanSlots];
bool plansOn = true;
int64_t planRuns = 0;

// ---- Compiling -------------------------------------------------------------------

// Primitive functions that always return a value or fail: a call of them can
// stand anywhere in an expression. The branch, which may return nothing, is
// compiled only as a statement's outermost call.
bool AlwaysGivesValue(uint8_t code) {
    if (ScalarMemberOfCode(code)) return true;
    switch (code) {
        case glyph::kRho:
        case glyph::kIota:
        case glyph::kComma:
        case glyph::kUpArrow:
        case glyph::kDownArrow:
        case glyph::kCircleStile:
        case glyph::kCircleBar:
        case glyph::kTranspose:
        case glyph::kMatch:
        case glyph::kEpsilon:
        case glyph::kLeftShoe:
        case glyph::kRightShoe:
        case glyph::kGradeUp:
        case glyph::kGradeDown:
        case glyph::kFormat:
        case glyph::kDownTack:
        case glyph::kUpTack:
        case glyph::kFind: return true;
        default: return false;
    }
}

// A plain primitive function: no operator meaning, no niladic form.
bool IsPlainFunction(uint8_t code) {
    const uint16_t flags = PrimitiveFlags(code);
    return (flags & APL_FN_FUNCTION) && !(flags & (APL_FN_MONOP | APL_FN_DYOP | APL_FN_NILADIC));
}

struct Token {
    uint8_t tag;
    uint16_t back;  // distance of the tag from the rightmost tag
};

enum class NodeKind : uint8_t { Name, Constant, Group, Monadic, Dyadic, Assign };

struct Node {
    NodeKind kind;
    int token;       // the name, constant, function or arrow
    int left = -1;   // dyadic: the left operand; assignment: the name's token
    int right = -1;  // the argument, value assigned or group's inside
};

// Parses the tokens (in reading order) of the statements this plan handles:
//   expr    := name ← expr | fn expr | operand [fn expr]
//   operand := name | constant | ( expr )
// with fn a plain primitive; anything else (strands, brackets, operators,
// defined or system functions, blocks, diamonds) is left to the walk.
class Compiler {
public:
    Compiler(const Token *tokens, int count, const uint8_t *last) : t_(tokens), n_(count), last_(last) {}

    bool Compile(int from, Plan &plan) {
        const int root = Expression(from, n_, 0, true);
        if (root < 0 || ops_ > kMaxPlanOps) return false;
        plan_ = &plan;
        plan.ops = 0;
        Emit(root);
        if (plan.ops < 1 || plan.ops > kMaxPlanOps) return false;
        Op &outermost = plan.op[plan.ops - 1];
        outermost.flags |= kFinal;
        // →C⍴L, the conditional branch: the reshape is not made when its
        // value would only be read for its first element.
        if (outermost.kind == OpKind::Monadic && outermost.code == glyph::kRightArrow && plan.ops >= 2 &&
            plan.op[plan.ops - 2].kind == OpKind::Dyadic && plan.op[plan.ops - 2].code == glyph::kRho)
            plan.op[plan.ops - 2].flags |= kBranchAfter;
        plan.groups = static_cast<uint8_t>(groups_);
        NoteNamesAndAssignments(plan);
        return true;
    }

private:
    bool IsName(int i) const { return t_[i].tag == kTagName; }
    bool IsFunction(int i, bool top) const {
        const uint8_t tag = t_[i].tag;
        if (tag == glyph::kRightArrow) return top && IsPlainFunction(tag);
        return tag != kTagName && tag != kTagConstant && IsPlainFunction(tag) && AlwaysGivesValue(tag);
    }
    int Add(NodeKind kind, int token, int left, int right) {
        if (count_ >= kMaxPlanOps) return -1;
        node_[count_] = Node{kind, token, left, right};
        ++ops_;
        return count_++;
    }

    // The expression made of tokens [i, end); `top` when it is the whole statement.
    int Expression(int i, int end, int depth, bool top) {
        if (i >= end) return -1;
        if (IsName(i) && i + 1 < end && t_[i + 1].tag == glyph::kLeftArrow) {
            const int value = Expression(i + 2, end, depth, false);
            return value < 0 ? -1 : Add(NodeKind::Assign, i + 1, i, value);
        }
        if (IsFunction(i, top)) {
            const int argument = Expression(i + 1, end, depth, false);
            return argument < 0 ? -1 : Add(NodeKind::Monadic, i, -1, argument);
        }
        int next = i;
        const int operand = Operand(next, end, depth);
        if (operand < 0) return -1;
        if (next == end) return operand;
        if (!IsFunction(next, false) || t_[next].tag == glyph::kRightArrow) return -1;
        const int argument = Expression(next + 1, end, depth, false);
        return argument < 0 ? -1 : Add(NodeKind::Dyadic, next, operand, argument);
    }

    int Operand(int &i, int end, int depth) {
        const int at = i++;
        if (t_[at].tag == kTagName) return Add(NodeKind::Name, at, -1, -1);
        if (t_[at].tag == kTagConstant) return Add(NodeKind::Constant, at, -1, -1);
        if (t_[at].tag != glyph::kLeftParen || depth >= kMaxPlanGroups) return -1;
        int level = 1, close = at + 1;
        for (; close < end; ++close) {
            if (t_[close].tag == glyph::kLeftParen) ++level;
            if (t_[close].tag == glyph::kRightParen && --level == 0) break;
        }
        if (close >= end) return -1;
        if (depth + 1 > groups_) groups_ = depth + 1;
        const int inside = Expression(at + 1, close, depth + 1, false);
        i = close + 1;
        return inside < 0 ? -1 : Add(NodeKind::Group, at, -1, inside);
    }

    // Operations in the walk's order of evaluation: a call's right argument
    // first, then its left, then the call.
    void Emit(int index) {
        const Node &node = node_[index];
        Op op{};
        op.back = t_[node.token].back;
        switch (node.kind) {
            case NodeKind::Name:
                op.kind = OpKind::Name;
                op.symbol = NameSymbol(last_ - op.back);
                break;
            case NodeKind::Constant: op.kind = OpKind::Constant; break;
            case NodeKind::Group:
                Emit(node.right);
                // A parenthesised assignment shows its value like any other.
                if (node_[node.right].kind != NodeKind::Assign) return;
                op.kind = OpKind::Ungroup;
                break;
            case NodeKind::Monadic:
                Emit(node.right);
                op.kind = OpKind::Monadic;
                op.code = t_[node.token].tag;
                break;
            case NodeKind::Dyadic:
                Emit(node.right);
                Emit(node.left);
                op.kind = OpKind::Dyadic;
                op.code = t_[node.token].tag;
                op.member = ScalarMemberOfCode(op.code);
                break;
            case NodeKind::Assign: {
                Emit(node.right);
                op.kind = OpKind::Assign;
                op.symbol = NameSymbol(last_ - t_[node.left].back);
                // The value of a dyadic call may be written over the variable
                // it is assigned to, as the walk does for I←I+1.
                if (node_[node.right].kind == NodeKind::Dyadic && plan_->ops >= 1 && plan_->ops <= kMaxPlanOps) {
                    Op &call = plan_->op[plan_->ops - 1];
                    call.flags |= kInPlace;
                    call.symbol = op.symbol;
                }
                break;
            }
        }
        if (plan_->ops < kMaxPlanOps) plan_->op[plan_->ops] = op;
        ++plan_->ops;
    }

    // The names each run checks first, once each; whether a value read can be
    // freed before its use (only an assignment frees anything, and the last
    // operation's assignment comes after every use).
    static void NoteNamesAndAssignments(Plan &plan) {
        plan.names = 0;
        plan.borrow = true;
        for (int i = 0; i < plan.ops; ++i) {
            const Op &op = plan.op[i];
            if (op.kind == OpKind::Assign && i != plan.ops - 1) plan.borrow = false;
            if (op.kind != OpKind::Name) continue;
            bool seen = false;
            for (int j = 0; j < plan.names; ++j) seen = seen || plan.name[j] == op.symbol;
            if (!seen) plan.name[plan.names++] = op.symbol;
        }
    }

    const Token *t_;
    int n_;
    const uint8_t *last_;
    Plan *plan_ = nullptr;
    Node node_[kMaxPlanOps];
    int count_ = 0;
    int ops_ = 0;
    int groups_ = 0;
};

// Reads the line's tokens and compiles them; false when the line is not of
// the kind a plan handles. A label in front of the statement is passed over,
// as the walk passes over it.
bool CompileLine(const StoredLine &line, Plan &plan) {
    Token reversed[kMaxPlanOps + 2];
    int n = 0;
    const uint8_t *p = line.last;
    while (p > line.begin) {
        if (n == kMaxPlanOps + 2) return false;
        const uint8_t tag = *p;
        if (tag == glyph::kLineFeed) return false;
        reversed[n++] = Token{tag, static_cast<uint16_t>(line.last - p)};
        p = TokenBefore(p);
    }
    if (p != line.begin || n == 0) return false;
    Token tokens[kMaxPlanOps + 2];
    for (int i = 0; i < n; ++i) tokens[i] = reversed[n - 1 - i];
    int from = 0;
    if (n >= 2 && tokens[0].tag == kTagName && tokens[1].tag == glyph::kColon) from = 2;
    for (int i = from; i < n; ++i) {
        const uint8_t tag = tokens[i].tag;
        if (tag == glyph::kColon || tag == glyph::kDiamond) return false;
    }
    Compiler compiler(tokens, n, line.last);
    return compiler.Compile(from, plan);
}

// memcmp's call costs more than these few words. The last word may overlap
// the one before it.
bool SameBytes(const uint8_t *a, const uint8_t *b, ptrdiff_t n) {
    uint64_t x, y;
    if (n < 8) {
        for (ptrdiff_t i = 0; i < n; ++i)
            if (a[i] != b[i]) return false;
        return true;
    }
    for (ptrdiff_t i = 0; i + 8 < n; i += 8) {
        memcpy(&x, a + i, 8), memcpy(&y, b + i, 8);
        if (x != y) return false;
    }
    memcpy(&x, a + n - 8, 8), memcpy(&y, b + n - 8, 8);
    return x == y;
}

// The plan of the line: found by address and confirmed byte for byte, or
// compiled into the slot now. Null when the line has none.
const Plan *PlanOf(const StoredLine &line) {
    const ptrdiff_t length = line.last - line.begin + 1;
    if (length > kMaxPlanBytes || length < 1) return nullptr;
    const auto address = reinterpret_cast<uintptr_t>(line.last);
    Plan &plan = plans[(address ^ (address >> 7)) % kPlanSlots];
    if (plan.last == line.last && plan.length == length && SameBytes(plan.bytes, line.begin, length))
        return plan.usable ? &plan : nullptr;
    plan.last = line.last;
    plan.length = static_cast<int16_t>(length);
    memcpy(plan.bytes, line.begin, static_cast<size_t>(length));
    plan.usable = CompileLine(line, plan);
    return plan.usable ? &plan : nullptr;
}

// A name the plan may read as an array: what the walk would read as a value.
bool ReadsAsVariable(uint16_t symbol) {
    if (!IsSymbol(symbol)) return false;
    const int kind = Symbol(symbol).kind;
    if (!(kind & APL_KIND_VARIABLE) || (kind & (APL_KIND_OPERAND | APL_KIND_SYSTEM))) return false;
    // Quad and quote-quad read input, even where a header has localised them.
    const auto first = static_cast<uint8_t>(SymbolName(symbol)[0]);
    return first != glyph::kQuad && first != glyph::kQuoteQuad;
}

// ---- Running ---------------------------------------------------------------------

// How a slot holds its value, which decides what releasing it means.
enum class Hold : uint8_t {
    Link,    // one link of the slot's own
    Borrow,  // a static record, or a variable's value read where no assignment can free it before use
    Temp,    // a call's result as it came, where no assignment can free it before use
    Inline,  // a simple scalar result kept in the slot's own record
};

// A rank-0 record with room for one REAL: the size of a simple scalar block.
struct alignas(8) ScalarRecord {
    unsigned char bytes[24];
    aplarray *Array() { return reinterpret_cast<aplarray *>(bytes); }
};

struct Slot {
    aplarray *array;
    bool assigned;
    Hold hold;
    ScalarRecord record;  // the value of an Inline slot
};

class Runner {
public:
    Runner(const uint8_t *last, const PoolView &pool, bool borrow) : last_(last), pool_(pool), borrow_(borrow) {}
    ~Runner() {
        while (count_ > 0) Release(stack_[--count_]);
    }

    bool Run(const Plan &plan) {
        for (int i = 0; i < plan.ops; ++i) {
            const Op &op = plan.op[i];
            if ((op.flags & kBranchAfter) && ReshapeBranch()) {
                ++i;
                continue;
            }
            if (!Step(op)) return false;
        }
        return true;
    }
    // The statement's end: an unassigned value is shown.
    bool Finish() {
        if (count_ == 0) return true;
        if (!Box(stack_[count_ - 1])) return false;
        Slot done = stack_[--count_];
        if (!done.assigned) APL_Display(done.array);
        Release(done);
        return !aplerrno;
    }

private:
    bool Fail(const Op &op, int32_t code) {
        if (!aplerrno) SetError(code);
        if (!errorPositions.evaluator) errorPositions.evaluator = last_ - op.back;
        return false;
    }
    Slot &Push(aplarray *array, Hold hold) {
        Slot &slot = stack_[count_++];
        slot.array = array;
        slot.assigned = false;
        slot.hold = hold;
        return slot;
    }
    static void Release(Slot &slot) {
        switch (slot.hold) {
            case Hold::Link: APL_UnLinkEx(slot.array, HERE); break;
            case Hold::Temp: APL_UnLinkTempEx(slot.array, HERE); break;
            case Hold::Borrow:
            case Hold::Inline: break;
        }
    }
    // An Inline value becomes a block of its own before anything but the
    // scalar routines or the branch sees it: it is exactly the temporary the
    // scalar call would have made, held as any call's result.
    bool Box(Slot &slot) const {
        if (slot.hold != Hold::Inline) return true;
        const aplarray *inline_ = slot.array;
        aplarray *block = AllocArray(APL_SIMPLE | APL_TEMP, 0, inline_->eltype, nullptr, HERE);
        if (!block) {
            if (!aplerrno) SetError(APL_ERR_WSFULL);
            return false;
        }
        memcpy(DataOf(block), DataOf(inline_), ElementSize(inline_->eltype));
        slot.array = borrow_ ? block : APL_LinkEx(block, HERE);
        slot.hold = borrow_ ? Hold::Temp : Hold::Link;
        return true;
    }
    // Hands the top value to a callee as the walk hands an item's: a
    // temporary when nothing but the slot held it, else as it is linked.
    aplarray *Give() {
        Slot &slot = stack_[--count_];
        aplarray *a = slot.array;
        if (slot.hold == Hold::Link && !IsStatic(a) && a->lnkcnt > 0) --a->lnkcnt;
        return a;
    }

    bool Step(const Op &op) {
        switch (op.kind) {
            case OpKind::Name: return ReadName(op);
            case OpKind::Constant: return HoldConstant(op);
            case OpKind::Monadic: return CallMonadic(op);
            case OpKind::Dyadic: return CallDyadic(op);
            case OpKind::Assign: {
                Slot &top = stack_[count_ - 1];
                if (!HoldsAlready(op.symbol, top.array)) {
                    if (!Box(top)) return Fail(op, APL_ERR_WSFULL);
                    // The checks of a system variable may replace the value and
                    // release it: the slot keeps a link, as the walk's item does.
                    if (top.hold == Hold::Temp) top.array = APL_LinkEx(top.array, HERE), top.hold = Hold::Link;
                    if (!AssignName(op.symbol, top.array)) return Fail(op, APL_ERR_SYNTAX);
                }
                top.assigned = true;
                return true;
            }
            case OpKind::Ungroup: stack_[count_ - 1].assigned = false; return true;
        }
        return Fail(op, APL_ERR_SYSTEM);
    }

    // A plain variable that already holds the value (written in place, or
    // X←X): assigning it again would link and unlink the same record.
    static bool HoldsAlready(uint16_t symbol, const aplarray *value) {
        if (!IsSymbol(symbol)) return false;
        const aplsymbol &entry = Symbol(symbol);
        return entry.value == value && entry.kind == APL_KIND_VARIABLE && !IsStatic(value);
    }

    bool ReadName(const Op &op) {
        auto *value = static_cast<aplarray *>(Symbol(op.symbol).value);
        if (!value) return Fail(op, APL_ERR_VALUE);
        if (IsStatic(value)) return HoldRecord(op, value);
        if (borrow_) {
            Push(value, Hold::Borrow);
            return true;
        }
        Push(APL_LinkEx(value, HERE), Hold::Link);
        return true;
    }

    // A static record held in place, or its managed copy with a link.
    bool HoldRecord(const Op &op, aplarray *record) {
        aplarray *held = HoldStatic(record);
        if (!held) return Fail(op, APL_ERR_WSFULL);
        // A static record held where it lies has no link to give back.
        Push(held, held == record ? Hold::Borrow : Hold::Link);
        return true;
    }

    bool HoldConstant(const Op &op) {
        aplarray *constant = ConstantAt(pool_, last_ - op.back);
        if (!constant) {
            if (!aplerrno) SetErrorText(APL_ERR_SYSTEM, "%s", "Constant outside its pool");
            return Fail(op, APL_ERR_SYSTEM);
        }
        return HoldRecord(op, constant);
    }

    static aplfnc Primitive(uint8_t code) {
        return aplfnc{static_cast<intptr_t>(PrimitiveFlags(code) | APL_FN_PRIMITIVE), nullptr, nullptr, code};
    }

    // The call's value goes on the stack; only the statement's outermost call
    // may leave none (the branch).
    bool Took(const Op &op, aplarray *value) {
        if (aplerrno) {
            APL_UnLinkTempEx(value, HERE);
            return Fail(op, aplerrno);
        }
        if (value) {
            if (borrow_)
                Push(value, Hold::Temp);
            else
                Push(APL_LinkEx(value, HERE), Hold::Link);
            return true;
        }
        return (op.flags & kFinal) || Fail(op, APL_ERR_SYNTAX);
    }

    // A single INTG or Boolean value, as a count or condition; false for anything else.
    static bool SingleInteger(const aplarray *a, int32_t &value) {
        if (a->rank > 1 || IsNested(a) || (a->rank == 1 && a->shape[0] != 1)) return false;
        if (a->eltype == APL_INTG) {
            memcpy(&value, DataOf(a), sizeof value);
            return true;
        }
        if (a->eltype != APL_BOOL) return false;
        uint32_t word;
        memcpy(&word, DataOf(a), sizeof word);
        value = static_cast<int32_t>(word & 1u);
        return true;
    }

    // →C⍴L with C a single 0 or 1 and L a simple INTG scalar: branches to L
    // when C is 1, with no reshape made; both values are released. False, with
    // nothing done, for any other arguments (they take the two calls).
    bool ReshapeBranch() {
        const aplarray *count = stack_[count_ - 1].array, *target = stack_[count_ - 2].array;
        int32_t n, line;
        if (!SingleInteger(count, n) || (n != 0 && n != 1) || target->rank != 0 || target->eltype != APL_INTG ||
            PrimitiveFunction(glyph::kRho) != APL_Shape || PrimitiveFunction(glyph::kRightArrow) != APL_Jump)
            return false;
        memcpy(&line, DataOf(target), sizeof line);
        if (n == 1) BranchTo(line);
        Release(stack_[--count_]);
        Release(stack_[--count_]);
        return true;
    }

    // The branch on an INTG scalar or vector needs none of the checks of the
    // call; other arguments take it.
    bool DirectBranch() {
        const aplarray *target = stack_[count_ - 1].array;
        if (target->rank > 1 || IsNested(target) || target->eltype != APL_INTG ||
            PrimitiveFunction(glyph::kRightArrow) != APL_Jump)
            return false;
        if (target->rank == 0 || target->shape[0] > 0) {
            int32_t line;
            memcpy(&line, DataOf(target), sizeof line);
            BranchTo(line);
        }
        Release(stack_[--count_]);
        return true;
    }

    bool CallMonadic(const Op &op) {
        if (op.code == glyph::kRightArrow && DirectBranch()) return true;
        if (!Box(stack_[count_ - 1])) return Fail(op, APL_ERR_WSFULL);
        aplfnc fn = Primitive(op.code);
        aplarray *right = Give();
        return Took(op, CallFunction(&fn, nullptr, nullptr, right));
    }

    // The argument the call's result may be written over, by the walk's rule:
    // only a slot that holds a link has one of its own.
    static aplarray *WrittenOver(const Op &op, const Slot &left, const Slot &right) {
        if (!(op.flags & kInPlace)) return nullptr;
        return ArgumentWrittenOver(op.symbol, left.array, left.hold == Hold::Link ? 1 : 0, right.array,
                                   right.hold == Hold::Link ? 1 : 0);
    }

    // Two simple scalars go straight to the member's routine; a result that
    // is not written over a variable is kept in the slot's own record until
    // something other than a scalar routine needs it. False when the call is
    // not of that kind; else true with `ok` telling how it went.
    bool ScalarCall(const Op &op, bool &ok) {
        Slot &left = stack_[count_ - 1], &right = stack_[count_ - 2];
        if (left.array->rank != 0 || right.array->rank != 0) return false;
        const ScalarMember *member = op.member;
        if (!member || PrimitiveFunction(op.code) != member->entry) return false;
        aplarray *into = WrittenOver(op, left, right);
        ScalarRecord aside;
        aplarray *value = nullptr;
        if (!NumberScalars(*member, left.array, right.array, into, aside.Array(), value)) {
            if (!into) {
                const int type = DyadicResultType(member->dyadicRule, left.array->eltype, right.array->eltype);
                into = aside.Array();
                *into = aplarray{};
                into->size = type == APL_REAL ? 24 : 20;
                into->type = APL_SIMPLE;
                into->eltype = static_cast<uint8_t>(type);
                into->number = 1;
            }
            if (!ScalarOfScalars(*member, left.array, right.array, into, value)) return false;
        }
        ok = value != nullptr || Fail(op, APL_ERR_WSFULL);
        if (!ok) return true;
        Release(stack_[--count_]);
        Release(stack_[--count_]);
        if (value == aside.Array()) {
            Slot &slot = Push(nullptr, Hold::Inline);
            slot.record = aside;
            slot.array = slot.record.Array();
        } else if (value == into) {
            // Written over the variable, which holds it; the assignment follows.
            Push(value, borrow_ ? Hold::Borrow : Hold::Link);
            if (!borrow_) APL_LinkEx(value, HERE);
        } else if (borrow_) {
            Push(value, Hold::Temp);
        } else {
            Push(APL_LinkEx(value, HERE), Hold::Link);
        }
        return true;
    }

    bool CallDyadic(const Op &op) {
        bool ok;
        if (ScalarCall(op, ok)) return ok;
        if (!Box(stack_[count_ - 1]) || !Box(stack_[count_ - 2])) return Fail(op, APL_ERR_WSFULL);
        aplfnc fn = Primitive(op.code);
        aplarray *left = Give();
        aplarray *right = Give();
        return Took(op, CallFunction(&fn, nullptr, left, right));
    }

    const uint8_t *last_;
    const PoolView &pool_;
    const bool borrow_;  // the line assigns only at its end: values need no links
    Slot stack_[kMaxPlanStack];
    int count_ = 0;
};

}  // namespace

void ReadLinePlanSwitch() {
    const char *setting = getenv("ORBAX_PLANS");
    plansOn = !setting || (strcmp(setting, "0") != 0 && strcmp(setting, "off") != 0);
}

void SetLinePlans(bool on) { plansOn = on; }

bool LinePlansOn() { return plansOn; }

int64_t LinePlanRuns() { return planRuns; }

bool RunLinePlan(const StoredLine &line, const PoolView &pool) {
    if (!plansOn) return false;
    // Traced sessions see every link and block as the walk makes them; a
    // selective assignment reads its first name differently.
    if (evaluator.selective || TracingArrays() || TracingBlocks()) return false;
    const Plan *plan = PlanOf(line);
    if (!plan || evaluator.depth + 1 + plan->groups > kMaxEvaluationDepth) return false;
    for (int i = 0; i < plan->names; ++i)
        if (!ReadsAsVariable(plan->name[i])) return false;
    ++evaluator.depth;
    ++planRuns;
    bool ok;
    {
        Runner runner(line.last, pool, plan->borrow);
        ok = runner.Run(*plan) && runner.Finish();
    }
    if (!ok && !errorPositions.evaluator) errorPositions.evaluator = line.begin;
    --evaluator.depth;
    return true;
}

void ForgetLinePlans() { std::fill(std::begin(plans), std::end(plans), Plan{}); }
