// lineplan_compile: the compiler of plans. Reads a stored line's tokens,
// parses each statement of the forms a plan handles and emits its operations
// in the walk's order of evaluation.
// Relies on the stored-line reader, the primitive tables and the symbol table.
#include "interpreter/lineplan_form.h"

#include "core/glyphs.h"
#include "core/primitives.h"
#include "core/symtab.h"
#include "scalar/scllib.h"

#include <algorithm>
#include <cstdint>

namespace lineplan {

namespace {

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

enum class NodeKind : uint8_t { Name, Constant, Group, Monadic, Dyadic, Assign, Index, IndexAssign, Call };

struct Node {
    NodeKind kind;
    int token;       // the name, constant, function, arrow or right bracket
    int left = -1;   // dyadic: the left operand; assignment: the name's token; index: the array indexed
    int right = -1;  // the argument, value assigned, group's inside or index
    int index = -1;  // indexed assignment: the index
};

// Parses the tokens (in reading order) of the statements this plan handles:
//   expr    := name ← expr | name [ expr ] ← expr | fn expr | operand [fn expr]
//   operand := (name | constant | ( expr )) [ [ expr ] ]
// with fn a plain primitive or compress; anything else (strands, index lists
// of more than one position, operators, defined or system functions, blocks)
// is left to the walk.
class Compiler {
public:
    Compiler(const Token *tokens, const uint8_t *last) : t_(tokens), last_(last) {}

    // Compiles the statement of tokens [from, end) as the plan's next statement.
    bool Compile(int from, int end, Plan &plan) {
        if (plan.statements >= kMaxStatements) return false;
        const int root = Expression(from, end, 0, true);
        if (root < 0 || plan.ops + ops_ > kMaxPlanOps) return false;
        plan_ = &plan;
        Statement &statement = plan.statement[plan.statements++];
        statement.first = plan.ops;
        Emit(root);
        if (plan.ops > kMaxPlanOps) return false;
        statement.ops = static_cast<uint8_t>(plan.ops - statement.first);
        MarkBranch(plan.op + statement.first, statement.ops);
        if (groups_ > plan.groups) plan.groups = static_cast<uint8_t>(groups_);
        return NoteNamesAndAssignments(plan, statement);
    }

private:
    bool IsName(int i) const { return t_[i].tag == kTagName; }
    bool IsFunction(int i, bool top) const {
        const uint8_t tag = t_[i].tag;
        if (tag == glyph::kRightArrow) return top && IsPlainFunction(tag);
        return tag != kTagName && tag != kTagConstant && IsPlainFunction(tag) && AlwaysGivesValue(tag);
    }
    // A function right of an array operand: a plain one, or compress.
    bool IsDyadicFunction(int i) const { return IsFunction(i, false) || IsReplicate(t_[i].tag); }
    // A defined function of one or two arguments, called by the plan.
    bool IsDefinedFunction(int i) const {
        if (!IsName(i)) return false;
        const uint16_t symbol = NameSymbol(last_ - t_[i].back);
        return IsSymbol(symbol) && CalledFunction(Symbol(symbol));
    }

    // The branch forms →C⍴L, →C/L and →L×⍳C take one step when C is a single
    // 0 or 1 and L a label's number: no reshape, compress or index vector is
    // made for a value read only for its first element.
    static void MarkBranch(Op *op, int n) {
        if (n >= 1) op[n - 1].flags |= kFinal;
        if (n < 2 || op[n - 1].kind != OpKind::Monadic || op[n - 1].code != glyph::kRightArrow) return;
        const Op &call = op[n - 2];
        if (call.kind == OpKind::Dyadic && (call.code == glyph::kRho || IsReplicate(call.code))) {
            op[n - 2].flags |= kBranchAfter;
        } else if (n >= 4 && call.kind == OpKind::Dyadic && call.code == glyph::kTimes &&
                   (op[n - 3].kind == OpKind::Name || op[n - 3].kind == OpKind::Constant) &&
                   op[n - 4].kind == OpKind::Monadic && op[n - 4].code == glyph::kIota) {
            op[n - 4].flags |= kBranchIota;
        }
    }
    int Add(NodeKind kind, int token, int left, int right, int index = -1) {
        if (count_ >= kMaxPlanOps) return -1;
        node_[count_] = Node{kind, token, left, right, index};
        ++ops_;
        return count_++;
    }

    // The token that closes the bracket or parenthesis opened at `open`, or -1.
    int Closing(int open, int end) const {
        const uint8_t opening = t_[open].tag;
        const uint8_t closing = opening == glyph::kLeftParen ? glyph::kRightParen : glyph::kRightBracket;
        int level = 1;
        for (int i = open + 1; i < end; ++i) {
            if (t_[i].tag == opening) ++level;
            if (t_[i].tag == closing && --level == 0) return i;
        }
        return -1;
    }

    // The index of one position, written inside brackets [open, close].
    int IndexInside(int open, int close, int depth) {
        for (int i = open + 1; i < close; ++i)
            if (t_[i].tag == glyph::kSemicolon) return -1;
        if (depth >= kMaxPlanGroups) return -1;
        if (depth + 1 > groups_) groups_ = depth + 1;
        return Expression(open + 1, close, depth + 1, false);
    }

    // The expression made of tokens [i, end); `top` when it is the whole statement.
    int Expression(int i, int end, int depth, bool top) {
        if (i >= end) return -1;
        if (IsName(i) && i + 1 < end && t_[i + 1].tag == glyph::kLeftArrow) {
            const int value = Expression(i + 2, end, depth, false);
            return value < 0 ? -1 : Add(NodeKind::Assign, i + 1, i, value);
        }
        if (IsName(i) && i + 1 < end && t_[i + 1].tag == glyph::kLeftBracket) {
            const int close = Closing(i + 1, end);
            if (close > 0 && close + 1 < end && t_[close + 1].tag == glyph::kLeftArrow) {
                const int value = Expression(close + 2, end, depth, false);
                const int index = value < 0 ? -1 : IndexInside(i + 1, close, depth);
                return index < 0 ? -1 : Add(NodeKind::IndexAssign, close + 1, i, value, index);
            }
        }
        if (IsFunction(i, top) || IsDefinedFunction(i)) {
            const int argument = Expression(i + 1, end, depth, false);
            return argument < 0 ? -1 : Add(IsName(i) ? NodeKind::Call : NodeKind::Monadic, i, -1, argument);
        }
        int next = i;
        const int operand = Operand(next, end, depth);
        if (operand < 0) return -1;
        if (next == end) return operand;
        const bool defined = IsDefinedFunction(next);
        if ((!IsDyadicFunction(next) && !defined) || t_[next].tag == glyph::kRightArrow) return -1;
        const int argument = Expression(next + 1, end, depth, false);
        return argument < 0 ? -1 : Add(defined ? NodeKind::Call : NodeKind::Dyadic, next, operand, argument);
    }

    int Operand(int &i, int end, int depth) {
        const int simple = SimpleOperand(i, end, depth);
        if (simple < 0 || i >= end || t_[i].tag != glyph::kLeftBracket) return simple;
        const int close = Closing(i, end);
        if (close < 0) return -1;
        const int index = IndexInside(i, close, depth);
        // An error of indexing is the array's, as the walk places it.
        const int array = i - 1;
        i = close + 1;
        return index < 0 ? -1 : Add(NodeKind::Index, array, simple, index);
    }

    int SimpleOperand(int &i, int end, int depth) {
        const int at = i++;
        if (IsDefinedFunction(at)) return -1;
        if (t_[at].tag == kTagName) return Add(NodeKind::Name, at, -1, -1);
        if (t_[at].tag == kTagConstant) return Add(NodeKind::Constant, at, -1, -1);
        if (t_[at].tag != glyph::kLeftParen || depth >= kMaxPlanGroups) return -1;
        const int close = Closing(at, end);
        if (close < 0) return -1;
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
                if (node_[node.right].kind != NodeKind::Assign && node_[node.right].kind != NodeKind::IndexAssign)
                    return;
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
            case NodeKind::Call:
                Emit(node.right);
                if (node.left >= 0) Emit(node.left);
                op.kind = OpKind::Call;
                op.code = node.left >= 0 ? 2 : 1;
                op.symbol = NameSymbol(last_ - op.back);
                plan_->calls = true;
                break;
            case NodeKind::Index:
                // The walk reads the index list first, then the array.
                Emit(node.right);
                Emit(node.left);
                op.kind = OpKind::Index;
                break;
            case NodeKind::IndexAssign:
                Emit(node.right);
                Emit(node.index);
                op.kind = OpKind::IndexAssign;
                op.symbol = NameSymbol(last_ - t_[node.left].back);
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
    // False when the statement reads quad or quote-quad, which read input
    // (even where a header has localised them): such lines take the walk.
    static bool NoteNamesAndAssignments(Plan &plan, Statement &statement) {
        statement.firstName = plan.names;
        statement.names = 0;
        statement.borrow = true;
        const int end = statement.first + statement.ops;
        uint16_t *name = plan.name + plan.names;
        for (int i = statement.first; i < end; ++i) {
            const Op &op = plan.op[i];
            const bool assigns = op.kind == OpKind::Assign || op.kind == OpKind::IndexAssign;
            // A defined function may assign any name: nothing is borrowed
            // in a statement that calls one.
            if ((assigns && i != end - 1) || op.kind == OpKind::Call) statement.borrow = false;
            if (op.kind != OpKind::Name) continue;
            if (!IsSymbol(op.symbol)) return false;
            const auto first = static_cast<uint8_t>(SymbolName(op.symbol)[0]);
            if (first == glyph::kQuad || first == glyph::kQuoteQuad) return false;
            bool seen = false;
            for (int j = 0; j < statement.names; ++j) seen = seen || name[j] == op.symbol;
            if (!seen) name[statement.names++] = op.symbol;
        }
        plan.names = static_cast<uint8_t>(plan.names + statement.names);
        return true;
    }

    const Token *t_;
    const uint8_t *last_;
    Plan *plan_ = nullptr;
    Node node_[kMaxPlanOps];
    int count_ = 0;
    int ops_ = 0;
    int groups_ = 0;
};

// Notes the kinds of the names among the tokens, labels aside; false when
// there are too many.
bool NoteKinds(const Token *tokens, int n, const uint8_t *last, Plan &plan) {
    for (int i = 0; i < n; ++i) {
        if (tokens[i].tag != kTagName || (i + 1 < n && tokens[i + 1].tag == glyph::kColon)) continue;
        const uint16_t symbol = NameSymbol(last - tokens[i].back);
        if (!IsSymbol(symbol)) return false;
        bool seen = false;
        for (int j = 0; j < plan.kinds; ++j) seen = seen || plan.kindName[j] == symbol;
        if (seen) continue;
        if (plan.kinds == kMaxLineNames) return false;
        plan.kindName[plan.kinds] = symbol;
        plan.kindOf[plan.kinds++] = CalledFunction(Symbol(symbol));
    }
    return true;
}

}  // namespace

// Compress, which is the reduce operator when a function stands to its left:
// the plans take it only right of an array operand, where the walk takes it
// as the function.
bool IsReplicate(uint8_t code) { return code == glyph::kSlash || code == glyph::kSlashBar; }

// A defined function (not an operator, not niladic) that has a definition.
bool CalledFunction(const aplsymbol &entry) {
    const int kind = entry.kind;
    return (kind & APL_KIND_USER) && (kind & APL_KIND_FUNCTION) && entry.value &&
           !(kind & (APL_KIND_VARIABLE | APL_KIND_LABELBIT | APL_KIND_MONOP | APL_KIND_DYOP | APL_KIND_OPERAND));
}

// Whether the line's names are still called or read as when its plan was compiled.
bool KindsHold(const Plan &plan) {
    for (int i = 0; i < plan.kinds; ++i)
        if (!IsSymbol(plan.kindName[i]) || CalledFunction(Symbol(plan.kindName[i])) != plan.kindOf[i]) return false;
    return true;
}

// Reads the line's tokens and compiles each statement, the rightmost first;
// false when the line is not of the kind a plan handles. A label in front of
// the line is passed over, as the walk passes over it.
bool CompileLine(const StoredLine &line, Plan &plan) {
    Token tokens[kMaxPlanTokens];
    int n = 0;
    const uint8_t *p = line.last;
    while (p > line.begin) {
        if (n == kMaxPlanTokens) return false;
        const uint8_t tag = *p;
        if (tag == glyph::kLineFeed) return false;
        tokens[n++] = Token{tag, static_cast<uint16_t>(line.last - p)};
        p = TokenBefore(p);
    }
    if (p != line.begin || n == 0) return false;
    std::reverse(tokens, tokens + n);
    plan.ops = plan.groups = plan.statements = plan.names = plan.kinds = 0;
    plan.calls = false;
    if (!NoteKinds(tokens, n, line.last, plan)) return false;
    int end = n;
    for (int i = n - 1; i >= -1; --i) {
        const uint8_t tag = i >= 0 ? tokens[i].tag : glyph::kDiamond;
        if (tag != glyph::kDiamond) continue;
        // A statement may start with a label, which the walk passes over.
        int from = i + 1;
        if (end - from >= 2 && tokens[from].tag == kTagName && tokens[from + 1].tag == glyph::kColon) from += 2;
        // An empty statement, a diamond at either end, is left to the walk.
        if (from >= end) return false;
        for (int j = from; j < end; ++j)
            if (tokens[j].tag == glyph::kColon) return false;
        Compiler compiler(tokens, line.last);
        if (!compiler.Compile(from, end, plan)) return false;
        end = i;
    }
    return plan.statements > 0;
}

}  // namespace lineplan
