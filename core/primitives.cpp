// primitives: the built-in primitive table (one row per primitive: character,
// flags, entry point, exported name) and the dispatch tables it fills.
// Relies on apl.h for the entry points, glyphs.h for the characters, arrays.
#include "core/primitives.h"

#include "core/arrays.h"
#include "core/errors.h"
#include "core/glyphs.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

PrimitiveTables primitiveTables;

namespace {

// A primitive's entry point: a function or an operator.
struct Entry {
    aplfunction function = nullptr;
    aploperator op = nullptr;
    constexpr Entry(std::nullptr_t) {}
    constexpr Entry(aplfunction f) : function(f) {}
    constexpr Entry(aploperator o) : op(o) {}
};

struct PrimitiveRow {
    uint8_t code;
    uint16_t flags;  // APL_FN_ bits
    Entry entry;
    const char *name;  // the exported name; generated code calls the primitive by it
};

// One row per primitive, in the order of registration: where a character has
// two rows with overlapping flags, the first wins. A primitive not written yet
// has nullptr and gets the default handler. The unit tests check that every
// row names the function the library exports under that name.
constexpr PrimitiveRow kPrimitives[] = {
    {glyph::kDot, 0x0010, APL_InnerProduct, "APL_InnerProduct"},
    {glyph::kJotDiaeresis, 0x0008, APL_Rank, "APL_Rank"},
    {glyph::kDiaeresis, 0x0008, APL_Each, "APL_Each"},
    {glyph::kSlash, 0x0028, APL_Reduce, "APL_Reduce"},
    {glyph::kSlashBar, 0x0028, APL_Reduce1, "APL_Reduce1"},
    {glyph::kBackslash, 0x0028, APL_Scan, "APL_Scan"},
    {glyph::kBackslashBar, 0x0028, APL_Scan1, "APL_Scan1"},
    {glyph::kTildeDiaeresis, 0x0008, APL_Commute, "APL_Commute"},
    {glyph::kRho, 0x8004, APL_Shape, "APL_Shape"},
    {glyph::kLeftShoe, 0x0004, APL_Enclose, "APL_Enclose"},
    {glyph::kRightArrow, 0x0004, APL_Jump, "APL_Jump"},
    {glyph::kTranspose, 0xc004, APL_Transpose, "APL_Transpose"},
    {glyph::kRightShoe, 0xc004, APL_Disclose, "APL_Disclose"},
    {glyph::kUpArrow, 0xc004, APL_Take, "APL_Take"},
    {glyph::kFormat, 0x0004, APL_Format, "APL_Format"},
    {glyph::kExecute, 0x0004, APL_Execute, "APL_Execute"},
    {glyph::kSlash, 0x8004, APL_Replicate, "APL_Replicate"},
    {glyph::kSlashBar, 0x8004, APL_Replicate1, "APL_Replicate1"},
    {glyph::kBackslash, 0x0004, APL_Expand, "APL_Expand"},
    {glyph::kBackslashBar, 0x0004, APL_Expand1, "APL_Expand1"},
    {glyph::kDownArrow, 0xc004, APL_Drop, "APL_Drop"},
    {glyph::kComma, 0x4004, APL_Catenate, "APL_Catenate"},
    {glyph::kGradeUp, 0x0004, APL_GradeUp, "APL_GradeUp"},
    {glyph::kGradeDown, 0x0004, APL_GradeDown, "APL_GradeDown"},
    {glyph::kIota, 0x0004, APL_Interval, "APL_Interval"},
    {glyph::kMatch, 0x0004, APL_Match, "APL_Match"},
    {glyph::kPlus, 0x3004, APL_Add, "APL_Add"},
    {glyph::kMinus, 0x3004, APL_Sub, "APL_Sub"},
    {glyph::kTimes, 0x3004, APL_Mul, "APL_Mul"},
    {glyph::kUpStile, 0x3004, APL_Max, "APL_Max"},
    {glyph::kDownStile, 0x3004, APL_Min, "APL_Min"},
    {glyph::kStile, 0x3004, APL_Residue, "APL_Residue"},
    {glyph::kEqual, 0x3004, APL_Equal, "APL_Equal"},
    {glyph::kLess, 0x3004, APL_Lower, "APL_Lower"},
    {glyph::kGreater, 0x3004, APL_Greater, "APL_Greater"},
    {glyph::kGreaterEqual, 0x3004, APL_GEqual, "APL_GEqual"},
    {glyph::kLessEqual, 0x3004, APL_LEqual, "APL_LEqual"},
    {glyph::kNotEqual, 0x3004, APL_NEqual, "APL_NEqual"},
    {glyph::kVee, 0x3004, APL_Or, "APL_Or"},
    {glyph::kNor, 0x3004, APL_Nor, "APL_Nor"},
    {glyph::kWedge, 0x3004, APL_And, "APL_And"},
    {glyph::kNand, 0x3004, APL_Nand, "APL_Nand"},
    {glyph::kStar, 0x3004, APL_Power, "APL_Power"},
    {glyph::kLog, 0x3004, APL_Logarithm, "APL_Logarithm"},
    {glyph::kCircle, 0x3004, APL_Circle, "APL_Circle"},
    {glyph::kDivide, 0x3004, APL_Division, "APL_Division"},
    {glyph::kTilde, 0x1004, APL_Without, "APL_Without"},
    {glyph::kQuestion, 0x1004, APL_Roll, "APL_Roll"},
    {glyph::kExclaim, 0x3004, APL_Factorial, "APL_Factorial"},
    {glyph::kCircleStile, 0xc004, APL_Rotate, "APL_Rotate"},
    {glyph::kCircleBar, 0xc004, APL_Rotate1, "APL_Rotate1"},
    {glyph::kEpsilon, 0x4004, APL_Element, "APL_Element"},
    {glyph::kDownTack, 0x0004, APL_Decode, "APL_Decode"},
    {glyph::kUpTack, 0x0004, APL_Encode, "APL_Encode"},
    {glyph::kDomino, 0x0004, APL_MatInverse, "APL_MatInverse"},
    {glyph::kFind, 0x0004, APL_Find, "APL_Find"},
    {glyph::kSquad, 0x8004, APL_Indexing, "APL_Indexing"},
    {glyph::kRightTack, 0x0004, APL_Dex, "APL_Dex"},
    {glyph::kLeftTack, 0x0004, APL_Lev, "APL_Lev"},
    {glyph::kJot, 0x0004, APL_Jot, "APL_Jot"},
    {glyph::kZilde, 0x0005, APL_EmptyVector, "APL_EmptyVector"},
    {glyph::kControlSymbol, 0x0004, APL_Control, "APL_Control"},
};

void NotImplemented() { SetErrorText(APL_ERR_SYSTEM, "primitive Function not implemented !"); }

char *CopyName(const char *name) {
    const size_t length = strlen(name);
    auto *copy = static_cast<char *>(AllocBlock(length + 1, HERE));
    if (!copy) {
        fputs("Initializing primitive functions: Not enough memory!\n", stdout);
        fflush(stdout);
        exit(EXIT_FAILURE);
    }
    memcpy(copy, name, length + 1);
    return copy;
}

void Register(uint8_t code, uint16_t flags, aplfunction function, aploperator op, const char *name) {
    uint16_t &known = primitiveTables.flags[code];
    if (known & flags) return;
    known = static_cast<uint16_t>(known | flags | APL_FN_PRIMITIVE);
    // A monadic and a dyadic operator on one character do not share a bit: the
    // later one replaces the earlier, whose name copy is given back.
    if (flags & APL_FN_FUNCTION) {
        primitiveTables.functions[code] = function ? function : PrimitiveNotImplemented;
        FreeBlock(primitiveTables.functionNames[code], HERE);
        primitiveTables.functionNames[code] = CopyName(name);
    } else {
        primitiveTables.operators[code] = op ? op : OperatorNotImplemented;
        FreeBlock(primitiveTables.operatorNames[code], HERE);
        primitiveTables.operatorNames[code] = CopyName(name);
    }
}

}  // namespace

// Consumes temporary arguments; returns null with SYSTEM set.
aplarray *PrimitiveNotImplemented(aplarray *axis, aplarray *left, aplarray *right) {
    ReleaseTemporaries(axis, left, right);
    NotImplemented();
    return nullptr;
}

// Consumes temporary arguments; returns null with SYSTEM set.
aplarray *OperatorNotImplemented(aplarray *axis, aplarray *left, aplfnc *, aplarray *operandAxis, aplfnc *,
                                 aplarray *secondAxis, aplarray *right) {
    ReleaseTemporaries(axis, left, right);
    ReleaseTemporaries(operandAxis, secondAxis, nullptr);
    NotImplemented();
    return nullptr;
}

void InitPrimitiveTables() {
    for (int code = 0; code < 256; ++code) {
        FreeBlock(primitiveTables.functionNames[code], HERE);
        FreeBlock(primitiveTables.operatorNames[code], HERE);
        primitiveTables.functionNames[code] = primitiveTables.operatorNames[code] = nullptr;
        primitiveTables.functions[code] = PrimitiveNotImplemented;
        primitiveTables.operators[code] = OperatorNotImplemented;
        primitiveTables.flags[code] = 0;
    }
}

void RegisterPrimitive(uint8_t code, uint16_t flags, aplfunction function, const char *name) {
    Register(code, flags, function, nullptr, name);
}
void RegisterPrimitive(uint8_t code, uint16_t flags, aploperator function, const char *name) {
    Register(code, flags, nullptr, function, name);
}
void RegisterPrimitive(uint8_t code, uint16_t flags, std::nullptr_t, const char *name) {
    Register(code, flags, nullptr, nullptr, name);
}

void RegisterPrimitives() {
    for (const PrimitiveRow &row : kPrimitives)
        Register(row.code, row.flags, row.entry.function, row.entry.op, row.name);
}
