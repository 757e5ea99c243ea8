// Ctrl-C reaching long primitives: the interrupt flag goes up at a chosen
// check of the flag while 1E7-element work runs; the work stops at the next
// check, frees what it built and leaves linked arguments as they were. The
// checks are counted, not timed, so a slow or busy machine gives the same
// result as a fast one.
#include "support.h"

#include "core/errors.h"
#include "core/symtab.h"

#include <initializer_list>
#include <iterator>
#include <vector>

namespace {

constexpr int32_t kBig = 10000000;  // 1E7 elements: 152 strides, more than any case waits for

aplfnc Primitive(uint8_t code, aplfunction entry) {
    return aplfnc{APL_FN_PRIMITIVE | APL_FN_FUNCTION, nullptr, reinterpret_cast<void *>(entry), code};
}
aplfnc kMinus = Primitive('-', APL_Sub), kPlus = Primitive('+', APL_Add), kMax = Primitive(151, APL_Max),
       kLess = Primitive('<', APL_Lower), kTimes = Primitive(215, APL_Mul);

aplarray *Shape(std::initializer_list<int32_t> axes, aplarray *values) {
    return APL_Shape(nullptr, MakeIntVector(axes.begin(), static_cast<int32_t>(axes.size())), values);
}
aplarray *Pair() {
    const int32_t pair[] = {1, 2};
    return APL_Enclose(nullptr, nullptr, MakeIntVector(pair, 2));
}
// X[X]: 1E7 indices into X itself.
aplarray *Self(aplarray *x) {
    const int32_t one = 1;
    aplarray *list = APL_Create(1, APL_NESTED, &one);
    ItemsOf(list)[0] = APL_LinkEx(x, HERE);
    return list;
}

// X is 1E7 INTG elements 1 2 3 1 2 3 ..., M the same as a 10000 1000 matrix;
// P is the case's own argument, made (from X) before the flag is armed.
using Call = aplarray *(*)(aplarray *X, aplarray *M, aplarray *P);
struct Case {
    const char *what;
    Call call;
    aplarray *(*make)(aplarray *X) = nullptr;
    std::vector<int64_t> stops = {1};  // the checks of the flag after which it goes up
};

const Case kCases[] = {
    // Scalar functions, inside the element loop.
    {"X+X", [](aplarray *X, aplarray *, aplarray *) { return APL_Add(nullptr, X, X); }},
    {"1○X", [](aplarray *X, aplarray *, aplarray *) { return APL_Circle(nullptr, APL_Int(1), X); }},
    {"X<2", [](aplarray *X, aplarray *, aplarray *) { return APL_Lower(nullptr, X, APL_Int(2)); }},
    {"×X", [](aplarray *X, aplarray *, aplarray *) { return APL_Mul(nullptr, nullptr, X); }},
    // A vector of 1E4 stretched along the second axis of the matrix.
    {"V+[1]M", [](aplarray *X, aplarray *M, aplarray *) { return APL_Add(APL_Int(1), APL_Take(nullptr, APL_Int(10000), X), M); }},
    // Reshape, interval, indexing (X[X]←0 on a held X works on a copy).
    {"1E7⍴1.5", [](aplarray *, aplarray *, aplarray *) { return APL_Shape(nullptr, APL_Int(kBig), MakeReal(1.5)); }},
    {"1E7⍴X", [](aplarray *X, aplarray *, aplarray *) { return APL_Shape(nullptr, APL_Int(kBig), X); }},
    {"⍳1E7", [](aplarray *, aplarray *, aplarray *) { return APL_Interval(nullptr, nullptr, APL_Int(kBig)); }},
    {"X⍳X", [](aplarray *X, aplarray *, aplarray *) { return APL_Interval(nullptr, X, X); }},
    {"X[X]", [](aplarray *X, aplarray *, aplarray *) { return APL_IndexData(X, Self(X), nullptr); }},
    {"X[X]←0", [](aplarray *X, aplarray *, aplarray *) { return APL_IndexData(X, Self(X), APL_Int(0)); }},
    // Format and serialisation, of simple and of nested data.
    {"⍕X", [](aplarray *X, aplarray *, aplarray *) { return APL_Format(nullptr, nullptr, X); }},
    {"0 ⎕IIOS X", [](aplarray *X, aplarray *, aplarray *) { return APL_Serialize(nullptr, APL_Int(0), X); }},
    {"⍕3E6⍴⊂1 2", [](aplarray *, aplarray *, aplarray *P) { return APL_Format(nullptr, nullptr, P); },
     [](aplarray *) { return APL_Shape(nullptr, APL_Int(3000000), Pair()); }},
    // Reduce and scan inside one long vector; each prefix of a comparison
    // scan is folded anew (1E16 steps without the checks inside the vector).
    {"-/X", [](aplarray *X, aplarray *, aplarray *) { return APL_Reduce(nullptr, nullptr, &kMinus, nullptr, nullptr, nullptr, X); }},
    {"+\\X", [](aplarray *X, aplarray *, aplarray *) { return APL_Scan(nullptr, nullptr, &kPlus, nullptr, nullptr, nullptr, X); }},
    {"⌈\\X", [](aplarray *X, aplarray *, aplarray *) { return APL_Scan(nullptr, nullptr, &kMax, nullptr, nullptr, nullptr, X); }},
    {"<\\X", [](aplarray *X, aplarray *, aplarray *) { return APL_Scan(nullptr, nullptr, &kLess, nullptr, nullptr, nullptr, X); }},
    // Replicate: one count of 1E7 (the copies take the time, not the counts);
    // a negative count fills with the prototype and 1E7/⊂ links the item into
    // every slot: the links made so far go with the result wherever it stops.
    {"1E7/5", [](aplarray *, aplarray *, aplarray *) { return APL_Replicate(nullptr, APL_Int(kBig), APL_Int(5)); }},
    {"2/X", [](aplarray *X, aplarray *, aplarray *) { return APL_Replicate(nullptr, APL_Int(2), X); }},
    {"¯1E7/⊂1 2", [](aplarray *, aplarray *, aplarray *P) { return APL_Replicate(nullptr, APL_Int(-kBig), P); },
     [](aplarray *) { return Pair(); }, {1, 70, 150}},
    {"1E7/⊂1 2", [](aplarray *, aplarray *, aplarray *) { return APL_Replicate(nullptr, APL_Int(kBig), Pair()); },
     nullptr, {1, 40, 150}},
    // Grade, deal and the matrix product (3000 3000: 2.7E10 multiply-adds).
    {"⍋X", [](aplarray *X, aplarray *, aplarray *) { return APL_GradeUp(nullptr, nullptr, X); }},
    {"⍋5E6 2⍴X", [](aplarray *, aplarray *, aplarray *P) { return APL_GradeUp(nullptr, nullptr, P); },
     [](aplarray *X) { return Shape({kBig / 2, 2}, X); }},
    {"1E7?1E7", [](aplarray *, aplarray *, aplarray *) { return APL_Roll(nullptr, APL_Int(kBig), APL_Int(kBig)); }},
    {"M+.×M", [](aplarray *, aplarray *, aplarray *P) { return APL_InnerProduct(nullptr, P, &kPlus, nullptr, &kTimes, nullptr, P); },
     [](aplarray *) { return Shape({3000, 3000}, MakeReal(1.5)); }},
    // Catenate, laminate and ravel.
    {"X,X", [](aplarray *X, aplarray *, aplarray *) { return APL_Catenate(nullptr, X, X); }},
    {"X,[0.5]X", [](aplarray *X, aplarray *, aplarray *) { return APL_Catenate(MakeReal(0.5), X, X); }},
    {"M,[1]M", [](aplarray *, aplarray *M, aplarray *) { return APL_Catenate(APL_Int(1), M, M); }},
    {",M", [](aplarray *, aplarray *M, aplarray *) { return APL_Catenate(nullptr, nullptr, M); }},
    // Take and drop, overtaking included.
    {"(1-1E7)↑X", [](aplarray *X, aplarray *, aplarray *) { return APL_Take(nullptr, APL_Int(-(kBig - 1)), X); }},
    {"(1+1E7)↑X", [](aplarray *X, aplarray *, aplarray *) { return APL_Take(nullptr, APL_Int(kBig + 1), X); }},
    {"1↓X", [](aplarray *X, aplarray *, aplarray *) { return APL_Drop(nullptr, APL_Int(1), X); }},
    {"¯9999 10001↑M", [](aplarray *, aplarray *M, aplarray *) {
         const int32_t corner[] = {-9999, 10001};
         return APL_Take(nullptr, MakeIntVector(corner, 2), M);
     }},
    // Rotate, reverse and transpose; with one amount per vector each vector
    // turns on its own (a row's amount under ⌽, a column's under ⊖).
    {"1⌽X", [](aplarray *X, aplarray *, aplarray *) { return APL_Rotate(nullptr, APL_Int(1), X); }},
    {"⌽X", [](aplarray *X, aplarray *, aplarray *) { return APL_Rotate(nullptr, nullptr, X); }},
    {"⊖M", [](aplarray *, aplarray *M, aplarray *) { return APL_Rotate1(nullptr, nullptr, M); }},
    {"3⊖M", [](aplarray *, aplarray *M, aplarray *) { return APL_Rotate1(nullptr, APL_Int(3), M); }},
    {"(10000⍴1)⌽M", [](aplarray *, aplarray *M, aplarray *P) { return APL_Rotate(nullptr, P, M); },
     [](aplarray *) { return APL_Shape(nullptr, APL_Int(10000), APL_Int(1)); }},
    {"(1000⍴1)⊖M", [](aplarray *, aplarray *M, aplarray *P) { return APL_Rotate1(nullptr, P, M); },
     [](aplarray *) { return APL_Shape(nullptr, APL_Int(kBig / 10000), APL_Int(1)); }},
    {"⍉M", [](aplarray *, aplarray *M, aplarray *) { return APL_Transpose(nullptr, nullptr, M); }},
    // Enclose along an axis, partitions of one element or two by the
    // millions, and two items of 5E6 elements each.
    {"⊂[1]M", [](aplarray *, aplarray *M, aplarray *) { return APL_Enclose(APL_Int(1), nullptr, M); }},
    {"X⊂X", [](aplarray *X, aplarray *, aplarray *) { return APL_Enclose(nullptr, X, X); }},
    {"⊂[2]2 5E6⍴X", [](aplarray *, aplarray *, aplarray *P) { return APL_Enclose(APL_Int(2), nullptr, P); },
     [](aplarray *X) { return Shape({2, kBig / 2}, X); }},
    // Searches: membership sorts 1E7 REAL values, index of scans for each.
    {"R∊R", [](aplarray *, aplarray *, aplarray *P) { return APL_Element(nullptr, P, P); },
     [](aplarray *X) { return APL_Add(nullptr, MakeReal(0.5), X); }},
    {"R⍳R", [](aplarray *, aplarray *, aplarray *P) { return APL_Interval(nullptr, P, P); },
     [](aplarray *X) { return APL_Add(nullptr, MakeReal(0.5), X); }},
    {"X∊X", [](aplarray *X, aplarray *, aplarray *) { return APL_Element(nullptr, X, X); }},
    {"X≡Y", [](aplarray *X, aplarray *, aplarray *P) { return APL_Match(nullptr, X, P); },
     [](aplarray *X) { return APL_Shape(nullptr, APL_Int(kBig), X); }},
    // Codes to characters, shifts of bits, and bytes read as REAL values.
    {"⎕AF X", [](aplarray *X, aplarray *, aplarray *) { return APL_Atomic(nullptr, nullptr, X); }},
    {"1 Bitshift X", [](aplarray *X, aplarray *, aplarray *) { return APL_Bitshift(nullptr, APL_Int(1), X); }},
    {"4 ⎕DR B", [](aplarray *, aplarray *, aplarray *P) { return APL_DataRep(nullptr, APL_Int(APL_REAL), P); },
     [](aplarray *X) { return APL_DataRep(nullptr, APL_Int(APL_CHAR), X); }},
};

// A held argument is as it was: one link, and X's values where it has them.
void ExpectUnchanged(const aplarray *held, const std::string &what) {
    EXPECT_EQ(held->lnkcnt, 1) << what;
    if (held->eltype != APL_INTG || held->number != kBig) return;
    const int32_t *data = DataOf<const int32_t>(held);
    for (int64_t i : {int64_t{0}, int64_t{1}, int64_t{kBig / 2}, int64_t{kBig - 1}})
        EXPECT_EQ(data[i], i % 3 + 1) << what << ": element " << i;
}

// One case of the table per test, so that each runs in its own time limit
// (the 32-bit build may run under an emulator) and fails under its own index.
class Interrupt : public WorkspaceTest, public ::testing::WithParamInterface<size_t> {};

// Each call runs with the flag raised just after check `stop` of the flag, as
// Ctrl-C in the stride that follows would raise it: INTERRUPT ERROR and
// nothing returned at the very next check (no stride more of work), the flag
// still set (only the session clears it), every block made since the call
// began given back (temporary arguments included), the held arguments intact.
TEST_P(Interrupt, LongPrimitiveStopsAtTheNextCheckAndLeavesNothing) {
    const Case &c = kCases[GetParam()];
    const int32_t steps[] = {1, 2, 3};
    aplarray *X = APL_LinkEx(APL_Shape(nullptr, APL_Int(kBig), MakeIntVector(steps, 3)), HERE);
    ASSERT_NE(X, nullptr) << "error " << aplerrno;
    aplarray *M = APL_LinkEx(Shape({10000, kBig / 10000}, X), HERE);
    aplarray *P = c.make ? APL_LinkEx(c.make(X), HERE) : nullptr;
    ASSERT_TRUE(P || !c.make) << c.what << ": error " << aplerrno;
    for (int64_t stop : c.stops) {
        const std::string what = std::string(c.what) + " stopped after check " + std::to_string(stop);
        aplerrno = 0;
        APL_interrupted = 0;
        const int32_t blocks = LiveBlocks();
        RaiseInterruptAtCheck(stop);
        aplarray *result = c.call(X, M, P);
        const int64_t checks = InterruptChecksMade();
        RaiseInterruptAtCheck(0);
        EXPECT_EQ(result, nullptr) << what;
        EXPECT_EQ(checks, stop + 1) << what << ": checks of the flag, the last one stopping the work";
        EXPECT_EQ(aplerrno, APL_ERR_INTERRUPT) << what;
        EXPECT_EQ(APL_interrupted, 1) << what;
        APL_UnLinkTempEx(result, HERE);
        aplerrno = 0;
        APL_interrupted = 0;
        EXPECT_EQ(LiveBlocks(), blocks) << what << ": blocks left by the interrupted call";
    }
    for (const aplarray *held : {X, M, P})
        if (held) ExpectUnchanged(held, c.what);
    APL_UnLinkEx(P, HERE);
    APL_UnLinkEx(M, HERE);
    APL_UnLinkEx(X, HERE);
}
INSTANTIATE_TEST_SUITE_P(Table, Interrupt, ::testing::Range(size_t{0}, std::size(kCases)));

// Small work never reaches a stride boundary after the first: a flag set
// before the call still stops it at once rather than letting it finish.
using InterruptFlag = WorkspaceTest;
TEST_F(InterruptFlag, SetBeforeTheCallStopsTheWorkAtTheFirstStride) {
    const int32_t steps[] = {1, 2};
    APL_interrupted = 1;
    EXPECT_EQ(APL_Add(nullptr, APL_Int(1), APL_Int(2)), nullptr);
    EXPECT_EQ(aplerrno, APL_ERR_INTERRUPT);
    aplerrno = 0;
    EXPECT_EQ(APL_Shape(nullptr, APL_Int(5), MakeIntVector(steps, 2)), nullptr);
    EXPECT_EQ(aplerrno, APL_ERR_INTERRUPT);
    APL_interrupted = 0;
}

}  // namespace
