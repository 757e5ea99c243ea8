// Ctrl-C reaching long primitives: the interrupt flag goes up at a chosen
// check of the flag while 1E8-element work runs; the work stops at the next
// check, frees what it built and leaves linked arguments as they were. The
// checks are counted, not timed, so a slow or busy machine gives the same
// result as a fast one.
#include "support.h"

#include "core/errors.h"
#include "core/symtab.h"

#include <vector>

namespace {

constexpr int32_t kBig = 100000000;  // 1E8 elements

class Interrupt : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        CreateSystemVariables(false);
        APL_interrupted = 0;
    }
    void TearDown() override {
        APL_interrupted = 0;
        TearDownHeld();
        APL_UnLinkEx(big_, HERE);
        DestroySymbolTable();
        LibraryTest::TearDown();
    }

    // 1E8 INTG elements 1 2 3 1 2 3 ..., held by the test (one link).
    aplarray *Big() { return big_; }
    void MakeBig() {
        const int32_t steps[] = {1, 2, 3};
        big_ = APL_LinkEx(APL_Shape(nullptr, APL_Int(kBig), MakeIntVector(steps, 3)), HERE);
        ASSERT_NE(big_, nullptr) << "error " << aplerrno;
    }

    // Runs the call with the flag raised just after check `at` of the flag,
    // as Ctrl-C in the stride that follows would raise it. Expects INTERRUPT
    // ERROR and nothing returned at the very next check (no stride more of
    // work), the flag still set, and every block made since the call began
    // given back (temporary arguments included).
    template <class Call>
    void ExpectInterrupted(Call call, const char *what, int64_t at = 1) {
        aplerrno = 0;
        const int32_t blocks = LiveBlocks();
        RaiseInterruptAtCheck(at);
        aplarray *result = call();
        const int64_t checks = InterruptChecksMade();
        RaiseInterruptAtCheck(0);
        EXPECT_EQ(result, nullptr) << what;
        EXPECT_EQ(checks, at + 1) << what << ": checks of the flag, the last one stopping the work";
        EXPECT_EQ(aplerrno, APL_ERR_INTERRUPT) << what;
        EXPECT_EQ(APL_interrupted, 1) << what << ": only the session clears the flag";
        APL_UnLinkTempEx(result, HERE);
        aplerrno = 0;
        APL_interrupted = 0;
        EXPECT_EQ(LiveBlocks(), blocks) << what << ": blocks left by the interrupted call";
    }

    // The held argument still reads 1 2 3 ... at both ends and in the middle.
    void ExpectBigUnchanged() { ExpectUnchanged(big_); }
    static void ExpectUnchanged(const aplarray *held) {
        ASSERT_EQ(held->lnkcnt, 1);
        ASSERT_EQ(held->eltype, APL_INTG);
        const int32_t *data = DataOf<const int32_t>(held);
        for (int64_t i : {int64_t{0}, int64_t{1}, int64_t{kBig / 2}, int64_t{kBig - 1}})
            EXPECT_EQ(data[i], i % 3 + 1) << "element " << i;
    }

    // X's elements as a matrix of `rows` rows, held by the test until the end.
    aplarray *HeldMatrix(int32_t rows) {
        const int32_t shape[] = {rows, kBig / rows};
        aplarray *m = APL_LinkEx(APL_Shape(nullptr, MakeIntVector(shape, 2), Big()), HERE);
        if (m) held_.push_back(m);
        return m;
    }
    void TearDownHeld() {
        for (aplarray *m : held_) APL_UnLinkEx(m, HERE);
        held_.clear();
    }

    aplarray *big_ = nullptr;
    std::vector<aplarray *> held_;
};

TEST_F(Interrupt, ScalarFunctionsStopInsideTheElementLoop) {
    MakeBig();
    ExpectInterrupted([&] { return APL_Add(nullptr, Big(), Big()); }, "X+X");
    ExpectBigUnchanged();
    ExpectInterrupted([&] { return APL_Circle(nullptr, APL_Int(1), Big()); }, "1○X");
    ExpectInterrupted([&] { return APL_Lower(nullptr, Big(), APL_Int(2)); }, "X<2");
    ExpectInterrupted([&] { return APL_Mul(nullptr, nullptr, Big()); }, "×X");
    ExpectBigUnchanged();
}

TEST_F(Interrupt, ReshapeAndIntervalStop) {
    MakeBig();
    ExpectInterrupted([] { return APL_Shape(nullptr, APL_Int(kBig), MakeReal(1.5)); }, "1E8⍴1.5");
    ExpectInterrupted([&] { return APL_Shape(nullptr, APL_Int(kBig), Big()); }, "1E8⍴X");
    ExpectInterrupted([] { return APL_Interval(nullptr, nullptr, APL_Int(kBig)); }, "⍳1E8");
    ExpectInterrupted([&] { return APL_Interval(nullptr, Big(), Big()); }, "X⍳X");
    ExpectBigUnchanged();
}

TEST_F(Interrupt, IndexingAndIndexedAssignmentStop) {
    MakeBig();
    // X[X]: 1E8 indices into X itself.
    auto list = [&] {
        const int32_t one = 1;
        aplarray *l = APL_Create(1, APL_NESTED, &one);
        ItemsOf(l)[0] = APL_LinkEx(Big(), HERE);
        return l;
    };
    ExpectInterrupted([&] { return APL_IndexData(Big(), list(), nullptr); }, "X[X]");
    // X[X]←0 on an array someone else holds works on a copy: X stays as it was.
    ExpectInterrupted([&] { return APL_IndexData(Big(), list(), APL_Int(0)); }, "X[X]←0");
    ExpectBigUnchanged();
}

TEST_F(Interrupt, FormatAndSerialisationStop) {
    MakeBig();
    ExpectInterrupted([&] { return APL_Format(nullptr, nullptr, Big()); }, "⍕X");
    ExpectInterrupted([&] { return APL_Serialize(nullptr, APL_Int(0), Big()); }, "0 ⎕IIOS X");
    ExpectBigUnchanged();
}

// The operand as reduce and scan see a primitive: the typed loops.
aplfnc PrimitiveOperand(uint8_t code, aplfunction entry) {
    return aplfnc{APL_FN_PRIMITIVE | APL_FN_FUNCTION, nullptr, reinterpret_cast<void *>(entry), code};
}

TEST_F(Interrupt, ReduceAndScanStopInsideOneLongVector) {
    MakeBig();
    aplfnc minus = PrimitiveOperand('-', APL_Sub), plus = PrimitiveOperand('+', APL_Add);
    aplfnc max = PrimitiveOperand(151, APL_Max), less = PrimitiveOperand('<', APL_Lower);
    ExpectInterrupted([&] { return APL_Reduce(nullptr, nullptr, &minus, nullptr, nullptr, nullptr, Big()); }, "-/X");
    ExpectInterrupted([&] { return APL_Scan(nullptr, nullptr, &plus, nullptr, nullptr, nullptr, Big()); }, "+\\X");
    ExpectInterrupted([&] { return APL_Scan(nullptr, nullptr, &max, nullptr, nullptr, nullptr, Big()); }, "⌈\\X");
    // Each prefix of a comparison scan is folded anew: 1E16 steps without the
    // checks inside the vector.
    ExpectInterrupted([&] { return APL_Scan(nullptr, nullptr, &less, nullptr, nullptr, nullptr, Big()); }, "<\\X");
    ExpectBigUnchanged();
}

TEST_F(Interrupt, ReplicateStopsInsideOneLargeCount) {
    // One count of 1E8: the copies, not the counts, are what take the time.
    ExpectInterrupted([] { return APL_Replicate(nullptr, APL_Int(kBig), APL_Int(5)); }, "1E8/5");
    // A negative count fills with the prototype, linked into every slot
    // written: the fill must outlive the result released at the stop,
    // wherever in the fill the stop comes.
    const int32_t pair[] = {1, 2};
    aplarray *item = APL_LinkEx(APL_Enclose(nullptr, nullptr, MakeIntVector(pair, 2)), HERE);
    for (int64_t at : {1, 70, 150})
        ExpectInterrupted([&] { return APL_Replicate(nullptr, APL_Int(-10000000), item); }, "¯1E7/⊂1 2", at);
    EXPECT_EQ(item->lnkcnt, 1);
    APL_UnLinkEx(item, HERE);
}

TEST_F(Interrupt, GradeAndTheMatrixProductStop) {
    MakeBig();
    ExpectInterrupted([&] { return APL_GradeUp(nullptr, nullptr, Big()); }, "⍋X");
    ExpectBigUnchanged();
    // 3000 3000 matrices: 2.7E10 multiply-adds.
    const int32_t side[] = {3000, 3000};
    aplarray *m = APL_LinkEx(APL_Shape(nullptr, MakeIntVector(side, 2), MakeReal(1.5)), HERE);
    ASSERT_NE(m, nullptr);
    aplfnc plus = PrimitiveOperand('+', APL_Add), times = PrimitiveOperand(215, APL_Mul);
    ExpectInterrupted([&] { return APL_InnerProduct(nullptr, m, &plus, nullptr, &times, nullptr, m); }, "M+.×M");
    EXPECT_EQ(m->lnkcnt, 1);
    APL_UnLinkEx(m, HERE);
}

TEST_F(Interrupt, CatenateAndLaminateStop) {
    MakeBig();
    aplarray *m = HeldMatrix(10000);
    ASSERT_NE(m, nullptr);
    ExpectInterrupted([&] { return APL_Catenate(nullptr, Big(), Big()); }, "X,X");
    ExpectInterrupted([&] { return APL_Catenate(MakeReal(0.5), Big(), Big()); }, "X,[0.5]X");
    ExpectInterrupted([&] { return APL_Catenate(APL_Int(1), m, m); }, "M,[1]M");
    ExpectInterrupted([&] { return APL_Catenate(nullptr, nullptr, m); }, ",M");
    ExpectBigUnchanged();
    ExpectUnchanged(m);
}

TEST_F(Interrupt, StretchingAlongAnAxisStops) {
    MakeBig();
    aplarray *m = HeldMatrix(10000);
    ASSERT_NE(m, nullptr);
    ExpectInterrupted([&] { return APL_Replicate(nullptr, APL_Int(2), Big()); }, "2/X");
    // A vector of 1E4 stretched along the second axis of the matrix.
    ExpectInterrupted([&] { return APL_Add(APL_Int(1), APL_Take(nullptr, APL_Int(10000), Big()), m); }, "V+[1]M");
    ExpectBigUnchanged();
    ExpectUnchanged(m);
}

TEST_F(Interrupt, TakeAndDropStop) {
    MakeBig();
    aplarray *m = HeldMatrix(10000);
    ASSERT_NE(m, nullptr);
    ExpectInterrupted([&] { return APL_Take(nullptr, APL_Int(-(kBig - 1)), Big()); }, "(1-1E8)↑X");
    ExpectInterrupted([&] { return APL_Take(nullptr, APL_Int(kBig + 1), Big()); }, "(1+1E8)↑X");
    ExpectInterrupted([&] { return APL_Drop(nullptr, APL_Int(1), Big()); }, "1↓X");
    const int32_t corner[] = {-9999, 10001};
    ExpectInterrupted([&] { return APL_Take(nullptr, MakeIntVector(corner, 2), m); }, "¯9999 10001↑M");
    ExpectBigUnchanged();
    ExpectUnchanged(m);
}

TEST_F(Interrupt, RotateReverseAndTransposeStop) {
    MakeBig();
    aplarray *m = HeldMatrix(10000);
    ASSERT_NE(m, nullptr);
    ExpectInterrupted([&] { return APL_Rotate(nullptr, APL_Int(1), Big()); }, "1⌽X");
    ExpectInterrupted([&] { return APL_Rotate(nullptr, nullptr, Big()); }, "⌽X");
    ExpectInterrupted([&] { return APL_Rotate1(nullptr, nullptr, m); }, "⊖M");
    ExpectInterrupted([&] { return APL_Rotate1(nullptr, APL_Int(3), m); }, "3⊖M");
    // One amount per vector: each vector turned on its own.
    aplarray *amounts = APL_LinkEx(APL_Shape(nullptr, APL_Int(10000), APL_Int(1)), HERE);
    held_.push_back(amounts);
    ExpectInterrupted([&] { return APL_Rotate(nullptr, amounts, m); }, "(10000⍴1)⌽M");
    ExpectInterrupted([&] { return APL_Rotate1(nullptr, amounts, m); }, "(10000⍴1)⊖M");
    ExpectInterrupted([&] { return APL_Transpose(nullptr, nullptr, m); }, "⍉M");
    ExpectBigUnchanged();
    ExpectUnchanged(m);
}

TEST_F(Interrupt, EncloseReplicateAndFormatOfNestedDataStop) {
    MakeBig();
    aplarray *m = HeldMatrix(10000);
    ASSERT_NE(m, nullptr);
    ExpectInterrupted([&] { return APL_Enclose(APL_Int(1), nullptr, m); }, "⊂[1]M");
    const int32_t pair[] = {1, 2};
    auto enclosedPair = [&] { return APL_Enclose(nullptr, nullptr, MakeIntVector(pair, 2)); };
    // Stopped at several points of the copy: the items linked so far are
    // released with the result, whichever point that is.
    for (int64_t at : {1, 40, 150})
        ExpectInterrupted([&] { return APL_Replicate(nullptr, APL_Int(10000000), enclosedPair()); }, "1E7/⊂1 2", at);
    aplarray *pairs = APL_LinkEx(APL_Shape(nullptr, APL_Int(3000000), enclosedPair()), HERE);
    ASSERT_NE(pairs, nullptr);
    held_.push_back(pairs);
    ExpectInterrupted([&] { return APL_Format(nullptr, nullptr, pairs); }, "⍕3E6⍴⊂1 2");
    EXPECT_EQ(pairs->lnkcnt, 1);
    ExpectUnchanged(m);
}

TEST_F(Interrupt, SearchesOfRealsAndPartitionsStop) {
    MakeBig();
    // 1E7 REAL values: membership sorts them, index of scans for each.
    aplarray *reals = APL_LinkEx(APL_Add(nullptr, MakeReal(0.5), APL_Take(nullptr, APL_Int(10000000), Big())), HERE);
    ASSERT_NE(reals, nullptr);
    held_.push_back(reals);
    ExpectInterrupted([&] { return APL_Element(nullptr, reals, reals); }, "R∊R");
    ExpectInterrupted([&] { return APL_Interval(nullptr, reals, reals); }, "R⍳R");
    ExpectInterrupted([&] { return APL_Element(nullptr, Big(), Big()); }, "X∊X");
    EXPECT_EQ(reals->lnkcnt, 1);
    // Partitions of one element or two, by the millions.
    ExpectInterrupted([&] { return APL_Enclose(nullptr, Big(), Big()); }, "X⊂X");
    // Two items of 5E7 elements each.
    aplarray *wide = HeldMatrix(2);
    ASSERT_NE(wide, nullptr);
    ExpectInterrupted([&] { return APL_Enclose(APL_Int(2), nullptr, wide); }, "⊂[2]2 5E7⍴X");
    ExpectBigUnchanged();
    ExpectUnchanged(wide);
}

TEST_F(Interrupt, MatchOfLongArraysStops) {
    MakeBig();
    aplarray *same = APL_LinkEx(APL_Shape(nullptr, APL_Int(kBig), Big()), HERE);
    ASSERT_NE(same, nullptr);
    held_.push_back(same);
    ExpectInterrupted([&] { return APL_Match(nullptr, Big(), same); }, "X≡Y");
    ExpectBigUnchanged();
    ExpectUnchanged(same);
}

TEST_F(Interrupt, DealAndTheGradeOfRowsStop) {
    ExpectInterrupted([] { return APL_Roll(nullptr, APL_Int(kBig), APL_Int(kBig)); }, "1E8?1E8");
    MakeBig();
    aplarray *rows = HeldMatrix(kBig / 2);
    ASSERT_NE(rows, nullptr);
    ExpectInterrupted([&] { return APL_GradeUp(nullptr, nullptr, rows); }, "⍋5E7 2⍴X");
    ExpectUnchanged(rows);
}

TEST_F(Interrupt, FlagSetBeforeTheCallStopsAtTheFirstStride) {
    // Small work never reaches a stride boundary after the first: it still
    // sees the flag at once rather than finishing.
    APL_interrupted = 1;
    EXPECT_EQ(APL_Add(nullptr, APL_Int(1), APL_Int(2)), nullptr);
    EXPECT_EQ(aplerrno, APL_ERR_INTERRUPT);
    aplerrno = 0;
    const int32_t steps[] = {1, 2};
    EXPECT_EQ(APL_Shape(nullptr, APL_Int(5), MakeIntVector(steps, 2)), nullptr);
    EXPECT_EQ(aplerrno, APL_ERR_INTERRUPT);
}

TEST_F(Interrupt, StridedLoopsGiveWholeResults) {
    // Reshape across several strides, from a source longer than one stride:
    // every element is the source cycled.
    const int32_t total = 5 * static_cast<int32_t>(kInterruptStride) + 17;
    const int32_t available = static_cast<int32_t>(kInterruptStride) + 3;
    for (int32_t n : {int32_t{7}, available}) {
        aplarray *source = APL_Interval(nullptr, nullptr, APL_Int(n));
        aplarray *r = APL_Shape(nullptr, APL_Int(total), source);
        ASSERT_NE(r, nullptr);
        const int32_t *data = DataOf<const int32_t>(r);
        int64_t wrong = 0;
        for (int64_t i = 0; i < total; ++i) wrong += data[i] != i % n + 1;
        EXPECT_EQ(wrong, 0) << "source of " << n;
        // The scalar loop over the same strides.
        aplarray *sum = APL_Add(nullptr, APL_Int(1), r);
        ASSERT_NE(sum, nullptr);
        wrong = 0;
        for (int64_t i = 0; i < total; ++i) wrong += DataOf<const double>(sum)[i] != i % n + 2;
        EXPECT_EQ(wrong, 0) << "1+ of " << n;
        APL_UnLinkTempEx(sum, HERE);
    }
    // Reduce and scan of one vector over several strides: -/ alternates
    // from the right, +\\ and ⌈\\ carry their value from stride to stride.
    aplarray *v = APL_LinkEx(APL_Interval(nullptr, nullptr, APL_Int(total)), HERE);
    aplfnc minus = PrimitiveOperand('-', APL_Sub), plus = PrimitiveOperand('+', APL_Add);
    aplfnc max = PrimitiveOperand(151, APL_Max);
    aplarray *alternating = APL_Reduce(nullptr, nullptr, &minus, nullptr, nullptr, nullptr, v);
    ASSERT_NE(alternating, nullptr);
    EXPECT_EQ(DataOf<const double>(alternating)[0], (total + 1) / 2) << "1-2+3-... of an odd count";
    APL_UnLinkTempEx(alternating, HERE);
    aplarray *sums = APL_Scan(nullptr, nullptr, &plus, nullptr, nullptr, nullptr, v);
    ASSERT_NE(sums, nullptr);
    int64_t wrong = 0;
    for (int64_t k = 0; k < total; ++k)
        wrong += DataOf<const double>(sums)[k] != static_cast<double>((k + 1) * (k + 2) / 2);
    EXPECT_EQ(wrong, 0) << "+\\";
    APL_UnLinkTempEx(sums, HERE);
    aplarray *maxima = APL_Scan(nullptr, nullptr, &max, nullptr, nullptr, nullptr, APL_Sub(nullptr, APL_Int(0), v));
    ASSERT_NE(maxima, nullptr);
    wrong = 0;
    const bool real = maxima->eltype == APL_REAL;
    for (int64_t k = 0; k < total; ++k)
        wrong += (real ? DataOf<const double>(maxima)[k] : DataOf<const int32_t>(maxima)[k]) != -1;
    EXPECT_EQ(wrong, 0) << "⌈\\ of a falling vector keeps its first element";
    APL_UnLinkTempEx(maxima, HERE);
    APL_UnLinkEx(v, HERE);
}

// The structural loops now run in strides (and grade's rows through a merge
// sort): results that cross several strides are still whole and in order.
class StridedResults : public Interrupt {
protected:
    static constexpr int32_t kN = 2 * static_cast<int32_t>(kInterruptStride) + 17;

    // Counts the elements of an INTG result that differ from expected(i).
    template <class Expected>
    static int64_t Wrong(aplarray *result, int64_t count, Expected expected) {
        if (!result || result->eltype != APL_INTG || ElementCount(result) != count) return -1;
        int64_t wrong = 0;
        for (int64_t i = 0; i < count; ++i) wrong += DataOf<const int32_t>(result)[i] != expected(i);
        APL_UnLinkTempEx(result, HERE);
        return wrong;
    }
};

TEST_F(StridedResults, RotateTakeCatenateAndTransposeKeepEveryElement) {
    aplarray *v = APL_LinkEx(APL_Interval(nullptr, nullptr, APL_Int(kN)), HERE);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(Wrong(APL_Rotate(nullptr, nullptr, v), kN, [](int64_t i) { return kN - i; }), 0) << "⌽";
    EXPECT_EQ(Wrong(APL_Rotate(nullptr, APL_Int(5), v), kN, [](int64_t i) { return (i + 5) % kN + 1; }), 0) << "5⌽";
    EXPECT_EQ(Wrong(APL_Take(nullptr, APL_Int(kN + 9), v), kN + 9, [](int64_t i) { return i < kN ? i + 1 : 0; }), 0)
        << "overtake";
    EXPECT_EQ(Wrong(APL_Drop(nullptr, APL_Int(-3), v), kN - 3, [](int64_t i) { return i + 1; }), 0) << "¯3↓";
    EXPECT_EQ(Wrong(APL_Catenate(nullptr, v, v), 2 * kN, [](int64_t i) { return i % kN + 1; }), 0) << ",";
    const int32_t shape[] = {3, kN};
    aplarray *m = APL_LinkEx(APL_Shape(nullptr, MakeIntVector(shape, 2), v), HERE);
    ASSERT_NE(m, nullptr);
    // ⍉ of a 3-row matrix: row i of the result is column i.
    EXPECT_EQ(
        Wrong(APL_Transpose(nullptr, nullptr, m), 3 * kN, [](int64_t i) { return (i % 3 * kN + i / 3) % kN + 1; }), 0)
        << "⍉";
    EXPECT_EQ(Wrong(APL_Rotate1(nullptr, nullptr, m), 3 * kN, [](int64_t i) { return i % kN + 1; }), 0) << "⊖";
    // Compress by a mask of 1 0 1 repeated.
    const int32_t mask[] = {1, 0, 1};
    aplarray *bits = APL_ToBool(nullptr, nullptr, APL_Shape(nullptr, APL_Int(kN), MakeIntVector(mask, 3)));
    EXPECT_EQ(Wrong(APL_Replicate(nullptr, bits, v), (kN + 2) / 3 * 2 - (kN % 3 == 1 ? 1 : 0),
                    [](int64_t i) { return i / 2 * 3 + i % 2 * 2 + 1; }),
              0)
        << "compress";
    APL_UnLinkEx(m, HERE);
    APL_UnLinkEx(v, HERE);
}

TEST_F(StridedResults, NestedCopiesLinkEveryItemOnce) {
    const int32_t pair[] = {1, 2};
    aplarray *pairs =
        APL_LinkEx(APL_Shape(nullptr, APL_Int(kN), APL_Enclose(nullptr, nullptr, MakeIntVector(pair, 2))), HERE);
    ASSERT_NE(pairs, nullptr);
    aplarray *item = ItemsOf(pairs)[0];
    const int32_t links = item->lnkcnt;
    for (auto make : {+[](aplarray *p) { return APL_Rotate(nullptr, APL_Int(7), p); },
                      +[](aplarray *p) { return APL_Rotate(nullptr, nullptr, p); },
                      +[](aplarray *p) { return APL_Take(nullptr, APL_Int(kN + 3), p); },
                      +[](aplarray *p) { return APL_Catenate(nullptr, p, p); }}) {
        aplarray *copy = make(pairs);
        ASSERT_NE(copy, nullptr);
        ASSERT_EQ(copy->eltype, APL_NESTED);
        int64_t others = 0;
        for (int64_t i = 0; i < copy->number; ++i) others += ItemsOf(copy)[i] != item;
        EXPECT_EQ(item->lnkcnt, links + copy->number - others) << "one link per slot";
        APL_UnLinkTempEx(copy, HERE);
        EXPECT_EQ(item->lnkcnt, links);
    }
    APL_UnLinkEx(pairs, HERE);
}

TEST_F(StridedResults, GradeOfRowsAndMembershipOfRealsAreInOrder) {
    // Rows (⌊i÷7),0 for i from 0: runs of seven equal rows, whose order
    // a stable grade keeps in either direction.
    aplarray *i = APL_Sub(nullptr, APL_Interval(nullptr, nullptr, APL_Int(kN)), APL_Int(1));
    aplarray *groups = APL_Min(nullptr, nullptr, APL_Division(nullptr, i, APL_Int(7)));
    aplarray *rows = APL_LinkEx(APL_Catenate(MakeReal(1.5), groups, APL_Int(0)), HERE);
    ASSERT_NE(rows, nullptr);
    ASSERT_EQ(rows->rank, 2);
    EXPECT_EQ(Wrong(APL_GradeUp(nullptr, nullptr, rows), kN, [](int64_t k) { return k + 1; }), 0) << "⍋";
    std::vector<int32_t> down;
    for (int64_t g = (kN - 1) / 7; g >= 0; --g)
        for (int64_t k = 7 * g; k < 7 * g + 7 && k < kN; ++k) down.push_back(static_cast<int32_t>(k + 1));
    EXPECT_EQ(Wrong(APL_GradeDown(nullptr, nullptr, rows), kN, [&](int64_t k) { return down[k]; }), 0) << "⍒";
    APL_UnLinkEx(rows, HERE);
    // Membership sorts a REAL table: every value is found, none between.
    aplarray *reals = APL_LinkEx(APL_Add(nullptr, MakeReal(0.5), APL_Interval(nullptr, nullptr, APL_Int(kN))), HERE);
    ASSERT_NE(reals, nullptr);
    EXPECT_EQ(Wrong(APL_Element(nullptr, APL_Rotate(nullptr, nullptr, reals), reals), kN, [](int64_t) { return 1; }),
              0);
    EXPECT_EQ(
        Wrong(APL_Element(nullptr, APL_Add(nullptr, MakeReal(0.25), reals), reals), kN, [](int64_t) { return 0; }), 0);
    APL_UnLinkEx(reals, HERE);
}

}  // namespace
