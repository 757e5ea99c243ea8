// pictdisplay: apl_DISPLAY, the boxed picture of an array, written as the
// compiler writes a function and run line by line through the line machinery;
// APL_PictDisplay, the system function DISPLAY. Relies on the exported runtime.
#include "apl.h"
#include "core/arrays.h"
#include "core/depths.h"
#include "core/errors.h"
#include "core/glyphs.h"
#include "core/primitives.h"

namespace {

// The function it stands for (origin 0 from line 4):
//
//   D←S DISPLAY A;R;C;HL;HC;HT;HB;VL;VB;V;W;N;B
//   [1]  ⍝ The boxed picture of an array: the edges mark the axes (→ ↓, or ⊖ ⌽
//   [2]  ⍝ when empty), the bottom edge the data (- characters, ~ numbers,
//   [3]  ⍝ + mixed, ∊ nested). S: the shape the marks describe, ⍴A by default.
//   [4]  ⎕IO←0
//   [5]  →(0≠⎕NC'S')/7
//   [6]  S←⍴A
//   [7]  R←↑⍴,S
//   [8]  C←'..··'
//   [9]  HL←'-'
//   [10] HC←HL,'⊖→',HL,'~+∊'
//   [11] ⍝ top: the last axis; left: the one before; bottom: the kind of data
//   [12] VL←'|'
//   [13] VB←VL,'⌽↓'
//   [14] HT←HC[(0<R)×1+0<↑¯1↑,S]
//   [15] HB←HC[3+3⌊('2×~A≡⍕A'⎕EA'1+↑∊0×(1⌈×/⍴A)↑,A')+3×1<⍴⍴S]
//   [16] V←VB[(1<R)×1+0<↑¯2↑,S]
//   [17] →(0<×/⍴A)/19
//   [18] A←(1⌈⍴A)⍴⊂↑A
//   [19] →(1<≡A)/GEN
//   [20] →(2<⍴⍴A)/D3
//   [21] D←⍕A
//   [22] D←(¯2↑1 1,⍴D)⍴D
//   [23] W←↑⍴D
//   [24] N←¯1+↑¯1↑⍴D
//   [25] →(0=⍴⍴A)/SS
//   [26] D←(C[0],V,((W-1)⍴VL),C[2]),((HT,N⍴HL)⍪D⍪HB,N⍴HL),C[1],(W⍴VL),C[3]
//   [27] →(3>⍴⍴A)/0
//   [28] D3E:N←¯2+⍴⍴A
//   [29] D←((N⍴C[0])⍪VB[1+0<N↑,S]⍪((((↑⍴D)-3),N)⍴VL)⍪N⍴C[2]),D
//   [30] →0
//   [31] D3:D←0 ¯1↓0 1↓⍕⊂A
//   [32] →22
//   [33] GEN:D←⍕DISPLAY¨A
//   [34] B←∧/' '=D
//   [35] D←(~B∧1⌽~B)⌿D
//   [36] D←(~∧⌿'  '⍷D)/D
//   [37] D←((1,⍴S)⍴S)DISPLAY D
//   [38] →D3E×2<⍴⍴A
//   [39] SS:HB←' -'[' '≡↑0⍴A]
//   [40] D←' ',(' '⍪D⍪HB,N⍴' '),' '
//   [41]
//
// Line 15 tells the kind of data: 0×… fails for characters, whose format is
// themselves (0), and for mixed data (2); numbers give 1. Line 37 boxes the
// items' pictures with S as a one-row matrix, which makes the bottom mark ∊.
constexpr int kLines = 41;

// The line-flags vector: a static CHAR vector of kLines+1 zeros (no line
// opens a control structure).
alignas(4) const unsigned char kLineFlags[64] = {16 + 4 + kLines + 1, 0, 0, 0, 0x41,       1, 1, 0, 1, 0, 0, 0,
                                                 kLines + 1,          0, 0, 0, kLines + 1, 0, 0, 0};

// The constants, as static array records (size, flags, rank, type, links,
// count, shape, data).
// GEN: line 33
alignas(4) const char kLabelGen[21] = "\24\0\0\0\101\0\2\0\1\0\0\0\1\0\0\0\41\0\0\0";
// D3: line 31
alignas(4) const char kLabelD3[21] = "\24\0\0\0\101\0\2\0\1\0\0\0\1\0\0\0\37\0\0\0";
// D3E: line 28
alignas(4) const char kLabelD3E[21] = "\24\0\0\0\101\0\2\0\1\0\0\0\1\0\0\0\34\0\0\0";
// SS: line 39
alignas(4) const char kLabelSS[21] = "\24\0\0\0\101\0\2\0\1\0\0\0\1\0\0\0\47\0\0\0";
// 'S'
alignas(4) const char kNameS[25] = "\25\0\0\0\101\1\1\0\1\0\0\0\1\0\0\0\1\0\0\0\123\0\0\0";
// '..··'
alignas(4) const char kCorners[25] = "\30\0\0\0\101\1\1\0\1\0\0\0\4\0\0\0\4\0\0\0\56\56\267\267";
// '-'
alignas(4) const char kMinus[21] = "\21\0\0\0\101\0\1\0\1\0\0\0\1\0\0\0\55\0\0\0";
// '⊖→'
alignas(4) const char kTopMarks[25] = "\26\0\0\0\101\1\1\0\1\0\0\0\2\0\0\0\2\0\0\0\264\205\0\0";
// '~+∊'
alignas(4) const char kBottomMarks[25] = "\27\0\0\0\101\1\1\0\1\0\0\0\3\0\0\0\3\0\0\0\176\53\271\0";
// '|'
alignas(4) const char kStile[21] = "\21\0\0\0\101\0\1\0\1\0\0\0\1\0\0\0\174\0\0\0";
// '⌽↓'
alignas(4) const char kLeftMarks[25] = "\26\0\0\0\101\1\1\0\1\0\0\0\2\0\0\0\2\0\0\0\262\207\0\0";
// '2×~A≡⍕A'
alignas(4) const char kMixed[29] = "\33\0\0\0\101\1\1\0\1\0\0\0\7\0\0\0\7\0\0\0\62\327\176\101\255\225\101\0";
// '1+↑∊0×(1⌈×/⍴A)↑,A'
alignas(4) const char kKind[41] =
    "\45\0\0\0\101\1\1\0\1\0\0\0\21\0\0\0\21\0\0\0\61\53\206\271\60\327\50\61\227\327\57\275\101\51\206\54\101\0\0\0";
// 1 1
alignas(4) const char kOneOne[29] = "\34\0\0\0\101\1\2\0\1\0\0\0\2\0\0\0\2\0\0\0\1\0\0\0\1\0\0\0";
// 0 ¯1
alignas(4) const char kDropEdges[29] = "\34\0\0\0\101\1\2\0\1\0\0\0\2\0\0\0\2\0\0\0\0\0\0\0\377\377\377\377";
// 0 1
alignas(4) const char kDropFirst[29] = "\34\0\0\0\101\1\2\0\1\0\0\0\2\0\0\0\2\0\0\0\0\0\0\0\1\0\0\0";
// ' -'
alignas(4) const char kScalarMarks[25] = "\26\0\0\0\101\1\1\0\1\0\0\0\2\0\0\0\2\0\0\0\40\55\0\0";
// ' '
alignas(4) const char kBlank[21] = "\21\0\0\0\101\0\1\0\1\0\0\0\1\0\0\0\40\0\0\0";
// '  '
alignas(4) const char kTwoBlanks[25] = "\26\0\0\0\101\1\1\0\1\0\0\0\2\0\0\0\2\0\0\0\40\40\0\0";

aplarray *K(const char *image) { return reinterpret_cast<aplarray *>(const_cast<char *>(image)); }

enum Name { kA, kS, kD, kR, kC, kHL, kHC, kHT, kHB, kVL, kVB, kV, kW, kN, kB, kGEN, kD3, kD3E, kSS, kNames };
const char *const kNameText[kNames] = {"A",  "S", "D", "R", "C", "HL",  "HC", "HT",  "HB", "VL",
                                       "VB", "V", "W", "N", "B", "GEN", "D3", "D3E", "SS"};

// Nested pictures call the function once per level: deeper than this is LIMIT.
constexpr int kMaxDisplayDepth = 100;

}  // namespace

// The picture of right (left: the shape its marks describe). Returns a
// temporary CHAR matrix (or, for a scalar, a 3-row picture without frame);
// consumes temporary arguments as every compiled function does.
aplarray *apl_DISPLAY(aplarray *axis, aplarray *left, aplarray *right);

aplarray *apl_DISPLAY(aplarray *axis, aplarray *left, aplarray *right) {
    if (depths.display >= kMaxDisplayDepth) {
        ReleaseTemporaries(axis, left, right);
        SetError(APL_ERR_LIMIT);
        return nullptr;
    }
    APL_UnLinkTempEx(axis, HERE);
    uint16_t idx[kNames];
    for (int i = 0; i < kNames; ++i) {
        const int32_t length = static_cast<int32_t>(__builtin_strlen(kNameText[i]));
        idx[i] = APL_AddSymbol(kNameText[i], length, APL_KIND_VARIABLE, KAZ_InitSimple(nullptr));
        if (idx[i] >= APL_symtab.count) {
            if (!aplerrno) SetError(APL_ERR_WSFULL);
            ReleaseTemporaries(left, right);
            return nullptr;
        }
    }
    const uint16_t io = sys_IO_idx;
    auto var = [&](Name name) { return APL_Variable(idx[name]); };
    auto assign = [&](Name name, aplarray *value) { APL_Assign(idx[name], value); };
    auto num = [](int32_t v) { return APL_Int(v); };
    auto jump = [](aplarray *target) { APL_UnLinkTempEx(APL_Jump(nullptr, nullptr, target), HERE); };
    auto jumpIf = [&](aplarray *condition, aplarray *target) { jump(APL_Replicate(nullptr, condition, target)); };
    auto at = [](aplarray *array, aplarray *index) {
        return APL_IndexData(array, APL_Enclose(nullptr, nullptr, index), nullptr);
    };
    auto shape = [](aplarray *a) { return APL_Shape(nullptr, nullptr, a); };
    auto rank = [&](aplarray *a) { return shape(shape(a)); };
    auto first = [](aplarray *a) { return APL_Take(nullptr, nullptr, a); };
    auto ravel = [](aplarray *a) { return APL_Catenate(nullptr, nullptr, a); };
    auto cat = [](aplarray *a, aplarray *b) { return APL_Catenate(nullptr, a, b); };
    auto cat1 = [&](aplarray *a, aplarray *b) { return APL_Catenate(num(0), a, b); };
    aplfnc times = KAZ_Fn(glyph::kTimes, PrimitiveFlags(glyph::kTimes), APL_Mul);
    aplfnc both = KAZ_Fn(glyph::kWedge, PrimitiveFlags(glyph::kWedge), APL_And);
    aplfnc display = KAZ_CFn(apl_DISPLAY);
    aplfnc func0;
    aplop op0;

    aplsymbol localvars[kNames + 1];
    void *old_lines;
    ++depths.display;
    KAZ_InitArg(localvars + 0, idx[kS], left);
    KAZ_InitArg(localvars + 1, idx[kA], right);
    KAZ_InitVar(localvars + 2, idx[kD]);
    for (int i = kR; i <= kB; ++i) KAZ_InitVar(localvars + i, idx[i]);
    KAZ_InitLabel(localvars + kGEN, idx[kGEN], K(kLabelGen));
    KAZ_InitLabel(localvars + kD3, idx[kD3], K(kLabelD3));
    KAZ_InitLabel(localvars + kD3E, idx[kD3E], K(kLabelD3E));
    KAZ_InitLabel(localvars + kSS, idx[kSS], K(kLabelSS));
    KAZ_InitVar(localvars + kNames, io);
    const bool framed = APL_InitLines(&old_lines, kLines, kLineFlags) != nullptr;
    if (!framed) goto end;
nextline:
    switch (APL_NextLine(kLineFlags)) {
        case 4: APL_Assign(io, num(0)); goto nextline;
        case 5: jumpIf(APL_NEqual(nullptr, num(0), APL_NameClass(nullptr, nullptr, K(kNameS))), num(7)); goto nextline;
        case 6: assign(kS, shape(var(kA))); goto nextline;
        case 7: assign(kR, first(shape(ravel(var(kS))))); goto nextline;
        case 8: assign(kC, K(kCorners)); goto nextline;
        case 9: assign(kHL, K(kMinus)); goto nextline;
        case 10: assign(kHC, cat(var(kHL), cat(K(kTopMarks), cat(var(kHL), K(kBottomMarks))))); goto nextline;
        case 12: assign(kVL, K(kStile)); goto nextline;
        case 13: assign(kVB, cat(var(kVL), K(kLeftMarks))); goto nextline;
        case 14:
            assign(kHT,
                   at(var(kHC),
                      APL_Mul(nullptr, APL_Lower(nullptr, num(0), var(kR)),
                              APL_Add(nullptr, num(1),
                                      APL_Lower(nullptr, num(0), first(APL_Take(nullptr, num(-1), ravel(var(kS)))))))));
            goto nextline;
        case 15:
            assign(kHB,
                   at(var(kHC),
                      APL_Add(nullptr, num(3),
                              APL_Min(nullptr, num(3),
                                      APL_Add(nullptr, APL_ExecAlternate(nullptr, K(kMixed), K(kKind)),
                                              APL_Mul(nullptr, num(3), APL_Lower(nullptr, num(1), rank(var(kS)))))))));
            goto nextline;
        case 16:
            assign(kV,
                   at(var(kVB),
                      APL_Mul(nullptr, APL_Lower(nullptr, num(1), var(kR)),
                              APL_Add(nullptr, num(1),
                                      APL_Lower(nullptr, num(0), first(APL_Take(nullptr, num(-2), ravel(var(kS)))))))));
            goto nextline;
        case 17:
            jumpIf(APL_Lower(nullptr, num(0),
                             APL_Reduce(nullptr, nullptr, &times, nullptr, nullptr, nullptr, shape(var(kA)))),
                   num(19));
            goto nextline;
        case 18:
            assign(kA, APL_Shape(nullptr, APL_Max(nullptr, num(1), shape(var(kA))),
                                 APL_Enclose(nullptr, nullptr, first(var(kA)))));
            goto nextline;
        case 19: jumpIf(APL_Lower(nullptr, num(1), APL_Match(nullptr, nullptr, var(kA))), var(kGEN)); goto nextline;
        case 20: jumpIf(APL_Lower(nullptr, num(2), rank(var(kA))), var(kD3)); goto nextline;
        case 21: assign(kD, APL_Format(nullptr, nullptr, var(kA))); goto nextline;
        case 22:
            assign(kD, APL_Shape(nullptr, APL_Take(nullptr, num(-2), cat(K(kOneOne), shape(var(kD)))), var(kD)));
            goto nextline;
        case 23: assign(kW, first(shape(var(kD)))); goto nextline;
        case 24:
            assign(kN, APL_Add(nullptr, num(-1), first(APL_Take(nullptr, num(-1), shape(var(kD))))));
            goto nextline;
        case 25: jumpIf(APL_Equal(nullptr, num(0), rank(var(kA))), var(kSS)); goto nextline;
        case 26: {
            aplarray *leftEdge = cat(at(var(kC), num(0)),
                                     cat(var(kV), cat(APL_Shape(nullptr, APL_Sub(nullptr, var(kW), num(1)), var(kVL)),
                                                      at(var(kC), num(2)))));
            aplarray *rightEdge =
                cat(at(var(kC), num(1)), cat(APL_Shape(nullptr, var(kW), var(kVL)), at(var(kC), num(3))));
            aplarray *rows = cat1(cat(var(kHT), APL_Shape(nullptr, var(kN), var(kHL))),
                                  cat1(var(kD), cat(var(kHB), APL_Shape(nullptr, var(kN), var(kHL)))));
            assign(kD, cat(leftEdge, cat(rows, rightEdge)));
            goto nextline;
        }
        case 27: jumpIf(APL_Greater(nullptr, num(3), rank(var(kA))), num(0)); goto nextline;
        case 28: assign(kN, APL_Add(nullptr, num(-2), rank(var(kA)))); goto nextline;
        case 29: {
            aplarray *height = APL_Sub(nullptr, first(shape(var(kD))), num(3));
            aplarray *marks =
                at(var(kVB),
                   APL_Add(nullptr, num(1), APL_Lower(nullptr, num(0), APL_Take(nullptr, var(kN), ravel(var(kS))))));
            aplarray *columns = cat1(APL_Shape(nullptr, var(kN), at(var(kC), num(0))),
                                     cat1(marks, cat1(APL_Shape(nullptr, cat(height, var(kN)), var(kVL)),
                                                      APL_Shape(nullptr, var(kN), at(var(kC), num(2))))));
            assign(kD, cat(columns, var(kD)));
            goto nextline;
        }
        case 30: jump(num(0)); goto nextline;
        case 31:
            assign(kD, APL_Drop(nullptr, K(kDropEdges),
                                APL_Drop(nullptr, K(kDropFirst),
                                         APL_Format(nullptr, nullptr, APL_Enclose(nullptr, nullptr, var(kA))))));
            goto nextline;
        case 32: jump(num(22)); goto nextline;
        case 33:
            assign(kD, APL_Format(nullptr, nullptr,
                                  APL_Evaluate(KAZ_MonOp(&func0, &op0, APL_Each, nullptr, display, nullptr), nullptr,
                                               nullptr, var(kA), nullptr)));
            goto nextline;
        case 34:
            assign(kB, APL_Reduce(nullptr, nullptr, &both, nullptr, nullptr, nullptr,
                                  APL_Equal(nullptr, K(kBlank), var(kD))));
            goto nextline;
        case 35:
            assign(kD, APL_Replicate1(
                           nullptr,
                           APL_Without(nullptr, nullptr,
                                       APL_And(nullptr, var(kB),
                                               APL_Rotate(nullptr, num(1), APL_Without(nullptr, nullptr, var(kB))))),
                           var(kD)));
            goto nextline;
        case 36:
            assign(kD, APL_Replicate(nullptr,
                                     APL_Without(nullptr, nullptr,
                                                 APL_Reduce1(nullptr, nullptr, &both, nullptr, nullptr, nullptr,
                                                             APL_Find(nullptr, K(kTwoBlanks), var(kD)))),
                                     var(kD)));
            goto nextline;
        case 37:
            assign(kD, apl_DISPLAY(nullptr, APL_Shape(nullptr, cat(num(1), shape(var(kS))), var(kS)), var(kD)));
            goto nextline;
        case 38: jump(APL_Mul(nullptr, var(kD3E), APL_Lower(nullptr, num(2), rank(var(kA))))); goto nextline;
        case 39:
            assign(kHB, at(K(kScalarMarks), APL_Match(nullptr, K(kBlank), first(APL_Shape(nullptr, num(0), var(kA))))));
            goto nextline;
        case 40:
            assign(kD, cat(K(kBlank),
                           cat(cat1(K(kBlank), cat1(var(kD), cat(var(kHB), APL_Shape(nullptr, var(kN), K(kBlank))))),
                               K(kBlank))));
            goto nextline;
        case 1:
        case 2:
        case 3:
        case 11:
        case 41: goto nextline;
        default: goto end;
    }
end:
    aplarray *z = nullptr;
    if (!aplerrno) {
        z = var(kD);
        if (z) ++z->lnkcnt;  // kept across the restore of the locals
    }
    KAZ_ResumeArg(localvars + 0, idx[kS], left);
    KAZ_ResumeArg(localvars + 1, idx[kA], right);
    KAZ_ResumeVar(localvars + 2, idx[kD]);
    for (int i = kR; i <= kB; ++i) KAZ_ResumeVar(localvars + i, idx[i]);
    for (int i = kGEN; i <= kSS; ++i) KAZ_ResumeLabel(localvars + i, idx[i]);
    KAZ_ResumeVar(localvars + kNames, io);
    if (framed) APL_ResumeLines(old_lines);
    --depths.display;
    if (z && z->lnkcnt > 0) --z->lnkcnt;
    return z;
}

// Returns a temporary CHAR array. Consumes temporary arguments; linked ones
// are left as they were.
extern "C" aplarray *APL_PictDisplay(aplarray *axis, aplarray *left, aplarray *right) {
    if (!aplerrno && (axis || !right)) SetError(axis ? APL_ERR_AXIS : APL_ERR_SYNTAX);
    if (aplerrno) {
        ReleaseTemporaries(axis, left, right);
        return nullptr;
    }
    return apl_DISPLAY(nullptr, left, right);
}
