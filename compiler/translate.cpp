// translate: one stored line of a fixed function into C statements. The walk
// follows the evaluator's: items are formed from the right, operators bind
// their operands, a function applies once what stands left of it is known;
// instead of values the items hold the C expressions that compute them.
// Relies on the tokenizer's stored lines, the primitive tables and the symbol table.
#include "compiler/translate.h"

#include "core/errors.h"
#include "core/glyphs.h"
#include "core/primitives.h"
#include "core/symtab.h"
#include "interpreter/storedline.h"
#include "interpreter/tokenizer.h"

#include <cstdio>

namespace {

constexpr int kMaxItems = 8;
constexpr int kMaxDepth = 64;  // nested parentheses, brackets and blocks

// Walk modes: where a walk ends, and whether it completes statements.
constexpr int kWalkLine = 0;
constexpr int kWalkGroup = 1;
constexpr int kWalkIndex = 2;
constexpr int kWalkSegment = 4;
constexpr int kWalkStatements = 8;


enum class Kind { None, Array, Function, MonOp, DyOp, Arrow };
enum class Form { Primitive, User, System, Derived, Operand, Bound };

struct Item {
    Kind kind = Kind::None;
    Form form = Form::Primitive;
    std::string text;   // an array's expression; a function's C name or derived descriptor
    std::string axis;   // index list written after a function or operator
    std::string bound;  // the array operand of / or ⌿, which makes them replicate
    uint8_t code = 0;   // a primitive's character
    uint16_t symbol = 0;  // a user-defined function's or operator's name
    bool strand = false, assigned = false, temporary = false, rankSpecification = false;
    bool IsArray() const { return kind == Kind::Array; }
    bool IsFunction() const { return kind == Kind::Function; }
};

bool Fail(int32_t code) {
    if (!aplerrno) SetError(code);
    return false;
}
bool FailText(int32_t code, const char *text) {
    if (!aplerrno) SetErrorText(code, "%s", text);
    return false;
}

std::string OrNull(const std::string &text) { return text.empty() ? "NULL" : text; }

// Names as the compiled function sees them.
enum class NameKind { Quad, QuoteQuad, Variable, Operand, Function, Niladic, MonOp, DyOp, System, SystemNiladic };

class Walk {
public:
    Walk(Compilation &c, FunctionContext &f, const uint8_t *position, int mode, int depth)
        : c_(c), f_(f), p_(position), mode_(mode), depth_(depth) {}
    // Translates up to the token that ends this walk; `out` receives the final
    // item (outside statement mode). Returns that token's position, or null.
    const uint8_t *Run(Item &out);

private:
    bool Form(Item &item, bool &formed);
    bool FormPrimitive(uint8_t code, Item &item, bool &formed);
    bool FormConstant(Item &item);
    bool FormName(Item &item, bool &formed);
    bool FormGroup(Item &item);
    bool FormIndexList();
    bool Block();
    bool Reduce(Item x);
    bool CompleteCalls(bool monadicToo);
    bool Assign(Item &value);
    bool AssignSelective(const uint8_t *close, const std::string &index, Item &value);
    bool Call(const Item &function, const Item *left, const Item &right, Item &result);
    bool Bind(const Item &op, const Item &left, const Item *right, Item &derived);
    bool OperandText(const Item &operand, std::string &text);
    bool FinishStatement(bool atEnd);
    bool AtLeftEnd() const;
    bool TokenIsFunction(const uint8_t *at) const;
    bool TokenIsDyadicOperator(const uint8_t *at) const;
    bool RecordOperandUse(const Item &op, const Item &left, const Item *right);
    void TakeAsOperand();
    NameKind ClassOf(uint16_t symbol) const;
    bool Variable(uint16_t symbol, std::string &text);
    void Statement(const std::string &text);
    bool Push(Item &item) {
        if (count_ >= kMaxItems) return Fail(APL_ERR_LIMIT);
        stack_[count_++] = item;
        return true;
    }
    Item Pop() { return stack_[--count_]; }
    Item &Top(int below = 0) { return stack_[count_ - 1 - below]; }
    bool Has(int n) const { return count_ >= n; }

    Compilation &c_;
    FunctionContext &f_;
    const uint8_t *p_;
    int mode_;
    int depth_;
    Item stack_[kMaxItems];
    int count_ = 0;
    std::string pending_;  // an index list waiting for the item to its left
    bool hasPending_ = false;
};

bool Walk::AtLeftEnd() const {
    switch (*p_) {
        case glyph::kLineFeed:
        case glyph::kLeftParen:
        case glyph::kColon:
        case glyph::kSemicolon:
        case glyph::kLeftBracket:
        case glyph::kLeftBrace:
        case glyph::kDiamond: return true;
        default: return false;
    }
}

NameKind Walk::ClassOf(uint16_t symbol) const {
    const char *name = SymbolName(symbol);
    if (static_cast<uint8_t>(name[0]) == glyph::kQuad && name[1] == 0) return NameKind::Quad;
    if (static_cast<uint8_t>(name[0]) == glyph::kQuoteQuad && name[1] == 0) return NameKind::QuoteQuad;
    if (f_.operands.count(symbol)) return NameKind::Operand;
    if (f_.localNames.count(symbol)) return NameKind::Variable;
    const aplsymbol &entry = Symbol(symbol);
    if (IsUserFunction(symbol)) {
        if (entry.kind & APL_KIND_DYOP) return NameKind::DyOp;
        if (entry.kind & APL_KIND_MONOP) return NameKind::MonOp;
        return (entry.kind & APL_KIND_LABELBIT) ? NameKind::Niladic : NameKind::Function;
    }
    if ((entry.kind & (APL_KIND_SYSTEM | APL_KIND_FUNCTION)) == (APL_KIND_SYSTEM | APL_KIND_FUNCTION) && entry.value)
        return (entry.kind & APL_KIND_LABELBIT) ? NameKind::SystemNiladic : NameKind::System;
    return NameKind::Variable;
}

bool Walk::TokenIsFunction(const uint8_t *at) const {
    const uint8_t tag = *at;
    if (tag == kTagName) {
        const uint16_t symbol = NameSymbol(at);
        if (!IsSymbol(symbol)) return false;
        switch (ClassOf(symbol)) {
            case NameKind::Operand:
            case NameKind::Function:
            case NameKind::Niladic:
            case NameKind::MonOp:
            case NameKind::DyOp:
            case NameKind::System:
            case NameKind::SystemNiladic: return true;
            default: return false;
        }
    }
    if (tag == kTagConstant || tag == glyph::kLeftArrow || tag == glyph::kColon || tag == glyph::kLineFeed)
        return false;
    const uint16_t cls = TagClass(tag);
    return cls != 0 && (cls & (APL_FN_FUNCTION | APL_FN_MONOP | APL_FN_DYOP)) != 0 &&
           !(PrimitiveFlags(tag) & APL_FN_NILADIC);
}

// An item just right of a dyadic operator is its right operand and waits for
// it: operators bind from the left, as the evaluator binds them.
bool Walk::TokenIsDyadicOperator(const uint8_t *at) const {
    const uint8_t tag = *at;
    if (tag == kTagName) {
        const uint16_t symbol = NameSymbol(at);
        return IsSymbol(symbol) && ClassOf(symbol) == NameKind::DyOp;
    }
    if (tag == kTagConstant || tag == glyph::kLeftArrow || tag == glyph::kColon || tag == glyph::kLineFeed)
        return false;
    const uint16_t cls = TagClass(tag);
    return (cls & APL_FN_DYOP) != 0 && !(cls & APL_FN_FUNCTION);
}

// A group that gave a function, left of a symbol that is both function and
// operator: the symbol is the operator taking it.
void Walk::TakeAsOperand() {
    if (!Has(1)) return;
    Item &symbol = Top();
    if (!symbol.IsFunction() || symbol.form != Form::Primitive) return;
    const uint16_t flags = PrimitiveFlags(symbol.code);
    if (!(flags & APL_FN_FUNCTION) || !(flags & (APL_FN_MONOP | APL_FN_DYOP))) return;
    const char *name = PrimitiveOperatorName(symbol.code);
    if (!name) return;
    symbol.kind = (flags & APL_FN_DYOP) ? Kind::DyOp : Kind::MonOp;
    symbol.text = name;
}

void Walk::Statement(const std::string &text) {
    c_.out.Expanded(text);
    c_.out.Text(";");
    c_.out.Newline();
    c_.out.Line("if (APL_DidJump()) goto " + f_.jumpTargets.back() + ";");
}

const uint8_t *Walk::Run(Item &out) {
    if (depth_ > kMaxDepth) {
        Fail(APL_ERR_LIMIT);
        return nullptr;
    }
    bool ok = true;
    while (ok) {
        const uint8_t tag = *p_;
        if (tag == glyph::kLineFeed) {
            if (mode_ & (kWalkGroup | kWalkIndex | kWalkSegment)) ok = Fail(APL_ERR_SYNTAX);
            break;
        }
        if (tag == glyph::kLeftParen) {
            if (!(mode_ & kWalkGroup)) ok = Fail(APL_ERR_SYNTAX);
            break;
        }
        if (tag == glyph::kSemicolon || tag == glyph::kLeftBracket) {
            if (!(mode_ & kWalkIndex)) ok = Fail(APL_ERR_SYNTAX);
            break;
        }
        if (tag == glyph::kLeftBrace) {
            if (!(mode_ & kWalkSegment)) ok = Fail(APL_ERR_SYNTAX);
            break;
        }
        if (tag == glyph::kColon) {
            if (mode_ & kWalkSegment) break;
            if (mode_ & (kWalkGroup | kWalkIndex)) {
                ok = Fail(APL_ERR_SYNTAX);
                break;
            }
            // A label: the statement to its right is complete.
            ok = FinishStatement(false);
            --p_;
            if (*p_ == kTagName) p_ = TokenBefore(p_);
            continue;
        }
        if (tag == glyph::kDiamond) {
            if (mode_ & (kWalkGroup | kWalkIndex)) {
                ok = Fail(APL_ERR_SYNTAX);
                break;
            }
            ok = FinishStatement(false);
            --p_;
            continue;
        }
        Item item;
        bool formed = false;
        ok = Form(item, formed);
        if (ok && formed) ok = Reduce(item);
    }
    if (ok && hasPending_) ok = Fail(APL_ERR_SYNTAX);
    if (ok) ok = FinishStatement(true);
    if (!ok) return nullptr;
    if (count_ == 1) out = Pop();
    return p_;
}

bool Walk::FinishStatement(bool atEnd) {
    if (count_ > 1) return Fail(APL_ERR_SYNTAX);
    const bool statements = !atEnd || (mode_ & kWalkStatements) || mode_ == kWalkLine;
    if (count_ == 0 || !statements) return true;
    Item item = Pop();
    if (!item.IsArray()) return Fail(APL_ERR_SYNTAX);
    if (!item.assigned)
        Statement(CallText("KAZ_Display", {item.text}));
    else if (item.temporary)
        Statement(CallText("APL_UnLinkTemp", {item.text}));
    else
        Statement(item.text);
    return true;
}

bool Walk::Form(Item &item, bool &formed) {
    const uint8_t tag = *p_;
    bool ok;
    switch (tag) {
        case kTagConstant:
            ok = FormConstant(item);
            formed = ok;
            break;
        case kTagName: ok = FormName(item, formed); break;
        case glyph::kRightParen:
            ok = FormGroup(item);
            formed = ok;
            break;
        case glyph::kRightBracket:
            ok = FormIndexList();
            formed = false;
            break;
        case glyph::kRightBrace:
            ok = Block();
            formed = false;
            break;
        case glyph::kLeftArrow:
            if (count_ == 0) return Fail(APL_ERR_SYNTAX);
            if (hasPending_) return Fail(APL_ERR_INDEX);
            item.kind = Kind::Arrow;
            --p_;
            formed = true;
            return true;
        default:
            if (tag != glyph::kColon && TagClass(tag) != 0) {
                ok = FormPrimitive(tag, item, formed);
            } else {
                SetErrorText(APL_ERR_SYSTEM, "Illegal character %d in control sequence !\n", tag);
                ok = false;
            }
            break;
    }
    if (!ok) return false;
    if (formed && tag == glyph::kJotDiaeresis && !hasPending_ && Has(1) && Top().rankSpecification) {
        // The cell ranks written right of ⍤ travel as its axis.
        item.axis = Pop().text;
    }
    if (formed && tag == glyph::kRightParen && item.IsFunction()) TakeAsOperand();
    if (!formed || !hasPending_) return true;
    // An index list or axis belongs to the item just left of it.
    hasPending_ = false;
    if (item.IsArray()) {
        item.text = CallText("APL_IndexData", {item.text, pending_, "NULL"});
        item.strand = item.assigned = item.temporary = false;
        return true;
    }
    if (item.kind == Kind::Function || item.kind == Kind::MonOp || item.kind == Kind::DyOp) {
        if (!item.axis.empty()) return Fail(APL_ERR_SYNTAX);
        item.axis = pending_;
        return true;
    }
    return Fail(APL_ERR_SYNTAX);
}

bool Walk::FormPrimitive(uint8_t code, Item &item, bool &formed) {
    --p_;
    uint16_t flags = PrimitiveFlags(code);
    if ((flags & APL_FN_FUNCTION) && (flags & (APL_FN_MONOP | APL_FN_DYOP))) {
        // Reduce or replicate, scan or expand: an operator when a function
        // stands to its left.
        if (TokenIsFunction(p_))
            flags = static_cast<uint16_t>(flags & ~APL_FN_FUNCTION);
        else
            flags = static_cast<uint16_t>(flags & ~(APL_FN_MONOP | APL_FN_DYOP));
    }
    item.code = code;
    item.form = Form::Primitive;
    formed = true;
    if (flags & APL_FN_FUNCTION) {
        const char *name = PrimitiveFunctionName(code);
        if (!name) {
            SetErrorText(APL_ERR_SYSTEM, "Illegal character %d in control sequence !\n", code);
            return false;
        }
        item.kind = Kind::Function;
        item.text = name;
        if (code == glyph::kControlSymbol && count_ == 0 && !hasPending_ && (mode_ == kWalkLine || (mode_ & kWalkStatements))) {
            // Alone at the right end of a statement it closes a control line.
            formed = false;
            Statement(CallText("APL_UnLinkTemp", {CallText(name, {"NULL", "NULL", "NULL"})}));
            return true;
        }
        if (flags & APL_FN_NILADIC) {
            item.kind = Kind::Array;
            item.text = CallText(name, {"NULL", "NULL", "NULL"});
        }
        return true;
    }
    const char *name = PrimitiveOperatorName(code);
    if (!name || !(flags & (APL_FN_MONOP | APL_FN_DYOP))) {
        SetErrorText(APL_ERR_SYSTEM, "Illegal character %d in control sequence !\n", code);
        return false;
    }
    item.kind = (flags & APL_FN_DYOP) ? Kind::DyOp : Kind::MonOp;
    item.text = name;
    return true;
}

bool Walk::FormConstant(Item &item) {
    if (f_.selective && !f_.selectiveMet) return FailText(APL_ERR_SYNTAX, "In selective assignment");
    const uint32_t offset = ConstantOffset(p_);
    const auto *record = reinterpret_cast<const uint8_t *>(ConstantAt(f_.view.Pool(), p_));
    p_ = TokenBefore(p_);
    if (!record) return FailText(APL_ERR_SYSTEM, "Constant outside its pool");
    // The record's type byte, read as a byte: a pool gives no alignment.
    const uint8_t type = record[4];
    item.kind = Kind::Array;
    item.strand = (type & APL_STRAND) != 0;
    char text[48];
    snprintf(text, sizeof text, "%c(aplarray *%c)const%lu", kMarkNoCall, kMarkNoCall, static_cast<unsigned long>(offset));
    item.text = text;
    return true;
}

bool Walk::Variable(uint16_t symbol, std::string &text) {
    const std::string id = Identifier(c_, symbol);
    if (id.empty()) return false;
    if (!f_.localNames.count(symbol)) c_.globals.Add(symbol);
    text = id;
    return true;
}

bool Walk::FormName(Item &item, bool &formed) {
    const uint16_t symbol = NameSymbol(p_);
    p_ = TokenBefore(p_);
    if (!IsSymbol(symbol)) return FailText(APL_ERR_SYSTEM, "Invalid symbol index");
    formed = true;
    const NameKind kind = ClassOf(symbol);
    std::string id;
    if (f_.selective && !f_.selectiveMet) {
        // The first name of a selective assignment is its variable.
        if (kind != NameKind::Variable)
            return FailText(APL_ERR_SYNTAX, "selective assignment is allowed only for varables");
        if (Symbol(symbol).kind & APL_KIND_SYSTEM)
            return FailText(APL_ERR_SYNTAX, "System variables not allowed in selective specification");
        if (!Variable(symbol, id)) return false;
        f_.selectiveMet = true;
        f_.selectiveSymbol = symbol;
        item.kind = Kind::Array;
        item.text = CallText("KAZ_SelectArray", {std::string("APL_Variable") + kMarkNoCall + "(" + id + "_idx" +
                                                     kMarkNoCall + ")"});
        return true;
    }
    switch (kind) {
        case NameKind::Quad:
            item.kind = Kind::Array;
            item.text = "APL_QuadInput()";
            return true;
        case NameKind::QuoteQuad:
            item.kind = Kind::Array;
            item.text = "APL_QQuadInput()";
            return true;
        case NameKind::Variable:
            if (!Variable(symbol, id)) return false;
            item.kind = Kind::Array;
            item.text = std::string("APL_Variable") + kMarkNoCall + "(" + id + "_idx" + kMarkNoCall + ")";
            return true;
        case NameKind::Operand:
            item.kind = Kind::Function;
            item.form = Form::Operand;
            item.text = f_.operands[symbol];
            return true;
        case NameKind::Function:
        case NameKind::Niladic:
        case NameKind::MonOp:
        case NameKind::DyOp:
            id = Identifier(c_, symbol);
            if (id.empty()) return false;
            c_.functions.Add(symbol);
            item.form = Form::User;
            item.symbol = symbol;
            item.text = id;
            item.kind = kind == NameKind::MonOp ? Kind::MonOp : kind == NameKind::DyOp ? Kind::DyOp : Kind::Function;
            if (kind == NameKind::Niladic) {
                item.kind = Kind::Array;
                item.text = CallText(id, {"NULL", "NULL", "NULL"});
            }
            return true;
        case NameKind::System:
        case NameKind::SystemNiladic: {
            bool plugin = false;
            const char *cName = SystemFunctionCName(reinterpret_cast<aplfunction>(Symbol(symbol).value), plugin);
            if (!cName) return FailText(APL_ERR_DOMAIN, "System function without a name for generated code");
            if (plugin) c_.plugins.Add(symbol);
            // FUNCTION(Name) is a name, not a call.
            std::string name;
            for (const char *q = cName; *q; ++q) {
                if (*q == '(' || *q == ')') name += kMarkNoCall;
                name += *q;
            }
            item.form = Form::System;
            item.kind = Kind::Function;
            item.text = name;
            if (kind == NameKind::SystemNiladic) {
                item.kind = Kind::Array;
                item.text = CallText(name, {"NULL", "NULL", "NULL"});
            }
            return true;
        }
    }
    return Fail(APL_ERR_SYNTAX);
}

bool Walk::FormGroup(Item &item) {
    Walk inside(c_, f_, p_ - 1, kWalkGroup, depth_ + 1);
    Item result;
    const uint8_t *stop = inside.Run(result);
    if (!stop) return false;
    p_ = stop - 1;
    if (result.kind == Kind::None) return Fail(APL_ERR_SYNTAX);
    result.strand = false;
    result.assigned = false;
    result.rankSpecification = false;
    item = result;
    return true;
}

bool Walk::FormIndexList() {
    if (hasPending_) return Fail(APL_ERR_SYNTAX);
    --p_;
    std::string list;
    int positions = 0;
    for (;;) {
        Walk piece(c_, f_, p_, kWalkIndex, depth_ + 1);
        Item value;
        const uint8_t *stop = piece.Run(value);
        if (!stop) return false;
        std::string index;
        if (value.kind == Kind::None)
            index = std::string("APL_Variable") + kMarkNoCall + "(sys_ELIDE_idx" + kMarkNoCall + ")";
        else if (!value.IsArray())
            return Fail(APL_ERR_SYNTAX);
        else
            index = value.text;
        ++positions;
        // The last two positions are joined as a pair; every further one is
        // put in front of the list built so far.
        list = positions == 1 ? index : CallText("APL_CatArray", {index, list, "0", positions > 2 ? "1" : "0"});
        p_ = stop - 1;
        if (*stop == glyph::kLeftBracket) break;
        if (*stop != glyph::kSemicolon) return Fail(APL_ERR_SYNTAX);
    }
    if (positions == 1) list = CallText("APL_Enclose", {"NULL", "NULL", list});
    pending_ = list;
    hasPending_ = true;
    return true;
}

bool Walk::OperandText(const Item &operand, std::string &text) {
    if (operand.IsArray()) {
        text = CallText("KAZ_AFn", {operand.text});
        return true;
    }
    char head[32];
    switch (operand.form) {
        case Form::Primitive:
            snprintf(head, sizeof head, "%d, %d, ", operand.code, PrimitiveFlags(operand.code));
            text = std::string("KAZ_Fn(") + head + operand.text + ")";
            return true;
        case Form::User:
        case Form::System: text = CallText("KAZ_CFn", {operand.text}); return true;
        case Form::Derived:
        case Form::Operand: text = "*" + operand.text; return true;
        case Form::Bound: break;
    }
    return Fail(APL_ERR_SYNTAX);
}

// A user-defined operator is compiled once, for array or function operands:
// every call must give it the same kinds (a function when it is compiled
// before any call is seen).
bool Walk::RecordOperandUse(const Item &op, const Item &left, const Item *right) {
    if (op.form != Form::User) return true;
    std::array<OperandUse, 2> &uses = c_.operandUses[op.symbol];
    const Item *operands[2] = {&left, right};
    for (int i = 0; i < 2; ++i) {
        if (!operands[i]) continue;
        const OperandUse use = operands[i]->IsArray() ? OperandUse::Array : OperandUse::Function;
        if (uses[i] == OperandUse::Unknown) uses[i] = use;
        if (uses[i] != use) {
            SetErrorText(APL_ERR_DOMAIN, "Operator %s takes an array operand in one call and a function in another",
                         SymbolName(op.symbol));
            return false;
        }
    }
    return true;
}

// Array operands: either operand of a dyadic operator (the operator decides
// at run time what it accepts); a monadic operator takes functions here.
bool Walk::Bind(const Item &op, const Item &left, const Item *right, Item &derived) {
    std::string leftText, rightText;
    if (!right && !left.IsFunction()) return Fail(APL_ERR_SYNTAX);
    if (!RecordOperandUse(op, left, right)) return false;
    if (!OperandText(left, leftText)) return false;
    if (right && !OperandText(*right, rightText)) return false;
    const int k = f_.operatorCounter++;
    if (f_.operatorCounter > f_.operatorsUsed) f_.operatorsUsed = f_.operatorCounter;
    char head[48];
    snprintf(head, sizeof head, "&func%d, &op%d", k, k);
    std::vector<std::string> args{head, op.text, OrNull(op.axis), leftText, OrNull(left.axis)};
    if (right) {
        args.push_back(rightText);
        args.push_back(OrNull(right->axis));
    }
    derived = Item{};
    derived.kind = Kind::Function;
    derived.form = Form::Derived;
    derived.text = CallText(right ? "KAZ_DyOp" : "KAZ_MonOp", args);
    return true;
}

bool Walk::Call(const Item &function, const Item *left, const Item &right, Item &result) {
    const std::string axis = OrNull(function.axis);
    const std::string l = left ? left->text : "NULL";
    if (f_.selective && function.form != Form::Primitive) {
        SetErrorText(APL_ERR_SYNTAX, "Function '%s' not allowed in selective specification", function.text.c_str());
        return false;
    }
    if (f_.selective) {
        const uint16_t flags = PrimitiveFlags(function.code);
        if (!(flags & (left ? APL_FN_SELECT2 : APL_FN_SELECT1))) {
            SetErrorText(APL_ERR_SYNTAX, "Function '%c' not allowed in selective specification", function.code);
            return false;
        }
    }
    result = Item{};
    result.kind = Kind::Array;
    switch (function.form) {
        case Form::Derived:
        case Form::Operand:
            result.text = CallText("APL_Evaluate", {function.text, axis, l, right.text, "NULL"});
            return true;
        case Form::Bound:
            if (left) return Fail(APL_ERR_SYNTAX);
            result.text = CallText(function.text, {axis, function.bound, right.text});
            return true;
        default: result.text = CallText(function.text, {axis, l, right.text}); return true;
    }
}

bool Walk::Reduce(Item x) {
    for (;;) {
        if (count_ >= kMaxItems) return Fail(APL_ERR_LIMIT);
        if (x.kind == Kind::Arrow) {
            if (!CompleteCalls(true)) return false;
            if (count_ == 0 || !Top().IsArray()) return Fail(APL_ERR_SYNTAX);
            Item value = Pop();
            if (!Assign(value)) return false;
            x = value;
            continue;
        }
        if (x.IsArray()) {
            if (*p_ == glyph::kJotDiaeresis) {
                x.rankSpecification = true;
                return Push(x);
            }
            if (Has(1) && Top().IsArray()) {
                // Juxtaposed arrays: a strand, extended on either side.
                Item right = Pop();
                Item joined;
                joined.kind = Kind::Array;
                joined.strand = true;
                joined.text = CallText("APL_CatArray", {x.text, right.text, x.strand ? "1" : "0", right.strand ? "1" : "0"});
                x = joined;
                continue;
            }
            // An array just right of a dyadic operator is its right operand:
            // it waits for that operator rather than binding to its right.
            const bool rightOperand = TokenIsDyadicOperator(p_);
            if (!rightOperand && Has(2) && Top().kind == Kind::DyOp && (Top(1).IsFunction() || Top(1).IsArray())) {
                Item op = Pop(), right = Pop(), derived;
                if (!Bind(op, x, &right, derived)) return false;
                x = derived;
                continue;
            }
            if (!rightOperand && Has(1) && Top().kind == Kind::MonOp && Top().form == Form::Primitive &&
                (PrimitiveFlags(Top().code) & APL_FN_ARRAYOPERAND)) {
                // An array operand of / or ⌿: replicate with it as left argument.
                Item op = Pop();
                const char *name = PrimitiveFunctionName(op.code);
                if (!name) return Fail(APL_ERR_SYNTAX);
                Item bound;
                bound.kind = Kind::Function;
                bound.form = Form::Bound;
                bound.code = op.code;
                bound.text = name;
                bound.axis = op.axis;
                bound.bound = x.text;
                x = bound;
                continue;
            }
            if (!AtLeftEnd()) return Push(x);
            if (Has(2) && Top().IsFunction() && Top(1).IsArray()) {
                Item f = Pop(), right = Pop(), result;
                if (!Call(f, &x, right, result)) return false;
                x = result;
                continue;
            }
            return Push(x);
        }
        // A function just right of a dyadic operator is its right operand.
        if (x.IsFunction() && !TokenIsDyadicOperator(p_)) {
            if (Has(1) && Top().kind == Kind::MonOp) {
                Item op = Pop(), derived;
                if (!Bind(op, x, nullptr, derived)) return false;
                x = derived;
                continue;
            }
            if (Has(2) && Top().kind == Kind::DyOp && (Top(1).IsFunction() || Top(1).IsArray())) {
                Item op = Pop(), right = Pop(), derived;
                if (!Bind(op, x, &right, derived)) return false;
                x = derived;
                continue;
            }
        }
        if (!CompleteCalls(x.IsFunction())) return false;
        if (x.IsFunction() && AtLeftEnd() && Has(1) && Top().IsArray()) {
            Item right = Pop(), result;
            if (!Call(x, nullptr, right, result)) return false;
            x = result;
            continue;
        }
        return Push(x);
    }
}

bool Walk::CompleteCalls(bool monadicToo) {
    for (;;) {
        if (Has(3) && Top().IsArray() && Top(1).IsFunction() && Top(2).IsArray()) {
            Item left = Pop(), f = Pop(), right = Pop(), result;
            if (!Call(f, &left, right, result)) return false;
            Push(result);
            continue;
        }
        if (monadicToo && Has(2) && Top().IsFunction() && Top(1).IsArray()) {
            Item f = Pop(), right = Pop(), result;
            if (!Call(f, nullptr, right, result)) return false;
            Push(result);
            continue;
        }
        return true;
    }
}

// ---- Assignment ----------------------------------------------------------------------

bool Walk::Assign(Item &value) {
    if (f_.selective && f_.selectiveMet) return FailText(APL_ERR_SYNTAX, "Assignment invalid in selective specification");
    const uint8_t tag = *p_;
    std::string id;
    if (tag == kTagName) {
        const uint16_t symbol = NameSymbol(p_);
        p_ = TokenBefore(p_);
        if (!IsSymbol(symbol)) return FailText(APL_ERR_SYSTEM, "Invalid symbol index");
        const NameKind kind = ClassOf(symbol);
        value.assigned = true;
        if (kind == NameKind::Quad || kind == NameKind::QuoteQuad) {
            value.text = CallText(kind == NameKind::Quad ? "KAZ_QuadDisplay" : "KAZ_QQuadDisplay", {value.text});
            value.temporary = true;
            return true;
        }
        if (kind != NameKind::Variable) return Fail(APL_ERR_SYNTAX);
        if (!Variable(symbol, id)) return false;
        value.text = CallText("APL_Assign", {id + "_idx", value.text});
        value.temporary = false;
        return true;
    }
    if (tag == glyph::kRightBracket) {
        if (!FormIndexList()) return false;
        hasPending_ = false;
        const std::string indices = pending_;
        if (*p_ == glyph::kRightParen) return AssignSelective(p_, indices, value);
        if (*p_ != kTagName) return Fail(APL_ERR_SYNTAX);
        const uint16_t symbol = NameSymbol(p_);
        p_ = TokenBefore(p_);
        if (!IsSymbol(symbol) || ClassOf(symbol) != NameKind::Variable) return Fail(APL_ERR_SYNTAX);
        if (!Variable(symbol, id)) return false;
        value.text = CallText("APL_AssignIdx", {id + "_idx", indices, value.text});
        value.assigned = value.temporary = true;
        return true;
    }
    if (tag == glyph::kRightParen) {
        // A list of names only is a vector assignment, anything else a selective one.
        const uint8_t *q = p_ - 1;
        bool namesOnly = true;
        while (*q != glyph::kLeftParen) {
            if (*q != kTagName) {
                namesOnly = false;
                break;
            }
            q = TokenBefore(q);
        }
        if (!namesOnly || q == p_ - 1) return AssignSelective(p_, std::string(), value);
        std::vector<std::string> args{value.text, ""};
        int n = 0;
        for (q = p_ - 1; *q != glyph::kLeftParen; q = TokenBefore(q)) {
            const uint16_t symbol = NameSymbol(q);
            if (!IsSymbol(symbol) || ClassOf(symbol) != NameKind::Variable) return Fail(APL_ERR_SYNTAX);
            if (!Variable(symbol, id)) return false;
            args.push_back(id + "_idx");  // right to left
            ++n;
        }
        args[1] = std::to_string(n);
        p_ = q - 1;
        value.text = CallText("KAZ_AssignVec", args);
        value.assigned = value.temporary = true;
        return true;
    }
    return Fail(APL_ERR_SYNTAX);
}

bool Walk::AssignSelective(const uint8_t *close, const std::string &index, Item &value) {
    if (f_.selective) return FailText(APL_ERR_SYNTAX, "Assignment invalid in selective specification");
    f_.selective = true;
    f_.selectiveMet = false;
    Walk inside(c_, f_, close - 1, kWalkGroup, depth_ + 1);
    Item positions;
    const uint8_t *stop = inside.Run(positions);
    const bool met = f_.selectiveMet;
    const uint16_t symbol = f_.selectiveSymbol;
    f_.selective = f_.selectiveMet = false;
    if (!stop) return false;
    p_ = stop - 1;
    if (!met || !positions.IsArray()) return FailText(APL_ERR_SYNTAX, "In selective assignment");
    std::string selection = positions.text;
    if (!index.empty()) selection = CallText("APL_IndexData", {selection, index, "NULL"});
    std::string id;
    if (!Variable(symbol, id)) return false;
    value.text = CallText("KAZ_AssignSel", {id + "_idx", selection, value.text});
    value.assigned = value.temporary = true;
    return true;
}

// ---- Control blocks ------------------------------------------------------------------

bool SegmentStatements(Compilation &c, FunctionContext &f, const ControlBlock &block, uint32_t i, int depth) {
    Walk segment(c, f, block.SegmentStart(i), kWalkSegment | kWalkStatements, depth);
    Item none;
    return segment.Run(none) != nullptr;
}

bool Walk::Block() {
    // A block stands alone: statements right of it are already written.
    if (count_ != 0 || hasPending_) return Fail(APL_ERR_SYNTAX);
    ControlBlock block;
    if (!ReadControlBlock(p_, f_.lineBegin, block)) return FailText(APL_ERR_SYSTEM, "Malformed control block");
    Walk head(c_, f_, block.SegmentStart(0), kWalkSegment, depth_ + 1);
    Item selector;
    if (!head.Run(selector)) return false;
    if (!selector.IsArray()) return Fail(APL_ERR_SYNTAX);
    p_ = block.LeftBrace() - 1;
    Emitter &out = c_.out;
    if (block.loopVariable >= 0) {
        const auto variable = static_cast<uint16_t>(block.loopVariable);
        if (!IsSymbol(variable)) return FailText(APL_ERR_SYSTEM, "Invalid symbol index");
        const std::string v = Identifier(c_, variable);
        if (v.empty()) return false;
        c_.locals.Add(variable);
        const std::string k = std::to_string(f_.loops++);
        const char *ravel = PrimitiveFunctionName(glyph::kComma);
        const char *pick = PrimitiveFunctionName(glyph::kRightShoe);
        if (!ravel || !pick) return FailText(APL_ERR_SYSTEM, "Primitive not registered");
        // The loop runs over the ravel, holding it, with the variable's entry
        // saved and restored around the loop as the interpreter does.
        out.Expanded("loop_arr" + k + " = " + CallText(ravel, {"NULL", "NULL", selector.text}));
        out.Text(";");
        out.Newline();
        out.Line("APL_IncLink(loop_arr" + k + ");");
        out.Line("KAZ_InitVar(&loop_var" + k + ", " + v + "_idx);");
        out.Line("for (loop" + k + "=0; !aplerrno && loop" + k + "<loop_arr" + k + "->shape[0]; loop" + k + "++)");
        out.Text("{");
        out.Indent(2);
        out.Newline();
        out.Line("APL_Assign(" + v + "_idx, " + pick + "(NULL, APL_Int(loop" + k +
                 "+KAZ_GetInt(APL_Variable(io_idx))), loop_arr" + k + "));");
        f_.jumpTargets.push_back("loop_out" + k);
        const bool ok = block.count < 2 || SegmentStatements(c_, f_, block, 1, depth_ + 1);
        f_.jumpTargets.pop_back();
        if (!ok) return false;
        out.Indent(-2);
        out.PullLeft(2);
        out.Line("}");
        out.PullLeft(2);
        out.Line("loop_out" + k + ":");
        out.Line("KAZ_ResumeVar(&loop_var" + k + ", " + v + "_idx);");
        out.Line("APL_UnLink(loop_arr" + k + ");");
        out.Line("loop_arr" + k + " = NULL;");
        out.Line("if (APL_DidJump()) goto " + f_.jumpTargets.back() + ";");
        return true;
    }
    out.Expanded("switch(" + CallText("KAZ_GetInt", {selector.text}) + ")");
    out.Newline();
    out.Text("{");
    out.Indent(4);
    out.Newline();
    const uint32_t alternatives = block.count - 1;
    for (uint32_t i = 1; i <= alternatives; ++i) {
        out.PullLeft(2);
        if (alternatives >= 2 && i == alternatives)
            out.Line("default:");
        else
            out.Line("case " + std::to_string(i) + ":");
        if (!SegmentStatements(c_, f_, block, i, depth_ + 1)) return false;
        out.Line("break;");
    }
    out.Indent(-4);
    out.PullLeft(4);
    out.Line("}");
    return true;
}

}  // namespace

bool TranslateLine(Compilation &c, FunctionContext &f, uint32_t n) {
    f.operatorCounter = 0;
    const StoredLine line = f.view.Line(n);
    f.lineBegin = line.begin;
    Walk walk(c, f, line.last, kWalkLine, 0);
    Item none;
    return walk.Run(none) != nullptr;
}
