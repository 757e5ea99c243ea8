// lineplan: statement lines compiled once, when first run, into a short list of
// operations (read a variable, hold a constant, call a primitive, assign) that
// later runs of the same line follow without matching any reduction rule.
// Relies on the stored-line format, the primitive tables and the evaluator's assignment.
#include "interpreter/lineplan.h"

#include "core/arrays.h"
#include "core/call.h"
#include "core/errors.h"
#include "core/glyphs.h"
#include "core/primitives.h"
#include "core/symtab.h"
#include "interpreter/execline.h"
#include "scalar/scllib.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

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

struct Op {
    OpKind kind;
    uint8_t code;     // the primitive's character
    uint8_t inPlace;  // a dyadic call whose result the next operation assigns
    uint8_t final;    // the statement's outermost call (the branch may leave no value)
    uint16_t symbol;  // name read or assigned; for in-place calls the variable assigned
    uint16_t back;    // the token's distance from the line's rightmost tag (error position)
};

struct Plan {
    const uint8_t *last = nullptr;  // the line this slot describes
    int16_t length = -1;            // bytes from the left marker to the rightmost tag
    bool usable = false;            // false: the line is not of the compiled kind
    uint8_t ops = 0;
    uint8_t groups = 0;  // deepest nesting of parentheses
    uint8_t bytes[kMaxPlanBytes];
    Op op[kMaxPlanOps];
};

Plan plans[kPlanSlots];

uint16_t ReadShort(const uint8_t *p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t ReadLong(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

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
        plan.op[plan.ops - 1].final = 1;
        plan.groups = static_cast<uint8_t>(groups_);
        return plan.ops <= kMaxPlanOps;
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
                op.symbol = ReadShort(last_ - op.back - 2);
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
                break;
            case NodeKind::Assign: {
                Emit(node.right);
                op.kind = OpKind::Assign;
                op.symbol = ReadShort(last_ - t_[node.left].back - 2);
                // The value of a dyadic call may be written over the variable
                // it is assigned to, as the walk does for I←I+1.
                if (node_[node.right].kind == NodeKind::Dyadic) {
                    Op &call = plan_->op[plan_->ops - 1];
                    call.inPlace = 1;
                    call.symbol = op.symbol;
                }
                break;
            }
        }
        if (plan_->ops < kMaxPlanOps) plan_->op[plan_->ops] = op;
        ++plan_->ops;
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
        p -= tag == kTagConstant ? 5 : tag == kTagName ? 3 : 1;
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

// The plan of the line: found by address and confirmed byte for byte, or
// compiled into the slot now. Null when the line has none.
const Plan *PlanOf(const StoredLine &line) {
    const ptrdiff_t length = line.last - line.begin + 1;
    if (length > kMaxPlanBytes || length < 1) return nullptr;
    const auto address = reinterpret_cast<uintptr_t>(line.last);
    Plan &plan = plans[(address ^ (address >> 7)) % kPlanSlots];
    if (plan.last == line.last && plan.length == length && memcmp(plan.bytes, line.begin, length) == 0)
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

// A value on the plan's stack: one link held (or a static record held in place).
struct Slot {
    aplarray *array;
    bool assigned;
};

class Runner {
public:
    Runner(const uint8_t *last, const PoolView &pool) : last_(last), pool_(pool) {}
    ~Runner() {
        for (int i = 0; i < count_; ++i) APL_UnLinkEx(stack_[i].array, HERE);
    }

    bool Run(const Plan &plan) {
        for (int i = 0; i < plan.ops; ++i)
            if (!Step(plan.op[i])) return false;
        return true;
    }
    // The statement's end: an unassigned value is shown.
    bool Finish() {
        if (count_ == 0) return true;
        Slot done = stack_[--count_];
        if (!done.assigned) APL_Display(done.array);
        APL_UnLinkEx(done.array, HERE);
        return !aplerrno;
    }

private:
    bool Fail(const Op &op, int32_t code) {
        if (!aplerrno) SetError(code);
        if (!errorPositions.evaluator) errorPositions.evaluator = last_ - op.back;
        return false;
    }
    void Push(aplarray *array) { stack_[count_++] = Slot{array, false}; }
    // Hands the top value to a callee as a temporary when only its slot held it.
    aplarray *Give() {
        aplarray *a = stack_[--count_].array;
        if (!IsStatic(a) && a->lnkcnt > 0) --a->lnkcnt;
        return a;
    }

    bool Step(const Op &op) {
        switch (op.kind) {
            case OpKind::Name: return ReadName(op);
            case OpKind::Constant: return HoldConstant(op);
            case OpKind::Monadic: return CallMonadic(op);
            case OpKind::Dyadic: return CallDyadic(op);
            case OpKind::Assign:
                if (!AssignName(op.symbol, stack_[count_ - 1].array)) return Fail(op, APL_ERR_SYNTAX);
                stack_[count_ - 1].assigned = true;
                return true;
            case OpKind::Ungroup: stack_[count_ - 1].assigned = false; return true;
        }
        return Fail(op, APL_ERR_SYSTEM);
    }

    bool ReadName(const Op &op) {
        auto *value = static_cast<aplarray *>(Symbol(op.symbol).value);
        if (!value) return Fail(op, APL_ERR_VALUE);
        aplarray *held = IsStatic(value) ? HoldStatic(value) : APL_LinkEx(value, HERE);
        if (!held) return Fail(op, APL_ERR_WSFULL);
        Push(held);
        return true;
    }

    bool HoldConstant(const Op &op) {
        const uint32_t offset = ReadLong(last_ - op.back - 4);
        if (pool_.size < 20 || offset > pool_.size - 20) {
            if (!aplerrno) SetErrorText(APL_ERR_SYSTEM, "%s", "Constant outside its pool");
            return Fail(op, APL_ERR_SYSTEM);
        }
        auto *constant = reinterpret_cast<aplarray *>(const_cast<char *>(pool_.base) + offset);
        aplarray *held = HoldStatic(constant);
        if (!held) return Fail(op, APL_ERR_WSFULL);
        Push(held);
        return true;
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
            Push(APL_LinkEx(value, HERE));
            return true;
        }
        return op.final || Fail(op, APL_ERR_SYNTAX);
    }

    bool CallMonadic(const Op &op) {
        aplfnc fn = Primitive(op.code);
        aplarray *right = Give();
        return Took(op, CallFunction(&fn, nullptr, nullptr, right));
    }

    // The variable the call's result is assigned to, when an argument is its
    // whole value held by nothing but the variable and its slot.
    aplarray *WrittenOver(const Op &op, aplarray *left, aplarray *right) const {
        if (!op.inPlace || !IsSymbol(op.symbol)) return nullptr;
        const aplsymbol &entry = Symbol(op.symbol);
        if ((entry.kind & ~APL_KIND_USER) != APL_KIND_VARIABLE || !entry.value) return nullptr;
        for (aplarray *a : {left, right})
            if (a == entry.value && !IsStatic(a) && a->lnkcnt == 2) return a;
        return nullptr;
    }

    // Two simple scalars go straight to the member's routine. False when the
    // call is not of that kind; else true with `ok` telling how it went.
    bool ScalarCall(const Op &op, bool &ok) {
        aplarray *left = stack_[count_ - 1].array, *right = stack_[count_ - 2].array;
        if (left->rank != 0 || right->rank != 0) return false;
        const ScalarMember *member = ScalarMemberOfCode(op.code);
        if (!member || PrimitiveFunction(op.code) != member->entry) return false;
        aplarray *value = nullptr;
        if (!ScalarOfScalars(*member, left, right, WrittenOver(op, left, right), value)) return false;
        ok = value != nullptr || Fail(op, APL_ERR_WSFULL);
        if (!ok) return true;
        value = APL_LinkEx(value, HERE);
        APL_UnLinkEx(stack_[--count_].array, HERE);
        APL_UnLinkEx(stack_[--count_].array, HERE);
        Push(value);
        return true;
    }

    bool CallDyadic(const Op &op) {
        bool ok;
        if (ScalarCall(op, ok)) return ok;
        aplfnc fn = Primitive(op.code);
        aplarray *left = Give();
        aplarray *right = Give();
        return Took(op, CallFunction(&fn, nullptr, left, right));
    }

    const uint8_t *last_;
    const PoolView &pool_;
    Slot stack_[kMaxPlanStack];
    int count_ = 0;
};

}  // namespace

bool RunLinePlan(const StoredLine &line, const PoolView &pool) {
    // Traced sessions see every link and block as the walk makes them; a
    // selective assignment reads its first name differently.
    if (evaluator.selective || TracingArrays() || TracingBlocks()) return false;
    const Plan *plan = PlanOf(line);
    if (!plan || evaluator.depth + 1 + plan->groups > kMaxEvaluationDepth) return false;
    for (int i = 0; i < plan->ops; ++i)
        if (plan->op[i].kind == OpKind::Name && !ReadsAsVariable(plan->op[i].symbol)) return false;
    ++evaluator.depth;
    bool ok;
    {
        Runner runner(line.last, pool);
        ok = runner.Run(*plan) && runner.Finish();
    }
    if (!ok && !errorPositions.evaluator) errorPositions.evaluator = line.begin;
    --evaluator.depth;
    return true;
}
