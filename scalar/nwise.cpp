// nwise: apl_REDUCE, N-wise reduction N f/[K] R, written as the compiler
// writes a function and run line by line through the line machinery.
// Relies on the exported runtime interface, reduce and the structural primitives.
#include "core/arrays.h"
#include "core/errors.h"
#include "core/glyphs.h"
#include "core/primitives.h"
#include "core/symtab.h"
#include "scalar/reduce.h"
#include "structural/cells.h"

namespace {

// The function it stands for, with IO localised and locals whose names no
// user can write (a quad and a digit), so that an operand that reads
// globals still sees them:
//
//   Z←N REDUCE R;K;A;B;W;V        (K: the axis, counted from IO)
//   [1]  K←K+⎕IO=0 ⋄ ⎕IO←1
//   [2]  A←K↑⍴R
//   [3]  B←K↓⍴R
//   [4]  →(N≠0)/7
//   [5]  Z←f/[K+1]((¯1↓A),(1+¯1↑A),0,B)⍴R     ⍝ 0 f/R: n+1 identities
//   [6]  →0
//   [7]  V←N≥0
//   [8]  →V/10
//   [9]  R←⌽[K]R ⋄ N←-N                        ⍝ ¯N f/R: reversed windows
//   [10] W←N/[K+1](A,1,B)⍴R
//   [11] W←(((¯1↓A),N,B)⍴(×/B)/¯1+⍳N)⌽[K]W    ⍝ copy c rotated by c
//   [12] Z←f/[K+1]W ⋄ Z←((1-N)×K=⍳⍴⍴Z)↓Z          ⍝ no axis: Z may be one element
//   [13] →V/0
//   [14] Z←⌽[K]Z
//
// The rotation amounts have the shape of W without axis K, so that position i
// along K holds f/ of items i … i+N-1 along any axis, not only the first.
constexpr int kLines = 14;

// The line-flags vector as compiled code passes it: a static CHAR vector of
// kLines+1 zeros (no line opens a control structure).
alignas(4) const unsigned char kLineFlags[36] = {16 + 4 + kLines + 1, 0, 0, 0, 0x41,       1, 1, 0, 1, 0, 0, 0,
                                                 kLines + 1,          0, 0, 0, kLines + 1, 0, 0, 0};
const uint8_t *LineFlags() { return kLineFlags; }

enum Local { kZ, kN, kR, kK, kA, kB, kW, kV, kLocals };
// Quad, then a digit: a system-style name that no user variable can take.
const char *const kLocalNames[kLocals] = {"\2140Z", "\2140N", "\2140R", "\2140K",
                                          "\2140A", "\2140B", "\2140W", "\2140V"};

aplarray *Var(uint16_t index) { return APL_Variable(index); }
aplarray *Int(int32_t v) { return APL_Int(v); }

// N must be one integer; |N| beyond n+1 would only build copies to drop.
bool CheckWindow(const aplarray *left, const aplarray *right, const aplarray *axis) {
    if (left->rank > 1) return SetError(APL_ERR_RANK), false;
    if (ElementCount(left) != 1) return SetError(APL_ERR_LENGTH), false;
    IntegerArgument n(left);
    if (!n.ok()) return false;
    const int64_t d = DataOf<int32_t>(axis)[0] - IndexOrigin();
    const int64_t length = right->shape[d];
    const int64_t size = n[0] < 0 ? -int64_t{n[0]} : n[0];
    if (size > length + 1) return SetError(APL_ERR_LENGTH), false;
    return true;
}

}  // namespace

aplarray *apl_REDUCE(aplarray *axis, aplarray *left, aplfnc *fn, aplarray *fnAxis, aplfnc *second, aplarray *secondAxis,
                     aplarray *right) {
    if (!CheckWindow(left, right, axis)) return nullptr;
    uint16_t idx[kLocals];
    for (int i = 0; i < kLocals; ++i) {
        idx[i] = APL_AddSymbol(kLocalNames[i], 3, APL_KIND_VARIABLE, KAZ_InitSimple(nullptr));
        if (idx[i] >= APL_symtab.count) return aplerrno ? nullptr : (SetError(APL_ERR_WSFULL), nullptr);
    }
    const uint16_t io = sys_IO_idx;
    auto reduce = [&](aplarray *ax, aplarray *w) { return APL_Reduce(ax, nullptr, fn, fnAxis, second, secondAxis, w); };
    auto jumpIf = [](aplarray *condition, int32_t line) {
        APL_UnLinkTempEx(APL_Jump(nullptr, nullptr, APL_Replicate(nullptr, condition, Int(line))), HERE);
    };
    auto kPlus1 = [&] { return APL_Add(nullptr, Var(idx[kK]), Int(1)); };

    aplsymbol localvars[kLocals + 1];
    void *old_lines;
    KAZ_InitArg(localvars + 0, idx[kN], left);
    KAZ_InitArg(localvars + 1, idx[kR], right);
    KAZ_InitArg(localvars + 2, idx[kK], axis);
    KAZ_InitVar(localvars + 3, idx[kZ]);
    KAZ_InitVar(localvars + 4, idx[kA]);
    KAZ_InitVar(localvars + 5, idx[kB]);
    KAZ_InitVar(localvars + 6, idx[kW]);
    KAZ_InitVar(localvars + 7, idx[kV]);
    KAZ_InitVar(localvars + 8, io);
    const bool framed = APL_InitLines(&old_lines, kLines, LineFlags()) != nullptr;
    if (!framed) goto end;
nextline:
    switch (APL_NextLine(LineFlags())) {
        case 1:
            APL_Assign(idx[kK], APL_Add(nullptr, Var(idx[kK]), APL_Equal(nullptr, Var(io), Int(0))));
            APL_Assign(io, Int(1));
            goto nextline;
        case 2:
            APL_Assign(idx[kA], APL_Take(nullptr, Var(idx[kK]), APL_Shape(nullptr, nullptr, Var(idx[kR]))));
            goto nextline;
        case 3:
            APL_Assign(idx[kB], APL_Drop(nullptr, Var(idx[kK]), APL_Shape(nullptr, nullptr, Var(idx[kR]))));
            goto nextline;
        case 4: jumpIf(APL_NEqual(nullptr, Var(idx[kN]), Int(0)), 7); goto nextline;
        case 5:
            APL_Assign(
                idx[kZ],
                reduce(kPlus1(), APL_Shape(nullptr,
                                           APL_Catenate(nullptr, APL_Drop(nullptr, Int(-1), Var(idx[kA])),
                                                        APL_Catenate(nullptr,
                                                                     APL_Add(nullptr, Int(1),
                                                                             APL_Take(nullptr, Int(-1), Var(idx[kA]))),
                                                                     APL_Catenate(nullptr, Int(0), Var(idx[kB])))),
                                           Var(idx[kR]))));
            goto nextline;
        case 6: APL_UnLinkTempEx(APL_Jump(nullptr, nullptr, Int(0)), HERE); goto nextline;
        case 7: APL_Assign(idx[kV], APL_GEqual(nullptr, Var(idx[kN]), Int(0))); goto nextline;
        case 8: jumpIf(Var(idx[kV]), 10); goto nextline;
        case 9:
            APL_Assign(idx[kR], APL_Rotate(Var(idx[kK]), nullptr, Var(idx[kR])));
            APL_Assign(idx[kN], APL_Sub(nullptr, nullptr, Var(idx[kN])));
            goto nextline;
        case 10:
            APL_Assign(
                idx[kW],
                APL_Replicate(
                    kPlus1(), Var(idx[kN]),
                    APL_Shape(nullptr, APL_Catenate(nullptr, Var(idx[kA]), APL_Catenate(nullptr, Int(1), Var(idx[kB]))),
                              Var(idx[kR]))));
            goto nextline;
        case 11: {
            aplfnc times = KAZ_Fn(glyph::kTimes, PrimitiveFlags(glyph::kTimes), APL_Mul);
            APL_Assign(
                idx[kW],
                APL_Rotate(Var(idx[kK]),
                           APL_Shape(nullptr,
                                     APL_Catenate(nullptr, APL_Drop(nullptr, Int(-1), Var(idx[kA])),
                                                  APL_Catenate(nullptr, Var(idx[kN]), Var(idx[kB]))),
                                     APL_Replicate(
                                         nullptr,
                                         APL_Reduce(nullptr, nullptr, &times, nullptr, nullptr, nullptr, Var(idx[kB])),
                                         APL_Add(nullptr, Int(-1), APL_Interval(nullptr, nullptr, Var(idx[kN]))))),
                           Var(idx[kW])));
            goto nextline;
        }
        case 12:
            APL_Assign(idx[kZ], reduce(kPlus1(), Var(idx[kW])));
            if (!aplerrno)
                APL_Assign(idx[kZ],
                           APL_Drop(nullptr,
                                    APL_Mul(nullptr, APL_Sub(nullptr, Int(1), Var(idx[kN])),
                                            APL_Equal(nullptr, Var(idx[kK]),
                                                      APL_Interval(nullptr, nullptr,
                                                                   APL_Shape(nullptr, nullptr,
                                                                             APL_Shape(nullptr, nullptr,
                                                                                       Var(idx[kZ])))))),
                                    Var(idx[kZ])));
            goto nextline;
        case 13: jumpIf(Var(idx[kV]), 0); goto nextline;
        case 14: APL_Assign(idx[kZ], APL_Rotate(Var(idx[kK]), nullptr, Var(idx[kZ]))); goto nextline;
        default: goto end;
    }
end:
    aplarray *z = nullptr;
    if (!aplerrno) {
        z = APL_Variable(idx[kZ]);
        if (z) ++z->lnkcnt;  // kept across the restore of the locals
    }
    KAZ_ResumeArg(localvars + 0, idx[kN], left);
    KAZ_ResumeArg(localvars + 1, idx[kR], right);
    KAZ_ResumeArg(localvars + 2, idx[kK], axis);
    KAZ_ResumeVar(localvars + 3, idx[kZ]);
    KAZ_ResumeVar(localvars + 4, idx[kA]);
    KAZ_ResumeVar(localvars + 5, idx[kB]);
    KAZ_ResumeVar(localvars + 6, idx[kW]);
    KAZ_ResumeVar(localvars + 7, idx[kV]);
    KAZ_ResumeVar(localvars + 8, io);
    if (framed) APL_ResumeLines(old_lines);
    if (z && z->lnkcnt > 0) --z->lnkcnt;
    return z;
}
