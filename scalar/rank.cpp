// rank: the operator ⍤ (f⍤X applied to the cells of rank X) and its companion
// apl_RANK, written as the compiler writes a function and run line by line.
// Relies on the operator wrapper, each, enclose with axis, mix and ⎕NC.
#include "scalar/rank.h"

#include "core/arrays.h"
#include "core/call.h"
#include "core/errors.h"
#include "core/symtab.h"
#include "scalar/operands.h"
#include "structural/cells.h"

namespace {

constexpr int kAdmitted = APL_CHAR | APL_INTG | APL_REAL | APL_NESTED;

// The function apl_RANK stands for, with IO localised and locals whose names
// no user can write (a quad and a digit), so that an operand that reads
// global names still sees them:
//
//   Z←L RANK R;⎕IO              (X: the cell ranks, left first)
//   [1]  ⎕IO←1
//   [2]  →(0≠⎕NC 'L')/5
//   [3]  Z←⊃ f¨ ⊂[(-X)↑⍳⍴⍴R] R
//   [4]  →0
//   [5]  Z←⊃ (⊂[(-↑X)↑⍳⍴⍴L] L) f¨ ⊂[(-¯1↑X)↑⍳⍴⍴R] R
constexpr int kLines = 5;

// The line-flags vector as compiled code passes it: a static CHAR vector of
// kLines+1 zeros (no line opens a control structure).
alignas(4) const unsigned char kLineFlags[28] = {16 + 4 + kLines + 1, 0, 0, 0, 0x41,       1, 1, 0, 1, 0, 0, 0,
                                                 kLines + 1,          0, 0, 0, kLines + 1, 0, 0, 0};

enum Local { kZ, kL, kR, kX, kLocals };
// Quad, then a digit: a system-style name that no user variable can take.
const char *const kLocalNames[kLocals] = {"\2140Z", "\2140L", "\2140R", "\2140X"};

aplarray *Var(uint16_t index) { return APL_Variable(index); }

// ⊂[(-n)↑⍳⍴⍴A] A: the cells of A made of its last n axes. Consumes a
// temporary n; returns a temporary.
aplarray *CellsOf(aplarray *n, aplarray *array) {
    aplarray *axes =
        APL_Take(nullptr, APL_Sub(nullptr, nullptr, n),
                 APL_Interval(nullptr, nullptr, APL_Shape(nullptr, nullptr, APL_Shape(nullptr, nullptr, array))));
    // A bracket list of more than a scalar arrives enclosed, as the evaluator passes it.
    return APL_Enclose(APL_Enclose(nullptr, nullptr, axes), nullptr, array);
}

// →(condition)/line, as compiled code branches.
void JumpIf(aplarray *condition, int32_t line) {
    APL_UnLinkTempEx(APL_Jump(nullptr, nullptr, APL_Replicate(nullptr, condition, APL_Int(line))), HERE);
}

}  // namespace

aplarray *apl_RANK(aplarray *axis, aplarray *left, aplfnc *fn, aplarray *fnAxis, aplfnc *, aplarray *,
                   aplarray *right) {
    if (!axis) {
        SetError(APL_ERR_SYNTAX);
        return nullptr;
    }
    uint16_t idx[kLocals];
    for (int i = 0; i < kLocals; ++i) {
        idx[i] = APL_AddSymbol(kLocalNames[i], 3, APL_KIND_VARIABLE, KAZ_InitSimple(nullptr));
        if (idx[i] >= APL_symtab.count) return aplerrno ? nullptr : (SetError(APL_ERR_WSFULL), nullptr);
    }
    const uint16_t io = sys_IO_idx;
    aplfnc none{};
    auto each = [&](aplarray *l, aplarray *r) { return APL_Each(nullptr, l, fn, fnAxis, &none, nullptr, r); };

    aplsymbol localvars[kLocals + 1];
    void *old_lines;
    KAZ_InitVar(localvars + 0, idx[kZ]);
    KAZ_InitArg(localvars + 1, idx[kL], left);
    KAZ_InitArg(localvars + 2, idx[kR], right);
    KAZ_InitArg(localvars + 3, idx[kX], axis);
    KAZ_InitVar(localvars + 4, io);
    const bool framed = APL_InitLines(&old_lines, kLines, kLineFlags) != nullptr;
    if (!framed) goto end;
nextline:
    switch (APL_NextLine(kLineFlags)) {
        case 1: APL_Assign(io, APL_Int(1)); goto nextline;
        case 2:
            JumpIf(APL_NEqual(nullptr, APL_Int(0), APL_NameClass(nullptr, nullptr, MakeString(kLocalNames[kL]))), 5);
            goto nextline;
        case 3:
            APL_Assign(idx[kZ], APL_Disclose(nullptr, nullptr, each(nullptr, CellsOf(Var(idx[kX]), Var(idx[kR])))));
            goto nextline;
        case 4: APL_UnLinkTempEx(APL_Jump(nullptr, nullptr, APL_Int(0)), HERE); goto nextline;
        case 5:
            APL_Assign(idx[kZ],
                       APL_Disclose(nullptr, nullptr,
                                    each(CellsOf(APL_Take(nullptr, nullptr, Var(idx[kX])), Var(idx[kL])),
                                         CellsOf(APL_Take(nullptr, APL_Int(-1), Var(idx[kX])), Var(idx[kR])))));
            goto nextline;
        default: goto end;
    }
end:
    aplarray *z = nullptr;
    if (!aplerrno) {
        z = Var(idx[kZ]);
        if (z) ++z->lnkcnt;  // kept across the restore of the locals
    }
    KAZ_ResumeVar(localvars + 0, idx[kZ]);
    KAZ_ResumeArg(localvars + 1, idx[kL], left);
    KAZ_ResumeArg(localvars + 2, idx[kR], right);
    KAZ_ResumeArg(localvars + 3, idx[kX], axis);
    KAZ_ResumeVar(localvars + 4, io);
    if (framed) APL_ResumeLines(old_lines);
    if (z && z->lnkcnt > 0) --z->lnkcnt;
    return z;
}

namespace {

// Checks the cell ranks (integers, none negative: DOMAIN otherwise) against
// the ranks of the arguments (RANK when a cell would be larger than its
// array). Returns them as a temporary INTG vector, or null. Borrows.
aplarray *CheckedRanks(const aplarray *values, const aplarray *left, const aplarray *argument) {
    IntegerArgument x(values);
    if (!x.ok()) return nullptr;
    const int32_t count = static_cast<int32_t>(x.size());
    for (int32_t i = 0; i < count; ++i)
        if (x[i] < 0) return SetError(APL_ERR_DOMAIN), nullptr;
    if (left && left->rank < x[0]) return SetError(APL_ERR_RANK), nullptr;
    if (argument->rank < x[count - 1]) return SetError(APL_ERR_RANK), nullptr;
    return MakeIntVector(x.data(), count);
}

// The cell ranks written as the operator's axis: one value, or two with a
// left argument (AXIS otherwise). Borrows; returns a temporary or null.
aplarray *RanksFromAxis(const aplarray *axis, const aplarray *left, const aplarray *right) {
    const aplarray *values = IsNested(axis) && axis->rank == 0 ? ItemsOf(axis)[0] : axis;
    if (IsNested(values)) return SetError(APL_ERR_DOMAIN), nullptr;
    const int64_t count = ElementCount(values);
    if (values->rank > 1 || count < 1 || count > (left ? 2 : 1)) return SetError(APL_ERR_AXIS), nullptr;
    return CheckedRanks(values, left, right);
}

// The cell ranks at the front of right: one value, or two when there is a left
// argument and right has more than two elements. *argument becomes the rest
// (its single item when that is a nested one-element array), linked for the
// caller. Borrows; returns a temporary INTG vector or null with the error set.
aplarray *RanksFromFront(const aplarray *left, aplarray *right, aplarray **argument) {
    if (right->rank > 1) return SetError(APL_ERR_RANK), nullptr;
    const int64_t n = ElementCount(right);
    if (n < 2) return SetError(APL_ERR_LENGTH), nullptr;
    const int32_t c = left && n > 2 ? 2 : 1;
    TempGuard front(SimplifyArray(APL_Take(nullptr, APL_Int(c), right)));
    if (!front.get()) return nullptr;
    if (IsNested(front.get())) return SetError(APL_ERR_DOMAIN), nullptr;
    TempGuard rest(APL_Drop(nullptr, APL_Int(c), right));
    if (!rest.get()) return nullptr;
    aplarray *arg = rest.get();
    if (IsNested(arg) && ElementCount(arg) == 1) arg = ItemsOf(arg)[0];
    aplarray *ranks = CheckedRanks(front.get(), left, arg);
    if (!ranks) return nullptr;
    if (!(*argument = APL_LinkEx(arg, HERE))) {
        APL_UnLinkTempEx(ranks, HERE);
        if (!aplerrno) SetError(APL_ERR_WSFULL);
        return nullptr;
    }
    return ranks;
}

// f⍤X with X from the axis or the front of right. Borrows the held arguments;
// returns an array with one link of its own for the wrapper to give up, an
// argument as it is, or null.
aplarray *Rank(OperatorArgs &op) {
    OperandDepth depth;
    if (!depth.ok()) return nullptr;
    aplarray *left = op.args.left, *right = op.args.right;
    aplarray *argument = nullptr;
    aplarray *ranks = op.args.axis ? RanksFromAxis(op.args.axis, left, right) : RanksFromFront(left, right, &argument);
    // Held while the companion runs: its locals link and unlink what they are given.
    if (ranks && !(ranks = APL_LinkEx(ranks, HERE)) && !aplerrno) SetError(APL_ERR_WSFULL);
    aplarray *z =
        ranks ? apl_RANK(ranks, left, op.operand, op.operandAxis, op.second, op.secondAxis, argument ? argument : right)
              : nullptr;
    const bool passed = z == left || z == right || z == op.args.axis;
    if (z && !passed) ++z->lnkcnt;  // survives the release below; given up by the wrapper
    APL_UnLinkEx(ranks, HERE);
    APL_UnLinkEx(argument, HERE);
    return z;
}

}  // namespace

// Returns a temporary; consumes temporary arguments and operand axes, leaves
// linked ones as they were.
extern "C" aplarray *APL_Rank(aplarray *axis, aplarray *left, aplfnc *operand, aplarray *operandAxis, aplfnc *second,
                              aplarray *secondAxis, aplarray *right) {
    constexpr Signature kSignature{Optional(kAnyType), Optional(kAdmitted), Required(kAdmitted)};
    return OperatorCall(kSignature, false, axis, left, operand, operandAxis, second, secondAxis, right, Rank);
}
