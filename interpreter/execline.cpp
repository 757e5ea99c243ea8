// execline: the line evaluator. Walks a stored line from its right end with a
// short stack of items, binds operators, calls functions through one dispatch,
// performs every form of assignment and runs control blocks.
// Relies on the tokenizer's stored lines, the primitive tables and the cover functions.
#include "interpreter/execline.h"

#include "core/arrays.h"
#include "core/call.h"
#include "core/cover.h"
#include "core/eltypes.h"
#include "core/errors.h"
#include "core/primitives.h"
#include "core/symtab.h"
#include "interpreter/execfn.h"
#include "interpreter/lineplan.h"
#include "scalar/scllib.h"
#include "structural/indexing.h"
#include "system/platform.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

EvaluatorState evaluator;

aplarray *ArgumentWrittenOver(uint16_t symbol, aplarray *left, int32_t leftLinks, aplarray *right,
                              int32_t rightLinks) {
    if (left == right || !IsSymbol(symbol)) return nullptr;
    const aplsymbol &entry = Symbol(symbol);
    if ((entry.kind & ~APL_KIND_USER) != APL_KIND_VARIABLE || !entry.value) return nullptr;
    if (left == entry.value && !IsStatic(left) && left->lnkcnt == 1 + leftLinks) return left;
    if (right == entry.value && !IsStatic(right) && right->lnkcnt == 1 + rightLinks) return right;
    return nullptr;
}

// A static record (a pooled constant, a label's line number) is held as it is
// while its data suits its element type: the pool or the function record
// outlives the line, and the record is only read. A REAL record that is only
// 4-byte aligned is replaced by a managed copy with one link.
aplarray *HoldStatic(aplarray *record) {
    // Records are 4-byte aligned: only wider elements need the test.
    if (record->eltype == APL_INTG || record->eltype == APL_CHAR || record->eltype == APL_BOOL) return record;
    const auto data = reinterpret_cast<uintptr_t>(DataOf(record));
    const size_t align = ElementSize(record->eltype);
    if (align && data % align == 0) return record;
    return APL_LinkEx(record, HERE);
}

namespace {

using glyph::kColon;
using glyph::kLeftBrace;
using glyph::kLeftBracket;
using glyph::kLeftParen;
using glyph::kRightBrace;
using glyph::kRightBracket;
using glyph::kRightParen;
using glyph::kSemicolon;

constexpr intptr_t kFunctionBits = APL_FN_FUNCTION | APL_FN_MONOP | APL_FN_DYOP;

// The operator record of a derived function made by the evaluator, with the
// arrays it holds links on (axes, array operands), released with it.
struct DerivedRecord {
    aplop op;  // first, so that the record is the aplop the operator sees
    aplarray *owned[3];
};
static_assert(offsetof(DerivedRecord, op) == 0);

// One stack item: a value, a function (its descriptor) or an operator.
struct Item {
    aplfnc fn{};                  // class word and descriptor
    aplarray *array = nullptr;    // array items: the value, with a link held (or a static constant)
    aplarray *axis = nullptr;     // functions and operators: the axis written on them, linked
    const uint8_t *at = nullptr;  // the token it came from, for the error position
    bool assigned = false;
    bool rankSpecification = false;  // the array written just right of ⍤, waiting for it

    bool Empty() const { return fn.flags == 0; }
    bool IsArray() const { return (fn.flags & kItemArray) != 0; }
    bool IsArrow() const { return (fn.flags & kItemArrow) != 0; }
    bool IsFunction() const { return !IsArray() && (fn.flags & APL_FN_FUNCTION) != 0; }
    bool IsMonOp() const { return !IsArray() && !IsFunction() && (fn.flags & APL_FN_MONOP) != 0; }
    bool IsDyOp() const { return !IsArray() && !IsFunction() && (fn.flags & APL_FN_DYOP) != 0; }
    bool IsFunctionOrArray() const { return IsArray() || IsFunction(); }
};

void FreeRecord(DerivedRecord *record, int depth);

// Releases what an item holds.
// A derived function read from a bound operand name: its record belongs to
// the running operator's caller and is never freed through this descriptor.
constexpr intptr_t kItemShared = 0x10000;

void Release(Item &item, int depth = 0) {
    // Most items handed on are already empty: nothing to unlink or clear.
    if (item.fn.flags == 0 && !item.array && !item.axis) return;
    if (item.array) APL_UnLinkEx(item.array, HERE);
    if (item.axis) APL_UnLinkEx(item.axis, HERE);
    if ((item.fn.flags & APL_FN_DERIVED) && item.fn.op && !(item.fn.flags & kItemShared))
        FreeRecord(reinterpret_cast<DerivedRecord *>(item.fn.op), depth + 1);
    item = Item{};
}

// An array operand of a derived function is carried in its descriptor's
// function word, flagged as an array.
aplarray *OperandArray(const aplfnc &fn) {
    return (fn.flags & kItemArray) ? static_cast<aplarray *>(fn.function) : nullptr;
}

void ReleaseOperand(aplfnc &fn, int depth) {
    if ((fn.flags & APL_FN_DERIVED) && fn.op && !(fn.flags & kItemShared))
        FreeRecord(reinterpret_cast<DerivedRecord *>(fn.op), depth + 1);
    fn = aplfnc{};
}

void FreeRecord(DerivedRecord *record, int depth) {
    if (depth > kMaxEvaluationDepth) return;  // cannot happen: binding depth is bounded by the line
    ReleaseOperand(record->op.left, depth);
    ReleaseOperand(record->op.right, depth);
    for (aplarray *a : record->owned) APL_UnLinkEx(a, HERE);
    FreeBlock(record, HERE);
}

// Hands the item's array over to a callee as a temporary when the item held
// the only link; otherwise the array stays with its other holders.
aplarray *Give(Item &item) {
    aplarray *a = item.array;
    item.array = nullptr;
    if (a && !IsStatic(a) && a->lnkcnt > 0) --a->lnkcnt;
    return a;
}

// An array item holding a temporary result (linked now).
Item ArrayItem(aplarray *value, bool strand = false) {
    Item item;
    item.fn.flags = kItemArray | (strand ? kItemStrand : 0);
    item.array = APL_LinkEx(value, HERE);
    return item;
}

bool Fail(int32_t code) {
    if (!aplerrno) SetError(code);
    return false;
}

bool FailText(int32_t code, const char *text) {
    if (!aplerrno) SetErrorText(code, "%s", text);
    return false;
}

// A branch taken by a running (or suspended) function ends its line; in the
// session with no function, a branch has nowhere to go and changes nothing.
bool BranchTaken() { return currentFrame && currentFrame != SessionFrame() && currentFrame->jumped; }

bool IsQuadName(uint16_t symbol, uint8_t quad) {
    const char *name = SymbolName(symbol);
    return static_cast<uint8_t>(name[0]) == quad && name[1] == 0;
}

class Walk {
public:
    Walk(const uint8_t *position, int32_t flags, const PoolView &pool) : p_(position), flags_(flags), pool_(pool) {}
    ~Walk() {
        for (int i = 0; i < count_; ++i) Release(stack_[i].item);
        if (pending_) APL_UnLinkEx(pending_, HERE);
    }

    // Evaluates up to the token that ends this walk; `out` receives the final
    // item (or stays empty). Returns that token's position.
    const uint8_t *Run(Item &out);

private:
    bool Form(Item &item, bool &formed);
    bool FormPrimitive(uint8_t code, Item &item, bool &formed);
    bool FormConstant(Item &item);
    bool FormName(Item &item, bool &formed);
    bool FormGroup(Item &item, bool &formed);
    bool FormIndexList();
    bool RunBlock();
    bool Reduce(Item item);
    bool Assign(Item &value);
    bool AssignVector(const uint8_t *close, Item &value);
    bool AssignSelective(const uint8_t *close, Item &value);
    bool Call(Item &function, Item *left, Item &right, Item &result);
    bool ScalarCall(const Item &function, const Item &left, const Item &right, Item &result, bool &ok);
    aplarray *AssignedInPlace(aplarray *left, aplarray *right) const;
    bool CallNiladic(Item &function, Item &result);
    bool Bind(Item &op, Item &left, Item *right, Item &derived);
    bool FinishStatement(bool atEnd);
    bool CompleteCalls(bool monadicToo, bool beforeArrow = false);
    bool AtLeftEnd() const;
    bool TokenIsFunction(const uint8_t *at) const;
    bool TokenIsDyadicOperator(const uint8_t *at) const;
    void TakeAsOperand();
    void Push(Item &item) {
        stack_[count_++].item = item;
        item = Item{};
    }
    // Slots at and above count_ are never read: popping leaves them as they are.
    Item Pop() { return stack_[--count_].item; }
    Item &Top(int below = 0) { return stack_[count_ - 1 - below].item; }
    bool Has(int n) const { return count_ >= n; }

    const uint8_t *p_;
    int32_t flags_;
    const PoolView &pool_;
    // Raw slots: a walk starts on every line and every parenthesis, and
    // clearing the whole stack each time would cost more than the line.
    union Slot {
        Slot() {}
        Item item;
    };
    Slot stack_[kMaxStackItems + 1];
    int count_ = 0;
    aplarray *pending_ = nullptr;   // an index list waiting for the item to its left
    bool lastBeforeArrow_ = false;  // the call being made gives the value assigned next
};

bool Walk::AtLeftEnd() const {
    switch (*p_) {
        case glyph::kLineFeed:
        case kLeftParen:
        case kColon:
        case kSemicolon:
        case kLeftBracket:
        case kLeftBrace:
        case glyph::kDiamond: return true;
        default: return false;
    }
}

// Whether the token at `at` stands for a function or an operator, so that a
// symbol that is both function and monadic operator takes it as its operand.
bool Walk::TokenIsFunction(const uint8_t *at) const {
    const uint8_t tag = *at;
    if (tag == kTagName) {
        const uint16_t symbol = NameSymbol(at);
        if (!IsSymbol(symbol)) return false;
        const aplsymbol &entry = Symbol(symbol);
        if (entry.kind & APL_KIND_OPERAND)
            return entry.value && (static_cast<const aplfnc *>(entry.value)->flags & kFunctionBits) &&
                   !(static_cast<const aplfnc *>(entry.value)->flags & kItemArray);
        return (entry.kind & (APL_KIND_FUNCTION | APL_KIND_MONOP | APL_KIND_DYOP)) != 0 &&
               !(entry.kind & APL_KIND_VARIABLE);
    }
    if (tag == kTagConstant || tag == glyph::kLeftArrow || tag == kColon || tag == glyph::kLineFeed) return false;
    const uint16_t cls = TagClass(tag);
    return cls != 0 && (cls & kFunctionBits) != 0 && !(PrimitiveFlags(tag) & APL_FN_NILADIC);
}

// Whether the token at `at` is a dyadic operator: the item just right of it
// is that operator's right operand and binds to nothing on its own right
// first, so that operators bind from the left (∘.+⍨ is (∘.+)⍨).
bool Walk::TokenIsDyadicOperator(const uint8_t *at) const {
    const uint8_t tag = *at;
    if (tag == kTagName) {
        const uint16_t symbol = ReadShort(at - 2);
        if (!IsSymbol(symbol)) return false;
        const int kind = Symbol(symbol).kind;
        return (kind & APL_KIND_USER) && (kind & APL_KIND_DYOP) && !(kind & (APL_KIND_VARIABLE | APL_KIND_OPERAND));
    }
    if (tag == kTagConstant || tag == glyph::kLeftArrow || tag == kColon || tag == glyph::kLineFeed) return false;
    const uint16_t cls = TagClass(tag);
    return (cls & APL_FN_DYOP) != 0 && !(cls & APL_FN_FUNCTION);
}

// A parenthesised group that gave a function stands left of a symbol that is
// both function and operator: the symbol, formed as a function because a group
// could not be told from an array, is the operator taking that function.
void Walk::TakeAsOperand() {
    if (!Has(1)) return;
    Item &symbol = Top();
    if (symbol.IsArray() || !(symbol.fn.flags & APL_FN_PRIMITIVE) || !symbol.IsFunction()) return;
    const auto code = static_cast<uint8_t>(symbol.fn.code);
    const uint16_t flags = PrimitiveFlags(code);
    if (!(flags & APL_FN_FUNCTION) || !(flags & (APL_FN_MONOP | APL_FN_DYOP))) return;
    symbol.fn.flags = static_cast<intptr_t>((flags & ~APL_FN_FUNCTION) | APL_FN_PRIMITIVE);
}

const uint8_t *Walk::Run(Item &out) {
    if (++evaluator.depth > kMaxEvaluationDepth) {
        --evaluator.depth;
        Fail(APL_ERR_LIMIT);
        errorPositions.evaluator = p_;
        return p_;
    }
    bool ok = true;
    while (ok) {
        const uint8_t tag = *p_;
        if (tag == glyph::kLineFeed) break;
        if (tag == kLeftParen) {
            if (flags_ & kEvalGroup) break;
            ok = Fail(APL_ERR_SYNTAX);
            break;
        }
        if (tag == kSemicolon || tag == kLeftBracket) {
            if (flags_ & kEvalIndex) break;
            ok = Fail(APL_ERR_SYNTAX);
            break;
        }
        if (tag == kLeftBrace) {
            if (flags_ & kEvalSegment) break;
            ok = Fail(APL_ERR_SYNTAX);
            break;
        }
        if (tag == kColon) {
            if (flags_ & kEvalSegment) break;
            // A label: the statement to its right is complete; skip the label's name.
            ok = FinishStatement(false);
            --p_;
            if (*p_ == kTagName) p_ = TokenBefore(p_);
            continue;
        }
        if (tag == glyph::kDiamond) {
            ok = FinishStatement(false);
            if (ok && BranchTaken()) {
                // A branch taken in this line ends it.
                while (*p_ != glyph::kLineFeed) --p_;
                break;
            }
            --p_;
            continue;
        }
        Item item;
        bool formed = false;
        ok = Form(item, formed);
        if (ok && formed) {
            const uint8_t *at = item.at;
            ok = Reduce(item);
            if (!ok && !errorPositions.evaluator) errorPositions.evaluator = at;
        } else {
            Release(item);
        }
    }
    if (ok && pending_) ok = Fail(APL_ERR_SYNTAX);
    if (ok) ok = FinishStatement(true);
    if (ok && count_ == 1) out = Pop();
    if (!ok) {
        if (!errorPositions.evaluator) errorPositions.evaluator = p_;
        for (int i = 0; i < count_; ++i) Release(stack_[i].item);
        count_ = 0;
    }
    --evaluator.depth;
    return p_;
}

// The statement to the right is complete: a lone unassigned value is shown in
// statement mode (always at a diamond); the stack is emptied except for the
// final item at the end of a walk that returns it.
bool Walk::FinishStatement(bool atEnd) {
    if (count_ > 1) {
        // Items that did not come together: the caret marks the one right of
        // the leftmost (the function in 2+× or 2 3⍴ that got no argument).
        if (!errorPositions.evaluator) errorPositions.evaluator = Top(1).at;
        return Fail(APL_ERR_SYNTAX);
    }
    const bool statementMode = !atEnd || (flags_ & kEvalStatement);
    if (count_ == 0) {
        if (atEnd && !(flags_ & (kEvalIndex | kEvalStatement | kEvalExecute | kEvalSegment)) && evaluator.depth > 1)
            return Fail(APL_ERR_SYNTAX);
        return true;
    }
    Item &item = Top();
    if (!statementMode) return true;
    if (!item.IsArray()) {
        if (!errorPositions.evaluator) errorPositions.evaluator = item.at;
        return Fail(APL_ERR_SYNTAX);
    }
    if (!item.assigned) APL_Display(item.array);
    Item done = Pop();
    Release(done);
    return !aplerrno;
}

bool Walk::Form(Item &item, bool &formed) {
    const uint8_t *at = p_;
    const uint8_t tag = *p_;
    bool ok;
    switch (tag) {
        case kTagConstant:
            ok = FormConstant(item);
            formed = ok;
            break;
        case kTagName: ok = FormName(item, formed); break;
        case kRightParen: ok = FormGroup(item, formed); break;
        case kRightBracket:
            ok = FormIndexList();
            formed = false;
            break;
        case kRightBrace:
            ok = RunBlock();
            formed = false;
            break;
        case glyph::kLeftArrow:
            if (count_ == 0) return Fail(APL_ERR_SYNTAX);
            item.fn.flags = kItemArrow;
            item.at = at;
            --p_;
            formed = true;
            return true;
        default:
            if (tag != kColon && TagClass(tag) != 0) {
                ok = FormPrimitive(tag, item, formed);
            } else {
                SetErrorText(APL_ERR_SYSTEM, "Illegal character %d in control sequence !\n", tag);
                ok = false;
            }
            break;
    }
    if (!ok) {
        if (!errorPositions.evaluator) errorPositions.evaluator = at;
        return false;
    }
    if (formed && !item.at) item.at = at;
    if (formed && tag == glyph::kJotDiaeresis && !pending_ && Has(1) && Top().rankSpecification) {
        // The cell ranks written right of ⍤ travel as its axis.
        Item ranks = Pop();
        item.axis = ranks.array;
        ranks.array = nullptr;
    }
    if (formed && tag == kRightParen && item.IsFunction()) TakeAsOperand();
    if (!formed || !pending_) return true;
    // An index list or axis belongs to the item just left of it.
    if (item.IsArray()) {
        aplarray *indices = pending_;
        pending_ = nullptr;
        if (indices->lnkcnt > 0) --indices->lnkcnt;
        aplarray *value = Give(item);
        aplarray *selected = APL_IndexData(value, indices, nullptr);
        if (!selected) {
            errorPositions.evaluator = at;
            return false;
        }
        item = ArrayItem(selected);
        return true;
    }
    if (item.IsFunction() || item.IsMonOp() || item.IsDyOp()) {
        // A function that has its axis takes no second one, (⊂[2])[1] say.
        if (item.axis) return Fail(APL_ERR_SYNTAX);
        item.axis = pending_;
        pending_ = nullptr;
        return true;
    }
    return Fail(APL_ERR_SYNTAX);
}

bool Walk::FormPrimitive(uint8_t code, Item &item, bool &formed) {
    --p_;
    uint16_t flags = PrimitiveFlags(code);
    const bool dual = (flags & APL_FN_FUNCTION) && (flags & (APL_FN_MONOP | APL_FN_DYOP));
    if (dual) {
        // Reduce or compress, scan or expand: an operator when a function stands
        // to its left, else a function.
        if (TokenIsFunction(p_))
            flags = static_cast<uint16_t>(flags & ~APL_FN_FUNCTION);
        else
            flags = static_cast<uint16_t>(flags & ~(APL_FN_MONOP | APL_FN_DYOP));
    } else if (!(flags & APL_FN_FUNCTION)) {
        flags = static_cast<uint16_t>(flags & ~APL_FN_FUNCTION);
    }
    item.fn = aplfnc{static_cast<intptr_t>(flags | APL_FN_PRIMITIVE), nullptr, nullptr, code};
    formed = true;
    // The control symbol alone at the right end of a statement closes a block.
    if (code == glyph::kControlSymbol && count_ == 0 && !pending_) {
        formed = false;
        APL_UnLinkTempEx(APL_Evaluate(&item.fn, nullptr, nullptr, nullptr), HERE);
        return !aplerrno;
    }
    if ((flags & APL_FN_NILADIC) && (flags & APL_FN_FUNCTION)) {
        Item result;
        if (!CallNiladic(item, result)) return false;
        item = result;
        formed = !item.Empty();
    }
    return true;
}

bool Walk::FormConstant(Item &item) {
    if (evaluator.selective && !evaluator.selectiveMet) return FailText(APL_ERR_SYNTAX, "In selective assignment");
    aplarray *constant = ConstantAt(pool_, p_);
    p_ = TokenBefore(p_);
    if (!constant) return FailText(APL_ERR_SYSTEM, "Constant outside its pool");
    item.fn.flags = kItemArray | ((constant->type & APL_STRAND) ? kItemStrand : 0);
    item.array = HoldStatic(constant);
    return item.array != nullptr || Fail(APL_ERR_WSFULL);
}

// Only an empty index position written in a line is elided: EL read by name
// is an ordinary vector without the marker's flag.
bool FormElidedCopy(const aplarray *marker, Item &item) {
    aplarray *copy = CopyArray(marker, HERE);
    if (!copy) return Fail(APL_ERR_WSFULL);
    copy->type = static_cast<uint8_t>(copy->type & ~APL_FLAG10);
    item = ArrayItem(copy);
    return true;
}

// WA is read as it stands: the bytes the host's ceiling still allows, or
// without one what the system could still give. On WS FULL the last value stays.
void RefreshWorkspaceAvailable(aplsymbol &entry) {
    const int64_t room = RoomUnderLimit();
    const int64_t bytes = room >= 0 ? room : SystemMemoryAvailable();
    aplarray *value = bytes <= INT32_MAX ? MakeInt(static_cast<int32_t>(bytes)) : MakeReal(static_cast<double>(bytes));
    if (!value) {
        aplerrno = 0;
        return;
    }
    aplarray *old = static_cast<aplarray *>(entry.value);
    entry.value = APL_LinkEx(value, HERE);
    APL_UnLinkEx(old, HERE);
}

bool Walk::FormName(Item &item, bool &formed) {
    const uint16_t symbol = NameSymbol(p_);
    p_ = TokenBefore(p_);
    if (!IsSymbol(symbol)) return FailText(APL_ERR_SYSTEM, "Invalid symbol index");
    aplsymbol &entry = Symbol(symbol);
    formed = true;
    if (evaluator.selective && !evaluator.selectiveMet) {
        // The first name of a selective assignment is its variable, whose
        // value is replaced by the positions of its elements.
        const int kind = entry.kind;
        if ((kind & APL_KIND_SYSTEM) && (kind & APL_KIND_VARIABLE))
            return FailText(APL_ERR_SYNTAX, "System variables not allowed in selective specification");
        if ((kind & (APL_KIND_VARIABLE | APL_KIND_LABELBIT | kFunctionBits | APL_KIND_OPERAND)) != APL_KIND_VARIABLE)
            return FailText(APL_ERR_SYNTAX, "selective assignment is allowed only for varables");
        if (!entry.value) return Fail(APL_ERR_VALUE);
        evaluator.selectiveMet = true;
        evaluator.selectiveSymbol = symbol;
        aplarray *positions = MakePositionArray(static_cast<aplarray *>(entry.value));
        if (!positions) return false;
        item = ArrayItem(positions);
        return true;
    }
    if (IsQuadName(symbol, glyph::kQuad) || IsQuadName(symbol, glyph::kQuoteQuad)) {
        aplarray *input = IsQuadName(symbol, glyph::kQuad) ? QuadInput() : QuoteQuadInput();
        if (!input) return Fail(APL_ERR_VALUE);
        item = ArrayItem(input);
        return true;
    }
    if (entry.kind & APL_KIND_OPERAND) {
        const auto *descriptor = static_cast<const aplfnc *>(entry.value);
        if (!descriptor) return Fail(APL_ERR_VALUE);
        if (aplarray *operand = OperandArray(*descriptor)) {
            item.fn.flags = kItemArray;
            item.array = APL_LinkEx(operand, HERE);
            return true;
        }
        item.fn = *descriptor;
        item.fn.flags |= kItemSystem;
        // The descriptor belongs to the running operator: never free its record.
        if (item.fn.flags & APL_FN_DERIVED) item.fn.flags |= kItemShared;
        return true;
    }
    if (entry.kind & APL_KIND_VARIABLE) {
        if (symbol == sys_WA_idx) RefreshWorkspaceAvailable(entry);
        if (!entry.value) return Fail(APL_ERR_VALUE);
        if (symbol == sys_ELIDE_idx) return FormElidedCopy(static_cast<const aplarray *>(entry.value), item);
        auto *value = static_cast<aplarray *>(entry.value);
        item.fn.flags = kItemArray;
        item.array = IsStatic(value) ? HoldStatic(value) : APL_LinkEx(value, HERE);
        return item.array != nullptr || Fail(APL_ERR_WSFULL);
    }
    if ((entry.kind & APL_KIND_USER) && (entry.kind & kFunctionBits)) {
        if (!entry.value) return Fail(APL_ERR_VALUE);
        item.fn = aplfnc{APL_FN_DEFINED | (entry.kind & (kFunctionBits | APL_FN_NILADIC)), nullptr, nullptr, symbol};
        if ((entry.kind & APL_FN_NILADIC) && (entry.kind & APL_KIND_FUNCTION)) {
            Item result;
            if (!CallNiladic(item, result)) return false;
            item = result;
            formed = !item.Empty();
        }
        return true;
    }
    if ((entry.kind & APL_KIND_FUNCTION) && entry.value) {
        // A system function, or a function compiled into the library or a program.
        item.fn = aplfnc{kItemSystem | APL_FN_FUNCTION | (entry.kind & APL_FN_NILADIC), nullptr, entry.value, 0};
        if (entry.kind & APL_FN_NILADIC) {
            Item result;
            if (!CallNiladic(item, result)) return false;
            item = result;
            formed = !item.Empty();
        }
        return true;
    }
    return Fail(APL_ERR_VALUE);
}

bool Walk::FormGroup(Item &item, bool &formed) {
    Walk inside(p_ - 1, kEvalGroup, pool_);
    Item result;
    const uint8_t *stop = inside.Run(result);
    if (aplerrno) return false;
    if (*stop != kLeftParen) return Fail(APL_ERR_SYNTAX);
    p_ = stop - 1;
    if (result.Empty()) return Fail(APL_ERR_SYNTAX);
    result.fn.flags &= ~kItemStrand;
    result.assigned = false;
    item = result;
    formed = true;
    return true;
}

// The index list of brackets: each index evaluated from the right, an empty one
// standing for the whole axis; joined into one list for the item to the left.
bool Walk::FormIndexList() {
    if (pending_) return Fail(APL_ERR_SYNTAX);
    --p_;
    aplarray *list = nullptr;
    int positions = 0;
    for (;;) {
        Walk piece(p_, kEvalIndex, pool_);
        Item value;
        const uint8_t *stop = piece.Run(value);
        if (aplerrno) {
            APL_UnLinkEx(list, HERE);
            return false;
        }
        aplarray *index;
        if (value.Empty()) {
            index = APL_Variable(sys_ELIDE_idx);
        } else if (!value.IsArray()) {
            Release(value);
            APL_UnLinkEx(list, HERE);
            return Fail(APL_ERR_SYNTAX);
        } else {
            index = Give(value);
        }
        ++positions;
        if (!list) {
            list = APL_LinkEx(index, HERE);
        } else {
            if (list->lnkcnt > 0) --list->lnkcnt;
            // The last two positions are joined as a pair; every further one is
            // put in front of the list built so far.
            list = APL_LinkEx(APL_CatArray(index, list, 0, positions > 2 ? 1 : 0), HERE);
            if (!list) return false;
        }
        p_ = stop - 1;
        if (*stop == kLeftBracket) break;
        if (*stop != kSemicolon) {
            APL_UnLinkEx(list, HERE);
            return Fail(APL_ERR_SYNTAX);
        }
    }
    if (positions == 1 && list->rank > 0) {
        // One position: any index but a scalar is enclosed.
        aplarray *enclosed = APL_Enclose(nullptr, nullptr, list);
        APL_UnLinkEx(list, HERE);
        list = APL_LinkEx(enclosed, HERE);
        if (!list) return false;
    }
    pending_ = list;
    return true;
}

bool Walk::CallNiladic(Item &function, Item &result) {
    Item none;
    return Call(function, nullptr, none, result);
}

// The argument the call's result may be written over when this statement
// assigns it to a variable; each item holds a link of its own.
aplarray *Walk::AssignedInPlace(aplarray *left, aplarray *right) const {
    if (!lastBeforeArrow_ || *p_ != kTagName) return nullptr;
    return ArgumentWrittenOver(NameSymbol(p_), left, 1, right, 1);
}

// A scalar primitive on two simple scalars goes straight to the member's
// routine, past the dispatch and the engine's analysis. False when the call
// is not of that kind; else true with `ok` telling how it went. The items
// keep their links: the caller releases them as after any call.
bool Walk::ScalarCall(const Item &function, const Item &left, const Item &right, Item &result, bool &ok) {
    aplarray *l = left.array, *r = right.array;
    if (!(function.fn.flags & APL_FN_PRIMITIVE) || function.axis || !l || !r || l->rank != 0 || r->rank != 0)
        return false;
    const auto code = static_cast<uint8_t>(function.fn.code);
    const ScalarMember *member = ScalarMemberOfCode(code);
    // Traced sessions see every allocation and link as the general path makes them.
    if (!member || PrimitiveFunction(code) != member->entry || evaluator.selective || TracingArrays() ||
        TracingBlocks())
        return false;
    aplarray *value = nullptr;
    if (!ScalarOfScalars(*member, l, r, AssignedInPlace(l, r), value)) return false;
    ok = value != nullptr;
    if (!ok) {
        if (!aplerrno) SetError(APL_ERR_WSFULL);
        if (!errorPositions.evaluator) errorPositions.evaluator = function.at;
        return true;
    }
    result = ArrayItem(value);
    return true;
}

// The dispatch of every call: a derived function through its operator, a
// primitive, a system or compiled function, or a user-defined function.
// Consumes the arguments' items; `result` receives the value, or stays empty.
bool Walk::Call(Item &function, Item *left, Item &right, Item &result) {
    bool ok;
    if (left && ScalarCall(function, *left, right, result, ok)) return ok;
    aplarray *l = left ? Give(*left) : nullptr;
    aplarray *r = Give(right);
    const bool select = r && (r->type & APL_INDEXPOS);
    aplarray *value = CallFunction(&function.fn, function.axis, l, r);
    if (aplerrno) {
        APL_UnLinkTempEx(value, HERE);
        if (!errorPositions.evaluator) errorPositions.evaluator = function.at;
        return false;
    }
    if (value && select && (function.fn.flags & APL_FN_PRIMITIVE)) {
        if (value->lnkcnt != 0 || IsStatic(value))
            return FailText(APL_ERR_SYSTEM, "--> Error: dest-array is not TEMP, so SELECT isn't set!");
        value->type |= APL_INDEXPOS;
    }
    if (value) result = ArrayItem(value);
    return true;
}

// A derived function from an operator and its operands (right is null for a
// monadic operator). The operands' items are taken over by the record.
bool Walk::Bind(Item &op, Item &left, Item *right, Item &derived) {
    const bool dyadic = right != nullptr;
    if (left.IsArray()) {
        // An array operand: the operand of a dyadic operator, or of a monadic
        // one registered to take it (compress).
        if (!dyadic && !(op.fn.flags & APL_FN_ARRAYOPERAND)) return Fail(APL_ERR_SYNTAX);
    }
    auto *record = static_cast<DerivedRecord *>(AllocBlock(sizeof(DerivedRecord), HERE));
    if (!record) return Fail(APL_ERR_WSFULL);
    *record = DerivedRecord{};
    auto takeOperand = [](Item &item, aplfnc &slot, aplarray *&axisSlot, aplarray *&owned) {
        if (item.IsArray()) {
            slot = aplfnc{kItemArray, nullptr, item.array, 0};
            owned = item.array;
            item.array = nullptr;
        } else {
            slot = item.fn;
            slot.flags &= ~kItemSystem;
            axisSlot = item.axis;
            item.axis = nullptr;
        }
        item.fn = aplfnc{};
    };
    aplarray *leftOwned = nullptr, *rightOwned = nullptr;
    takeOperand(left, record->op.left, record->op.leftAxis, leftOwned);
    if (dyadic) takeOperand(*right, record->op.right, record->op.rightAxis, rightOwned);
    record->owned[0] = leftOwned ? leftOwned : record->op.leftAxis;
    record->owned[1] = rightOwned ? rightOwned : record->op.rightAxis;
    if (leftOwned && record->op.leftAxis) APL_UnLinkEx(record->op.leftAxis, HERE), record->op.leftAxis = nullptr;
    record->op.axis = op.axis;
    record->owned[2] = op.axis;
    op.axis = nullptr;
    record->op.kind = dyadic ? APL_FN_DYOP : APL_FN_MONOP;
    if (op.fn.flags & APL_FN_PRIMITIVE) {
        record->op.kind |= APL_FN_PRIMITIVE;
        record->op.code = op.fn.code;
    } else if (op.fn.flags & APL_FN_DEFINED) {
        record->op.kind |= APL_FN_DEFINED;
        record->op.code = op.fn.code;
    } else {
        record->op.function = op.fn.function;
    }
    op.fn = aplfnc{};
    derived = Item{};
    derived.fn = aplfnc{APL_FN_DERIVED | APL_FN_FUNCTION, &record->op, nullptr, 0};
    return true;
}

// Reduces the stack with a newly formed item, right-to-left APL binding with
// operators binding tighter than functions.
bool Walk::Reduce(Item x) {
    for (;;) {
        if (count_ >= kMaxStackItems) {
            Release(x);
            return Fail(APL_ERR_LIMIT);
        }
        if (x.IsArrow()) {
            // Everything right of the arrow is one value.
            if (!CompleteCalls(true, true)) {
                Release(x);
                return false;
            }
            Release(x);
            if (count_ == 0 || !Top().IsArray()) return Fail(APL_ERR_SYNTAX);
            Item value = Pop();
            if (!Assign(value)) {
                Release(value);
                return false;
            }
            x = value;
            continue;
        }
        if (x.IsArray()) {
            if (*p_ == glyph::kJotDiaeresis) {
                // The single item right of ⍤ is its cell ranks, never the
                // front of a strand: f⍤1 M applies f⍤1 to M alone.
                x.rankSpecification = true;
                Push(x);
                return true;
            }
            if (Has(1) && Top().IsArray()) {
                // Juxtaposed arrays: a strand. A strand on either side is
                // extended by the other item rather than held as one item.
                Item right = Pop();
                const bool leftIsStrand = (x.fn.flags & kItemStrand) != 0;
                const bool extend = (right.fn.flags & kItemStrand) != 0;
                aplarray *joined = APL_CatArray(Give(x), Give(right), leftIsStrand ? 1 : 0, extend ? 1 : 0);
                Release(x);
                Release(right);
                if (!joined) return false;
                x = ArrayItem(joined, true);
                continue;
            }
            // An array just right of a dyadic operator is its right operand:
            // it waits for that operator rather than binding to its right.
            const bool rightOperand = TokenIsDyadicOperator(p_);
            if (!rightOperand && Has(2) && Top().IsDyOp() && Top(1).IsFunctionOrArray()) {
                Item op = Pop(), right = Pop(), derived;
                const bool ok = Bind(op, x, &right, derived);
                Release(op), Release(right), Release(x);
                if (!ok) return false;
                x = derived;
                continue;
            }
            if (!rightOperand && Has(1) && Top().IsMonOp() && (Top().fn.flags & APL_FN_ARRAYOPERAND)) {
                Item op = Pop(), derived;
                const bool ok = Bind(op, x, nullptr, derived);
                Release(op), Release(x);
                if (!ok) return false;
                x = derived;
                continue;
            }
            if (!AtLeftEnd()) {
                Push(x);
                return true;
            }
            if (Has(2) && Top().IsFunction() && Top(1).IsArray()) {
                Item f = Pop(), right = Pop(), result;
                const bool ok = Call(f, &x, right, result);
                Release(f), Release(right), Release(x);
                if (!ok) return false;
                if (result.Empty()) return true;
                x = result;
                continue;
            }
            Push(x);
            return true;
        }
        // Operators bind from the left: a function just right of a dyadic
        // operator is that operator's right operand and waits for it, so
        // that f D g ¨ is (f D g)¨ and f D1 g D2 h is (f D1 g) D2 h.
        if (x.IsFunction() && !TokenIsDyadicOperator(p_)) {
            if (Has(1) && Top().IsMonOp()) {
                Item op = Pop(), derived;
                const bool ok = Bind(op, x, nullptr, derived);
                Release(op), Release(x);
                if (!ok) return false;
                x = derived;
                continue;
            }
            if (Has(2) && Top().IsDyOp() && Top(1).IsFunctionOrArray()) {
                Item op = Pop(), right = Pop(), derived;
                const bool ok = Bind(op, x, &right, derived);
                Release(op), Release(right), Release(x);
                if (!ok) return false;
                x = derived;
                continue;
            }
        }
        // A function or an operator: what stands to its right is complete.
        if (!CompleteCalls(x.IsFunction())) {
            Release(x);
            return false;
        }
        if (x.IsFunction() && AtLeftEnd() && Has(1) && Top().IsArray()) {
            Item right = Pop(), result;
            const bool ok = Call(x, nullptr, right, result);
            Release(right), Release(x);
            if (!ok) return false;
            if (result.Empty()) return true;
            x = result;
            continue;
        }
        Push(x);
        return true;
    }
}

// Completes the calls waiting on the stack once the item to their left shows
// that their left argument is complete: a dyadic call [array function array],
// and, when `monadicToo`, a function over an array.
bool Walk::CompleteCalls(bool monadicToo, bool beforeArrow) {
    for (;;) {
        if (Has(3) && Top().IsArray() && Top(1).IsFunction() && Top(2).IsArray()) {
            // With nothing else on the stack, the result is the value assigned.
            lastBeforeArrow_ = beforeArrow && count_ == 3;
            Item left = Pop(), f = Pop(), right = Pop(), result;
            const bool ok = Call(f, &left, right, result);
            lastBeforeArrow_ = false;
            Release(left), Release(f), Release(right);
            if (!ok) return false;
            if (!result.Empty()) Push(result);
            continue;
        }
        if (monadicToo && Has(2) && Top().IsFunction() && Top(1).IsArray()) {
            Item f = Pop(), right = Pop(), result;
            const bool ok = Call(f, nullptr, right, result);
            Release(f), Release(right);
            if (!ok) return false;
            if (!result.Empty()) Push(result);
            continue;
        }
        return true;
    }
}

// ---- Assignment ----------------------------------------------------------------------

bool Walk::Assign(Item &value) {
    if (evaluator.selective && evaluator.depth > 1 && evaluator.selectiveMet)
        return FailText(APL_ERR_SYNTAX, "Assignment invalid in selective specification");
    const uint8_t tag = *p_;
    if (tag == kTagName) {
        const uint16_t symbol = NameSymbol(p_);
        p_ = TokenBefore(p_);
        if (!AssignName(symbol, value.array)) return false;
        value.assigned = true;
        return true;
    }
    if (tag == kRightBracket) {
        if (!FormIndexList()) return false;
        aplarray *indices = pending_;
        pending_ = nullptr;
        if (*p_ != kTagName) {
            APL_UnLinkEx(indices, HERE);
            return Fail(APL_ERR_SYNTAX);
        }
        const uint16_t symbol = NameSymbol(p_);
        p_ = TokenBefore(p_);
        if (!IsSymbol(symbol) || !(Symbol(symbol).kind & APL_KIND_VARIABLE) || !Symbol(symbol).value) {
            APL_UnLinkEx(indices, HERE);
            return Fail(APL_ERR_VALUE);
        }
        if (indices->lnkcnt > 0) --indices->lnkcnt;
        if (!APL_AssignIdx(symbol, indices, value.array)) return false;
        value.assigned = true;
        return true;
    }
    if (tag == kRightParen) {
        // A list of names only is a vector assignment, anything else a selective one.
        const uint8_t *q = p_ - 1;
        bool namesOnly = true;
        while (*q != kLeftParen) {
            if (*q != kTagName) {
                namesOnly = false;
                break;
            }
            q = TokenBefore(q);
        }
        return namesOnly && q != p_ - 1 ? AssignVector(p_, value) : AssignSelective(p_, value);
    }
    return Fail(APL_ERR_SYNTAX);
}

bool Walk::AssignVector(const uint8_t *close, Item &value) {
    uint16_t names[256];
    int n = 0;
    const uint8_t *q = close - 1;
    while (*q != kLeftParen) {
        if (n == 256) return Fail(APL_ERR_LIMIT);
        names[n++] = NameSymbol(q);  // right to left
        q = TokenBefore(q);
    }
    p_ = q - 1;
    aplarray *v = value.array;
    if (v->rank == 0) {
        for (int i = 0; i < n; ++i)
            if (!AssignName(names[i], v)) return false;
        value.assigned = true;
        return true;
    }
    if (ElementCount(v) != n) return FailText(APL_ERR_LENGTH, "In vector assignment");
    aplarray *nested = IsNested(v) ? v : APL_MakeNested(CopyArray(v, HERE));
    if (!nested) return false;
    TempGuard guard(nested == v ? nullptr : nested);
    aplarray **items = ItemsOf(nested);
    for (int i = 0; i < n; ++i)
        if (!AssignName(names[i], items[n - 1 - i])) return false;
    value.assigned = true;
    return true;
}

bool Walk::AssignSelective(const uint8_t *close, Item &value) {
    const EvaluatorState saved = evaluator;
    evaluator.selective = true;
    evaluator.selectiveMet = false;
    Walk inside(close - 1, kEvalGroup, pool_);
    Item positions;
    const uint8_t *stop = inside.Run(positions);
    const bool met = evaluator.selectiveMet;
    const uint16_t symbol = evaluator.selectiveSymbol;
    evaluator.selective = saved.selective;
    evaluator.selectiveMet = saved.selectiveMet;
    evaluator.selectiveSymbol = saved.selectiveSymbol;
    if (aplerrno) {
        Release(positions);
        return false;
    }
    p_ = stop - 1;
    if (!met || positions.Empty()) {
        Release(positions);
        return Fail(APL_ERR_SYNTAX);
    }
    if (!positions.IsArray() || !(positions.array->type & APL_INDEXPOS)) {
        Release(positions);
        return FailText(APL_ERR_SYNTAX, "No legal position array");
    }
    aplarray *where = Give(positions);
    if (!::AssignSelective(symbol, where, value.array)) return false;
    value.assigned = true;
    return true;
}

// ---- Control blocks ------------------------------------------------------------------

bool EvaluateSegment(const ControlBlock &block, uint32_t i, int32_t flags, const PoolView &pool, Item &out);

bool Walk::RunBlock() {
    ControlBlock block;
    if (!ReadControlBlock(p_, nullptr, block)) return FailText(APL_ERR_SYSTEM, "Malformed control block");
    Item selector;
    if (!EvaluateSegment(block, 0, kEvalSegment, pool_, selector)) return false;
    if (!selector.IsArray()) {
        Release(selector);
        return Fail(APL_ERR_SYNTAX);
    }
    p_ = block.LeftBrace() - 1;
    bool ok = true;
    if (block.loopVariable >= 0) {
        const auto variable = static_cast<uint16_t>(block.loopVariable);
        if (!IsSymbol(variable)) {
            Release(selector);
            return FailText(APL_ERR_SYSTEM, "Invalid symbol index");
        }
        const aplsymbol saved = Symbol(variable);
        Symbol(variable) = aplsymbol{saved.name, APL_KIND_VARIABLE, 0, {0, 0}, nullptr};
        aplarray *values = selector.array;
        const int64_t n = ElementCount(values);
        for (int64_t i = 0; ok && i < n; ++i) {
            if (APL_interrupted) {
                APL_interrupted = 0;
                ok = Fail(APL_ERR_INTERRUPT);
                break;
            }
            // Each element is a value of its own, so that keeping it in another
            // variable is not changed by the next turn.
            aplarray *element = IsNested(values) ? ItemsOf(values)[i] : ItemScalar(values, i);
            if (!element) {
                ok = false;
                break;
            }
            aplarray *old = static_cast<aplarray *>(Symbol(variable).value);
            Symbol(variable).value = APL_LinkEx(element, HERE);
            APL_UnLinkEx(old, HERE);
            Item body;
            ok = block.count < 2 || EvaluateSegment(block, 1, kEvalSegment | kEvalStatement, pool_, body);
            Release(body);
            if (ok && BranchTaken()) break;
        }
        APL_UnLinkEx(static_cast<aplarray *>(Symbol(variable).value), HERE);
        Symbol(variable) = saved;
    } else {
        aplarray *s = selector.array;
        if (ElementCount(s) != 1) {
            ok = FailText(APL_ERR_LENGTH, "In case statement");
        } else {
            int32_t choice = 0;
            aplarray *held = APL_LinkEx(s, HERE);
            aplarray *number = ConvertType(held, APL_INTG);
            if (aplerrno || !number || number->eltype != APL_INTG) {
                if (!aplerrno) SetError(APL_ERR_DOMAIN);
                snprintf(APL_error_message, sizeof APL_error_message, "In case statement");
                ok = false;
            } else {
                choice = *DataOf<int32_t>(number);
            }
            if (number != held) APL_UnLinkTempEx(number, HERE);
            APL_UnLinkEx(held, HERE);
            const auto alternatives = static_cast<int32_t>(block.count) - 1;
            if (ok && alternatives >= 1) {
                int32_t chosen = 0;
                if (alternatives >= 2)
                    chosen = choice >= 1 && choice <= alternatives ? choice : alternatives;
                else if (choice == 1)
                    chosen = 1;
                if (chosen) {
                    Item body;
                    ok = EvaluateSegment(block, static_cast<uint32_t>(chosen), kEvalSegment | kEvalStatement, pool_,
                                         body);
                    Release(body);
                }
            }
        }
    }
    Release(selector);
    return ok && !aplerrno;
}

bool EvaluateSegment(const ControlBlock &block, uint32_t i, int32_t flags, const PoolView &pool, Item &out) {
    Walk segment(block.SegmentStart(i), flags, pool);
    segment.Run(out);
    return !aplerrno;
}

}  // namespace

const uint8_t *EvaluateLine(const uint8_t *position, int32_t flags, EvalResult &result, const PoolView &pool) {
    result = EvalResult{};
    Walk walk(position, flags, pool);
    Item out;
    const uint8_t *stop = walk.Run(out);
    if (aplerrno) {
        Release(out);
        return stop;
    }
    if (out.IsArray()) {
        result.assigned = out.assigned;
        // A constant held in place lives in a pool the caller may free next
        // (evaluated input, execute): it leaves as a managed temporary.
        if (IsStatic(out.array)) {
            aplarray *copy = CopyArray(out.array, HERE);
            if (!copy) {
                Release(out);
                SetError(APL_ERR_WSFULL);
                return stop;
            }
            out.array = APL_LinkEx(copy, HERE);
        }
        result.value = Give(out);
    } else if (!out.Empty()) {
        result.function = true;
    }
    Release(out);
    return stop;
}

void EvaluateStatementLine(const StoredLine &line, const PoolView &pool, LinePlanHint *hint) {
    if (RunLinePlan(line, pool, hint)) return;
    EvalResult result;
    EvaluateLine(line.last, kEvalStatement, result, pool);
    APL_UnLinkTempEx(result.value, HERE);
}
