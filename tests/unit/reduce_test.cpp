// Reduce and scan through their exported entry points: every typed loop
// against the general path on random data, and an interrupt inside a native
// operand.
#include "support.h"

#include "core/call.h"
#include "core/errors.h"
#include "structural/cells.h"

#include <cstring>
#include <random>
#include <vector>

namespace {

using Reduce = LibraryTest;

using Operator = aplarray *(*)(aplarray *, aplarray *, aplfnc *, aplarray *, aplfnc *, aplarray *, aplarray *);

struct Operand {
    uint8_t code;
    aplfunction entry;
};
const Operand kTyped[] = {{'+', APL_Add},   {'-', APL_Sub},    {215, APL_Mul},    {247, APL_Division},
                          {151, APL_Max},   {152, APL_Min},    {94, APL_And},     {159, APL_Or},
                          {138, APL_Nand},  {139, APL_Nor},    {'=', APL_Equal},  {172, APL_NEqual},
                          {'<', APL_Lower}, {136, APL_LEqual}, {137, APL_GEqual}, {'>', APL_Greater}};

// The primitive as reduce sees a primitive operand (typed loop), and the same
// function as a native one (general path, one call per step).
aplfnc Primitive(const Operand &o) {
    return aplfnc{APL_FN_PRIMITIVE | APL_FN_FUNCTION, nullptr, reinterpret_cast<void *>(o.entry), o.code};
}
aplfnc Native(aplfunction f) { return aplfnc{APL_FN_FUNCTION, nullptr, reinterpret_cast<void *>(f), 0}; }

bool Logical(uint8_t code) { return code == 94 || code == 159 || code == 138 || code == 139; }
bool Arithmetic(uint8_t code) { return code == '+' || code == '-' || code == 215 || code == 247; }

// Random data whose folds are exact in any order: small integers, or REAL
// powers of two; 0 and 1 only for the logical operands (where the bitwise
// fold and the dyadic function agree); never 0 for division.
aplarray *RandomArray(std::mt19937 &random, int eltype, const std::vector<int32_t> &shape, uint8_t code) {
    aplarray *a = AllocArray((eltype == APL_NESTED ? APL_NESTEDARRAY : APL_SIMPLE) | APL_TEMP,
                             static_cast<int>(shape.size()), eltype, shape.data(), HERE);
    const int64_t n = ElementCount(a);
    if (eltype == APL_BOOL) memset(DataOf(a), 0, 4 * static_cast<size_t>(a->number));
    const double powers[] = {0.5, 1, 2, 4, -0.5, -1, -2, -4};
    for (int64_t i = 0; i < n; ++i) {
        int32_t k = static_cast<int32_t>(random() % 7) - 3;
        if (Logical(code) || eltype == APL_BOOL) k = static_cast<int32_t>(random() % 2);
        if (code == 247) k = k < 0 ? -(1 << -k) : 1 << k;  // powers of two: ÷ folds exactly in any order
        if (eltype == APL_INTG) DataOf<int32_t>(a)[i] = k;
        if (eltype == APL_REAL) DataOf<double>(a)[i] = powers[random() % 8];
        if (eltype == APL_BOOL && k) {
            const int64_t row = RowLength(a), words = (row + 31) / 32;
            DataOf<uint32_t>(a)[i / row * words + i % row / 32] |= 1u << (i % row % 32);
        }
    }
    return a;
}

// Runs an operator on an axis (1-based) with a primitive and with the native
// operand; both results must hold the same numbers, and the typed one the
// type the loop promises.
void ExpectSameAsGeneral(Operator op, const Operand &o, aplarray *arg, int axis, int expectedType) {
    aplfnc fast = Primitive(o), general = Native(o.entry);
    aplarray *a = APL_Link(arg);
    aplarray *x = op(APL_Int(axis), nullptr, &fast, nullptr, nullptr, nullptr, a);
    aplarray *y = op(APL_Int(axis), nullptr, &general, nullptr, nullptr, nullptr, a);
    ASSERT_NE(x, nullptr) << o.code << " axis " << axis << " error " << aplerrno;
    ASSERT_NE(y, nullptr) << o.code << " axis " << axis << " error " << aplerrno;
    if (arg->shape[axis - 1] > 1) {  // one item: nothing is folded, the type stays
        EXPECT_EQ(x->eltype, expectedType) << "operand " << int{o.code} << " on " << TypeName(arg->eltype);
    }
    ASSERT_EQ(x->rank, y->rank);
    ASSERT_EQ(ElementCount(x), ElementCount(y));
    for (int64_t i = 0; i < ElementCount(x); ++i)
        ASSERT_EQ(NumberAt(x, i), NumberAt(y, i))
            << "operand " << int{o.code} << " on " << TypeName(arg->eltype) << " axis " << axis << " at " << i;
    APL_UnLinkTemp(x);
    APL_UnLinkTemp(y);
    APL_UnLink(a);
}

int ReduceType(uint8_t code, int argType, bool lastAxis) {
    if (code == '+' && argType == APL_BOOL && lastAxis) return APL_INTG;  // bits counted
    if (Arithmetic(code)) return APL_REAL;
    if (code == 151 || code == 152) return argType == APL_REAL ? APL_REAL : APL_INTG;
    return APL_INTG;
}
int ScanType(uint8_t code, int argType) {
    if (Arithmetic(code)) return APL_REAL;
    if (Logical(code)) return APL_INTG;
    return argType == APL_BOOL ? APL_INTG : argType;
}

TEST_F(Reduce, EveryTypedLoopAgreesWithTheGeneralPathAlongEveryAxis) {
    std::mt19937 random(16);
    const std::vector<std::vector<int32_t>> shapes = {{3, 4, 5}, {2, 3, 33}, {2, 2, 32}, {2, 64, 3}, {1, 2, 31}};
    for (const Operand &o : kTyped)
        for (int type : {APL_INTG, APL_REAL, APL_BOOL}) {
            if (Logical(o.code) && type == APL_REAL) continue;
            for (const auto &shape : shapes)
                for (int axis = 1; axis <= 3; ++axis) {
                    ExpectSameAsGeneral(APL_Reduce, o, RandomArray(random, type, shape, o.code), axis,
                                        ReduceType(o.code, type, axis == 3));
                    // Scans of up to 64 items: the general path is quadratic.
                    if (o.code == 138 || o.code == 139) continue;
                    ExpectSameAsGeneral(APL_Scan, o, RandomArray(random, type, shape, o.code), axis,
                                        ScanType(o.code, type));
                }
        }
}

// ---- A native operand that asks to stop on a chosen call (the calls counted and
// an error in the operand are in reduce_user.tr) ----
int calls = 0;
aplarray *Counted(aplarray *axis, aplarray *left, aplarray *right) {
    if (++calls == 4) APL_interrupted = 1;
    return APL_Sub(axis, left, right);
}

TEST_F(Reduce, AnInterruptAskedForDuringANativeOperandStopsTheFold) {
    aplfnc f = Native(Counted);
    calls = 0;
    std::vector<int32_t> v(100, 1);
    EXPECT_EQ(APL_Reduce(nullptr, nullptr, &f, nullptr, nullptr, nullptr, MakeIntVector(v.data(), 100)), nullptr);
    EXPECT_EQ(aplerrno, APL_ERR_INTERRUPT);
    EXPECT_EQ(calls, 4);
    APL_interrupted = 0;
}

}  // namespace
