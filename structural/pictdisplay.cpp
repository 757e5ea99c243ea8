// pictdisplay: apl_DISPLAY, the boxed picture of an array, written as the
// compiler writes a function and run line by line through the line machinery;
// APL_PictDisplay, the system function DISPLAY. Relies on the exported runtime.
#include "apl.h"
#include "core/arrays.h"
#include "core/depths.h"
#include "core/errors.h"
#include "core/glyphs.h"
#include "core/eltypes.h"
#include "core/primitives.h"

#include <algorithm>
#include <vector>

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

// ---- Simple arrays, drawn directly ----------------------------------------------
// The picture of a simple array is its format in a frame (lines 4-30 and
// 39-40 for an array of depth 1 or less). Drawn here it skips the names and
// lines of the function, which a nested array pays once per item.

constexpr unsigned char kTopCorner = '.', kBottomCorner = 0xB7, kRule = '-', kStileMark = '|';
constexpr unsigned char kAxisTop = 0x85, kEmptyTop = 0xB4, kAxisLeft = 0x87, kEmptyLeft = 0xB2;
// The bottom edge: characters, numbers, mixed data, pictures of items.
constexpr unsigned char kBottomKinds[4] = {'-', '~', '+', 0xB9};

// S, the shape the marks describe: its elements in ravel order and its rank.
struct Described {
    std::vector<double> values;
    int rank = 1;
    // ↑(-k)↑,S: the k-th element from the end, 0 before the start.
    double FromEnd(size_t k) const { return values.size() >= k ? values[values.size() - k] : 0; }
    // (k+1)↑,S at k: 0 after the end.
    double At(size_t k) const { return k < values.size() ? values[k] : 0; }
};

// False (nothing set) when S is not a simple numeric array: the lines then
// give its error.
bool ReadDescribed(const aplarray *left, const aplarray *right, Described &s) {
    if (!left) {
        s.values.assign(right->shape, right->shape + right->rank);
        return true;
    }
    if (IsNested(left) || left->eltype == APL_CHAR) return false;
    s.rank = left->rank;
    const int64_t n = ElementCount(left);
    s.values.resize(static_cast<size_t>(n));
    for (int64_t i = 0; i < n; ++i)
        s.values[static_cast<size_t>(i)] = left->eltype == APL_REAL ? DataOf<const double>(left)[i] : IntegerAt(left, i);
    return true;
}

// An empty array stands for its prototype, one of each along every axis.
// Returns a temporary.
aplarray *PrototypeFilled(const aplarray *a) {
    int32_t shape[kMaxRank];
    for (int i = 0; i < a->rank; ++i) shape[i] = std::max(1, a->shape[i]);
    const bool chars = a->eltype == APL_CHAR;
    aplarray *filled = AllocArray(APL_SIMPLE | APL_TEMP, a->rank, chars ? APL_CHAR : APL_INTG, shape, HERE);
    if (!filled) return nullptr;
    const int64_t n = ElementCount(filled);
    for (int64_t i = 0; i < n; ++i) {
        if (chars)
            DataOf<char>(filled)[i] = ' ';
        else
            DataOf<int32_t>(filled)[i] = 0;
    }
    return filled;
}

// D: ⍕A, or for rank 3 and more ⍕⊂A without its first and last columns.
// Returns a temporary CHAR array; consumes a temporary argument.
aplarray *FormatOf(aplarray *a) {
    if (a->rank <= 2) return APL_Format(nullptr, nullptr, a);
    aplarray *boxed = APL_Format(nullptr, nullptr, APL_Enclose(nullptr, nullptr, a));
    return APL_Drop(nullptr, K(kDropEdges), APL_Drop(nullptr, K(kDropFirst), boxed));
}

// A CHAR matrix to draw into, a row at a time.
class Canvas {
public:
    bool Open(int64_t rows, int64_t columns) {
        const int32_t shape[2] = {static_cast<int32_t>(rows), static_cast<int32_t>(columns)};
        if (rows > INT32_MAX || columns > INT32_MAX || rows * columns > INT32_MAX) {
            SetError(APL_ERR_WSFULL);
            return false;
        }
        picture_.reset(AllocArray(APL_SIMPLE | APL_TEMP, 2, APL_CHAR, shape, HERE));
        columns_ = columns;
        return picture_.get() != nullptr;
    }
    unsigned char *Row(int64_t r) { return DataOf<unsigned char>(picture_.get()) + r * columns_; }
    aplarray *Release() { return picture_.release(); }

private:
    TempGuard picture_;
    int64_t columns_ = 0;
};

// The frame of line 26 around the W by N+1 characters of D, with the
// columns of line 29 in front for every axis before the last two. False
// with the error set (WS FULL, INTERRUPT).
bool DrawFramed(const unsigned char *d, int64_t w, int64_t width, const Described &s, int rank, unsigned char bottom,
                Canvas &canvas) {
    const int64_t lead = rank > 2 ? rank - 2 : 0, height = w + 2, columns = lead + width + 2;
    if (!canvas.Open(height, columns)) return false;
    const unsigned char top = s.values.empty() ? kRule : s.FromEnd(1) > 0 ? kAxisTop : kEmptyTop;
    const unsigned char side = s.values.size() <= 1 ? kStileMark : s.FromEnd(2) > 0 ? kAxisLeft : kEmptyLeft;
    int64_t sinceCheck = 0;
    for (int64_t r = 0; r < height; ++r) {
        unsigned char *row = canvas.Row(r);
        const bool first = r == 0, last = r == height - 1;
        for (int64_t k = 0; k < lead; ++k) {
            const unsigned char axis = s.At(static_cast<size_t>(k)) > 0 ? kAxisLeft : kEmptyLeft;
            row[k] = first ? kTopCorner : last ? kBottomCorner : r == 1 ? axis : kStileMark;
        }
        row += lead;
        if (first || last) {
            row[0] = row[width + 1] = first ? kTopCorner : kBottomCorner;
            row[1] = first ? top : bottom;
            std::fill(row + 2, row + width + 1, kRule);
        } else {
            row[0] = r == 1 ? side : kStileMark;
            std::copy(d + (r - 1) * width, d + r * width, row + 1);
            row[width + 1] = kStileMark;
        }
        sinceCheck += columns;
        if (sinceCheck >= kInterruptStride) {
            sinceCheck = 0;
            if (InterruptRequested()) return false;
        }
    }
    return true;
}

// Lines 39-40: a scalar's format between blank edges, the bottom edge
// underlining a character.
bool DrawScalar(const unsigned char *d, int64_t width, bool character, Canvas &canvas) {
    if (!canvas.Open(3, width + 2)) return false;
    std::fill(canvas.Row(0), canvas.Row(0) + width + 2, ' ');
    unsigned char *middle = canvas.Row(1);
    middle[0] = middle[width + 1] = ' ';
    std::copy(d, d + width, middle + 1);
    unsigned char *under = canvas.Row(2);
    std::fill(under, under + width + 2, ' ');
    under[1] = character ? kRule : ' ';
    return true;
}

// The picture of a simple array under S. Borrows; returns a temporary or
// null with the error set.
aplarray *SimplePicture(aplarray *a, const Described &s) {
    const bool chars = a->eltype == APL_CHAR;
    int kind = 1;  // numbers
    if (chars && a->rank > 0) {
        // Characters that format as themselves (0), or not (2); a scalar's
        // bottom edge is drawn otherwise.
        TempGuard same(APL_Match(nullptr, a, APL_Format(nullptr, nullptr, a)));
        if (!same.get()) return nullptr;
        kind = IntegerAt(same.get(), 0) ? 0 : 2;
    }
    // A one-row matrix S marks a picture of items.
    const unsigned char bottom = kBottomKinds[std::min(3, kind + (s.rank > 1 ? 3 : 0))];
    // The temporary that stands for an empty array is consumed by its format.
    aplarray *shown = ElementCount(a) == 0 ? PrototypeFilled(a) : a;
    TempGuard d(shown ? FormatOf(shown) : nullptr);
    if (!d.get()) return nullptr;
    const aplarray *text = d.get();
    const int64_t w = text->rank < 2 ? 1 : text->shape[0];
    const int64_t width = text->rank == 0 ? 1 : text->shape[text->rank - 1];
    Canvas canvas;
    const bool drawn = a->rank == 0 ? DrawScalar(DataOf<const unsigned char>(text), width, chars, canvas)
                                    : DrawFramed(DataOf<const unsigned char>(text), w, width, s, a->rank, bottom, canvas);
    return drawn ? canvas.Release() : nullptr;
}

// The picture of a simple array, or null (no error) when the lines must draw
// it: a nested right argument, or a left one that is not simple numbers.
// Consumes temporary arguments when it draws.
aplarray *DrawnDirectly(aplarray *left, aplarray *right, bool &drawn) {
    Described s;
    drawn = !IsNested(right) && ReadDescribed(left, right, s);
    if (!drawn) return nullptr;
    aplarray *held = APL_LinkEx(right, HERE);  // a static argument gives a linked copy
    aplarray *picture = held ? SimplePicture(held, s) : nullptr;
    if (!held && !aplerrno) SetError(APL_ERR_WSFULL);
    APL_UnLinkEx(held, HERE);
    if (held != right) APL_UnLinkTempEx(right, HERE);
    if (left != right) APL_UnLinkTempEx(left, HERE);
    return picture;
}

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
    bool drawn;
    aplarray *picture = DrawnDirectly(left, right, drawn);
    if (drawn) return picture;
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
