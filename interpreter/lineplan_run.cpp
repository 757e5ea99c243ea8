// lineplan_run: the runner of plans. Follows a statement's operations on a
// short stack of values, with the walk's rules for links, in-place results,
// branches and errors, and the quick forms that need no call: scalar
// arithmetic, the branch forms, an element read or stored, an append.
// Relies on the primitive tables, the scalar routines, the evaluator's
// assignment and in-place rule and the runner of defined functions.
#include "interpreter/lineplan_form.h"

#include "core/arrays.h"
#include "core/call.h"
#include "core/errors.h"
#include "core/glyphs.h"
#include "core/primitives.h"
#include "core/symtab.h"
#include "interpreter/execfn.h"
#include "interpreter/execline.h"
#include "scalar/scllib.h"

#include <cstdint>
#include <cstring>

namespace lineplan {

namespace {

// The loop through a plan's operations keeps the everyday steps (read a
// name, a scalar call, an assignment) in line and calls the others, so that
// a step saves and restores few registers.
#define Hot inline __attribute__((always_inline))
#define Rare __attribute__((noinline))

// How a slot holds its value, which decides what releasing it means.
enum class Hold : uint8_t {
    Link,    // one link of the slot's own
    Borrow,  // a static record, or a variable's value read where no assignment can free it before use
    Temp,    // a call's result as it came, where no assignment can free it before use
    Inline,  // a simple scalar result kept in the record of the slot's place
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
};

class Runner {
public:
    Runner(const Plan &plan, const uint8_t *last, const PoolView &pool, bool borrow)
        : plan_(plan), last_(last), pool_(pool), borrow_(borrow) {}
    ~Runner() {
        while (count_ > 0) Release(stack_[--count_]);
    }

    bool Run(const Op *ops, int n) {
        for (int i = 0; i < n; ++i) {
            const Op &op = ops[i];
            if (op.flags & (kBranchAfter | kBranchIota)) {
                if ((op.flags & kBranchAfter) && ConditionalBranch(op.code)) {
                    ++i;
                    continue;
                }
                if ((op.flags & kBranchIota) && IotaBranch(ops + i + 1)) {
                    i += 3;
                    continue;
                }
                if (aplerrno) return false;  // the branch form's target could not be read
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
    // The record kept for the value at the stack's place: a scalar routine
    // writes its result there, in place of its right argument, which it has
    // read by then; no record is copied from one place to another (a copy read
    // just after the routine's narrow stores would wait for them).
    aplarray *RecordAt(int place) { return records_[place].Array(); }

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
    // A link as APL_LinkEx takes it (a static record becomes a linked copy, a
    // traced session sees it); a managed block only counts it.
    static aplarray *Linked(aplarray *array) {
        if (!array || IsStatic(array) || TracingArrays()) return APL_LinkEx(array, HERE);
        ++array->lnkcnt;
        return array;
    }
    // A link let go: on a block that keeps another it is only counted off;
    // the last one (or a traced one) takes the unlink.
    static void Unlinked(aplarray *array) {
        if (!IsStatic(array) && array->lnkcnt >= 2 && !TracingArrays())
            --array->lnkcnt;
        else
            APL_UnLinkEx(array, HERE);
    }
    static void Release(Slot &slot) {
        switch (slot.hold) {
            case Hold::Link: Unlinked(slot.array); break;
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
        slot.array = borrow_ ? block : Linked(block);
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

    Hot bool Step(const Op &op) {
        switch (op.kind) {
            case OpKind::Name: return ReadName(op);
            case OpKind::Constant: return HoldConstant(op);
            case OpKind::Monadic: return CallMonadic(op);
            case OpKind::Dyadic: return CallDyadic(op);
            case OpKind::Assign: {
                Slot &top = stack_[count_ - 1];
                if (!HoldsAlready(op.symbol, top.array) && !AssignTop(op)) return false;
                top.assigned = true;
                return true;
            }
            case OpKind::Ungroup: stack_[count_ - 1].assigned = false; return true;
            case OpKind::Index: return Index(op);
            case OpKind::IndexAssign: return AssignIndexed(op);
            case OpKind::Call: return CallDefined(op);
        }
        return Fail(op, APL_ERR_SYSTEM);
    }

    Rare bool AssignTop(const Op &op) {
        Slot &top = stack_[count_ - 1];
        if (!Box(top)) return Fail(op, APL_ERR_WSFULL);
        // The checks of a system variable may replace the value and release
        // it: the slot keeps a link, as the walk's item does.
        if (top.hold == Hold::Temp) top.array = Linked(top.array), top.hold = Hold::Link;
        return StoreLocal(op.symbol, top.array) || AssignName(op.symbol, top.array) || Fail(op, APL_ERR_SYNTAX);
    }

    // A plain variable, or a name with no meaning yet, takes the value as
    // APL_Assign gives it: linked in, the old value let go after. False, with
    // nothing done, for any other name (the assignment's checks decide).
    static bool StoreLocal(uint16_t symbol, aplarray *value) {
        if (!IsSymbol(symbol) || IsStatic(value) || aplerrno) return false;
        aplsymbol &entry = Symbol(symbol);
        if (entry.kind != APL_KIND_VARIABLE && !(entry.kind == 0 && !entry.value)) return false;
        auto *old = static_cast<aplarray *>(entry.value);
        entry.value = Linked(value);
        entry.kind = APL_KIND_VARIABLE;
        if (old) Unlinked(old);
        return true;
    }

    // A plain variable that already holds the value (written in place, or
    // X←X): assigning it again would link and unlink the same record.
    static bool HoldsAlready(uint16_t symbol, const aplarray *value) {
        if (!IsSymbol(symbol)) return false;
        const aplsymbol &entry = Symbol(symbol);
        return entry.value == value && entry.kind == APL_KIND_VARIABLE && !IsStatic(value);
    }

    // A name that a defined function called by the line erased (VALUE), or
    // gave a meaning the plan cannot follow: the walk would have read the
    // rest of the line otherwise.
    Rare bool ChangedName(const Op &op) {
        const aplsymbol &entry = Symbol(op.symbol);
        constexpr int kMeanings =
            APL_KIND_FUNCTION | APL_KIND_MONOP | APL_KIND_DYOP | APL_KIND_OPERAND | APL_KIND_SYSTEM;
        if (!entry.value || !(entry.kind & kMeanings)) return Fail(op, APL_ERR_VALUE);
        SetErrorText(APL_ERR_SYNTAX, "%s", "A name of the line changed its kind in a call");
        return Fail(op, APL_ERR_SYNTAX);
    }

    Hot bool ReadName(const Op &op) {
        // A name that a call of the line erased has no value; one it made
        // a function of another kind cannot be read as the plan reads it.
        if (plan_.calls && !ReadsAsVariable(op.symbol)) return ChangedName(op);
        auto *value = static_cast<aplarray *>(Symbol(op.symbol).value);
        if (!value) return Fail(op, APL_ERR_VALUE);
        if (IsStatic(value)) return HoldRecord(op, value);
        if (borrow_) {
            Push(value, Hold::Borrow);
            return true;
        }
        Push(Linked(value), Hold::Link);
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

    // The descriptor the walk makes: compress without its operator meaning.
    static aplfnc Primitive(uint8_t code) {
        uint16_t flags = PrimitiveFlags(code);
        if (IsReplicate(code)) flags = static_cast<uint16_t>(flags & ~(APL_FN_MONOP | APL_FN_DYOP));
        return aplfnc{static_cast<intptr_t>(flags | APL_FN_PRIMITIVE), nullptr, nullptr, code};
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
                Push(Linked(value), Hold::Link);
            return true;
        }
        // A call that gave no value: the error is the user's of the value,
        // the next operation (only the statement's last has none).
        return (op.flags & kFinal) || Fail(*(&op + 1), APL_ERR_SYNTAX);
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

    // A single 0 or 1, the condition of a branch form.
    static bool Condition(const aplarray *a, int32_t &value) { return SingleInteger(a, value) && (value & ~1) == 0; }

    // →C⍴L or →C/L with C a single 0 or 1 and L a simple INTG scalar: branches
    // to L when C is 1, with no reshape or compress made; both values are
    // released. False, with nothing done, for any other arguments (they take
    // the two calls).
    bool ConditionalBranch(uint8_t code) {
        const aplarray *count = stack_[count_ - 1].array, *target = stack_[count_ - 2].array;
        int32_t n, line;
        const aplfunction expected = code == glyph::kRho     ? APL_Shape
                                     : code == glyph::kSlash ? APL_Replicate
                                                             : APL_Replicate1;
        if (!Condition(count, n) || target->rank != 0 || target->eltype != APL_INTG ||
            PrimitiveFunction(code) != expected || PrimitiveFunction(glyph::kRightArrow) != APL_Jump)
            return false;
        memcpy(&line, DataOf(target), sizeof line);
        if (n == 1) BranchTo(line);
        Release(stack_[--count_]);
        Release(stack_[--count_]);
        return true;
    }

    // →L×⍳C, standing before ⍳: with C a single 0 or 1, the index origin 1 and
    // L (read by `next`, a name or constant) a simple INTG scalar, branches to
    // L when C is 1. False, with nothing left done, for anything else.
    Rare bool IotaBranch(const Op *next) {
        int32_t n, line;
        if (!Condition(stack_[count_ - 1].array, n) || IndexOrigin() != 1 ||
            PrimitiveFunction(glyph::kIota) != APL_Interval || PrimitiveFunction(glyph::kTimes) != APL_Mul ||
            PrimitiveFunction(glyph::kRightArrow) != APL_Jump)
            return false;
        // Reading a name or constant changes nothing: a target of another kind
        // is let go and read again after the calls.
        if (!Step(*next)) return false;
        const aplarray *target = stack_[count_ - 1].array;
        const bool label = target->rank == 0 && target->eltype == APL_INTG;
        if (label && n == 1) {
            memcpy(&line, DataOf(target), sizeof line);
            BranchTo(line);
        }
        Release(stack_[--count_]);
        if (!label) return false;
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

    Rare bool CallMonadic(const Op &op) {
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
    Hot bool ScalarCall(const Op &op, bool &ok) {
        Slot &left = stack_[count_ - 1], &right = stack_[count_ - 2];
        if (left.array->rank != 0 || right.array->rank != 0) return false;
        const ScalarMember *member = op.member;
        if (!member || PrimitiveFunction(op.code) != member->entry) return false;
        aplarray *into = WrittenOver(op, left, right);
        ScalarRecord aside, twin;
        aplarray *value = nullptr;
        aplarray *place = RecordAt(count_ - 2);
        // X×X reads one value twice: the routines take it from two records.
        const aplarray *second = right.array;
        if (second == left.array && second->eltype != APL_NESTED && !IsStatic(second)) {
            memcpy(twin.bytes, second, sizeof twin.bytes);
            second = twin.Array();
        }
        if (!NumberScalars(*member, left.array, second, into, place, value)) {
            if (!into) {
                const int type = DyadicResultType(member->dyadicRule, left.array->eltype, right.array->eltype);
                into = aside.Array();
                *into = aplarray{};
                into->size = type == APL_REAL ? 24 : 20;
                into->type = APL_SIMPLE;
                into->eltype = static_cast<uint8_t>(type);
                into->number = 1;
            }
            if (!ScalarOfScalars(*member, left.array, second, into, value)) return false;
        }
        ok = value != nullptr || Fail(op, APL_ERR_WSFULL);
        if (!ok) return true;
        Release(stack_[--count_]);
        Release(stack_[--count_]);
        if (value == aside.Array()) {
            memcpy(place, aside.bytes, sizeof aside.bytes);
            Push(place, Hold::Inline);
        } else if (value == place) {
            Push(place, Hold::Inline);
        } else if (value == into) {
            // Written over the variable, which holds it; the assignment follows.
            Push(value, borrow_ ? Hold::Borrow : Hold::Link);
            if (!borrow_) Linked(value);
        } else if (borrow_) {
            Push(value, Hold::Temp);
        } else {
            Push(Linked(value), Hold::Link);
        }
        return true;
    }

    // The element of a simple vector at a single index (an INTG, or a REAL
    // of an integral value, as sums are), or -1 when the index is not of that
    // kind or lies outside the vector.
    static int64_t ElementAt(const aplarray *vector, const aplarray *index) {
        if (vector->rank != 1 || index->rank != 0) return -1;
        int64_t i;
        if (index->eltype == APL_INTG) {
            int32_t element;
            memcpy(&element, DataOf(index), sizeof element);
            i = element;
        } else if (index->eltype == APL_REAL) {
            double element;
            memcpy(&element, DataOf(index), sizeof element);
            if (!(element >= -1.0 && element <= static_cast<double>(vector->shape[0]))) return -1;
            i = static_cast<int64_t>(element);
            if (static_cast<double>(i) != element) return -1;
        } else {
            return -1;
        }
        const int64_t at = i - IndexOrigin();
        return at >= 0 && at < vector->shape[0] ? at : -1;
    }

    // The index list the walk hands over: a single position's index as it is
    // when a scalar, else enclosed. Null with the error set.
    aplarray *IndexList(const Op &op) {
        if (!Box(stack_[count_ - 1])) return nullptr;
        aplarray *index = Give();
        if (index->rank == 0) return index;
        aplarray *list = APL_Enclose(nullptr, nullptr, index);
        if (!list && !aplerrno) SetError(APL_ERR_WSFULL);
        if (!list) Fail(op, aplerrno);
        return list;
    }

    // A[I]: a simple INTG, REAL or CHAR vector at a single index gives its
    // element in the record of the index's place; anything else takes the
    // indexing.
    Rare bool Index(const Op &op) {
        Slot &array = stack_[count_ - 1], &index = stack_[count_ - 2];
        const aplarray *a = array.array;
        const bool plain = a->eltype == APL_INTG || a->eltype == APL_REAL || a->eltype == APL_CHAR;
        const int64_t at = plain ? ElementAt(a, index.array) : -1;
        if (at >= 0) {
            // The index is read: its place takes the element.
            aplarray *record = RecordAt(count_ - 2);
            *record = aplarray{};
            record->size = a->eltype == APL_REAL ? 24 : 20;
            record->type = APL_SIMPLE;
            record->eltype = a->eltype;
            record->number = 1;
            if (a->eltype == APL_REAL)
                memcpy(DataOf(record), DataOf<double>(a) + at, sizeof(double));
            else if (a->eltype == APL_INTG)
                memcpy(DataOf(record), DataOf<int32_t>(a) + at, sizeof(int32_t));
            else
                memcpy(DataOf(record), DataOf<char>(a) + at, 1);
            Release(stack_[--count_]);
            Release(stack_[--count_]);
            Push(record, Hold::Inline);
            return true;
        }
        if (!Box(array)) return Fail(op, APL_ERR_WSFULL);
        aplarray *value = Give();
        aplarray *list = IndexList(op);
        if (!list) {
            APL_UnLinkTempEx(value, HERE);
            return false;
        }
        aplarray *selected = APL_IndexData(value, list, nullptr);
        if (!selected) return Fail(op, aplerrno ? aplerrno : APL_ERR_WSFULL);
        return Took(op, selected);
    }

    // V[I]←Y with V a simple vector that only its name holds, I a single index
    // inside it and Y a scalar of V's type (or an INTG into REAL): the element
    // is written where it lies. False, with nothing done, for anything else.
    bool StoreElement(const Op &op) {
        const aplsymbol &entry = Symbol(op.symbol);
        if ((entry.kind & ~APL_KIND_USER) != APL_KIND_VARIABLE || !entry.value) return false;
        auto *v = static_cast<aplarray *>(entry.value);
        const aplarray *y = stack_[count_ - 2].array;
        if (IsStatic(v) || v->lnkcnt != 1 || y->rank != 0) return false;
        const int64_t at = ElementAt(v, stack_[count_ - 1].array);
        if (at < 0) return false;
        const int from = y->eltype, to = v->eltype;
        // Each width copied by a fixed size: a copy of a size known only at
        // run time would be a string move, slower than the rest of the store.
        if (from == to && to == APL_REAL) {
            memcpy(DataOf<double>(v) + at, DataOf(y), sizeof(double));
        } else if (from == to && to == APL_INTG) {
            memcpy(DataOf<int32_t>(v) + at, DataOf(y), sizeof(int32_t));
        } else if (from == to && to == APL_CHAR) {
            memcpy(DataOf<char>(v) + at, DataOf(y), 1);
        } else if (to == APL_REAL && from == APL_INTG) {
            int32_t element;
            memcpy(&element, DataOf(y), sizeof element);
            DataOf<double>(v)[at] = element;
        } else {
            return false;
        }
        return true;
    }

    Rare bool AssignIndexed(const Op &op) {
        if (!StoreElement(op)) {
            Slot &value = stack_[count_ - 2];
            if (!Box(value)) return Fail(op, APL_ERR_WSFULL);
            if (value.hold == Hold::Temp) value.array = APL_LinkEx(value.array, HERE), value.hold = Hold::Link;
            const aplsymbol *entry = IsSymbol(op.symbol) ? &Symbol(op.symbol) : nullptr;
            if (!entry || !(entry->kind & APL_KIND_VARIABLE) || !entry->value) {
                Release(stack_[--count_]);
                return Fail(op, APL_ERR_VALUE);
            }
            aplarray *list = IndexList(op);
            if (!list) return false;
            if (!APL_AssignIdx(op.symbol, list, value.array)) return Fail(op, aplerrno ? aplerrno : APL_ERR_SYSTEM);
        } else {
            Release(stack_[--count_]);
        }
        stack_[count_ - 1].assigned = true;
        return true;
    }

    // R←R,X with R a simple INTG, REAL or CHAR vector that only its name (and
    // this line) holds and X a scalar or vector of its type: X is written
    // after R's elements in the block's spare room, which grows by half again
    // when it runs out, so that building a vector by appending costs the
    // elements appended, not the vector copied on every turn. False, with
    // nothing done, for anything else.
    Rare bool Append(const Op &op) {
        Slot &left = stack_[count_ - 1], &right = stack_[count_ - 2];
        aplarray *r = left.array;
        const aplarray *x = right.array;
        if (op.code != glyph::kComma || !(op.flags & kInPlace) || r->rank != 1 || x->rank > 1 ||
            x->eltype != r->eltype || (r->eltype != APL_INTG && r->eltype != APL_REAL && r->eltype != APL_CHAR) ||
            PrimitiveFunction(glyph::kComma) != APL_Catenate || WrittenOver(op, left, right) != r)
            return false;
        const int64_t n = r->shape[0], m = x->rank ? x->shape[0] : 1;
        const auto size = static_cast<int64_t>(ElementSize(r->eltype));
        const int64_t record = 16 + 4 + (n + m) * size;
        if (record > INT32_MAX / 2) return false;
        const auto needed = static_cast<size_t>((record + 15) & ~int64_t{15});
        const memblock *header = BlockHeader(r);
        if (!header) return false;
        if (needed > header->capacity - header->lead - sizeof(memblock)) {
            auto *moved = static_cast<aplarray *>(ReallocBlock(r, (needed + needed / 2 + 15) & ~size_t{15}, HERE));
            if (!moved) return false;
            Symbol(op.symbol).value = moved;
            left.array = r = moved;
        }
        memcpy(DataOf<char>(r) + n * size, DataOf(x), static_cast<size_t>(m * size));
        r->shape[0] = static_cast<int32_t>(n + m);
        r->number = static_cast<int32_t>(n + m);
        r->size = static_cast<int32_t>(record);
        Release(stack_[--count_]);
        Release(stack_[--count_]);
        // Written over the variable, which holds it; the assignment follows.
        Push(r, borrow_ ? Hold::Borrow : Hold::Link);
        if (!borrow_) APL_LinkEx(r, HERE);
        return true;
    }

    // A defined function's call, its arguments handed over as the walk hands
    // them. An earlier call of the line may have erased or redefined it.
    Rare bool CallDefined(const Op &op) {
        if (!CalledFunction(Symbol(op.symbol))) return ChangedName(op);
        for (int i = 1; i <= op.code; ++i)
            if (!Box(stack_[count_ - i])) return Fail(op, APL_ERR_WSFULL);
        aplarray *left = op.code == 2 ? Give() : nullptr;
        aplarray *right = Give();
        return Took(op, CallDefinedFunction(op.symbol, left, right));
    }

    Hot bool CallDyadic(const Op &op) {
        bool ok;
        if (ScalarCall(op, ok)) return ok;
        if (Append(op)) return true;
        if (!Box(stack_[count_ - 1]) || !Box(stack_[count_ - 2])) return Fail(op, APL_ERR_WSFULL);
        aplfnc fn = Primitive(op.code);
        aplarray *left = Give();
        aplarray *right = Give();
        return Took(op, CallFunction(&fn, nullptr, left, right));
    }

    const Plan &plan_;
    const uint8_t *last_;
    const PoolView &pool_;
    const bool borrow_;  // the line assigns only at its end: values need no links
    Slot stack_[kMaxPlanStack];
    ScalarRecord records_[kMaxPlanStack];
    int count_ = 0;
};

}  // namespace

bool RunStatement(const Plan &plan, const Statement &statement, const uint8_t *last, const PoolView &pool) {
    Runner runner(plan, last, pool, statement.borrow);
    return runner.Run(plan.op + statement.first, statement.ops) && runner.Finish();
}

}  // namespace lineplan
