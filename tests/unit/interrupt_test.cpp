// Ctrl-C reaching long primitives: the interrupt flag goes up at a chosen
// check of the flag while 1E7-element work runs; the work stops at the next
// check, frees what it built and leaves linked arguments as they were. The
// checks are counted, not timed, so a slow or busy machine gives the same
// result as a fast one.
#include "support.h"

#include "core/errors.h"
#include "core/symtab.h"

#include <vector>

namespace {

constexpr int32_t kBig = 10000000;  // 1E7 elements: 152 strides, more than any test waits for

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

    // 1E7 INTG elements 1 2 3 1 2 3 ..., held by the test (one link).
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
    ExpectInterrupted([] { return APL_Shape(nullptr, APL_Int(kBig), MakeReal(1.5)); }, "1E7⍴1.5");
    ExpectInterrupted([&] { return APL_Shape(nullptr, APL_Int(kBig), Big()); }, "1E7⍴X");
    ExpectInterrupted([] { return APL_Interval(nullptr, nullptr, APL_Int(kBig)); }, "⍳1E7");
    ExpectInterrupted([&] { return APL_Interval(nullptr, Big(), Big()); }, "X⍳X");
    ExpectBigUnchanged();
}

TEST_F(Interrupt, IndexingAndIndexedAssignmentStop) {
    MakeBig();
    // X[X]: 1E7 indices into X itself.
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
    // One count of 1E7: the copies, not the counts, are what take the time.
    ExpectInterrupted([] { return APL_Replicate(nullptr, APL_Int(kBig), APL_Int(5)); }, "1E7/5");
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
    ExpectInterrupted([&] { return APL_Take(nullptr, APL_Int(-(kBig - 1)), Big()); }, "(1-1E7)↑X");
    ExpectInterrupted([&] { return APL_Take(nullptr, APL_Int(kBig + 1), Big()); }, "(1+1E7)↑X");
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
    // One amount per vector: each vector turned on its own (a row's amount
    // for each row under ⌽, a column's for each column under ⊖).
    auto ones = [&](int32_t count) {
        aplarray *amounts = APL_LinkEx(APL_Shape(nullptr, APL_Int(count), APL_Int(1)), HERE);
        held_.push_back(amounts);
        return amounts;
    };
    aplarray *rowAmounts = ones(10000), *columnAmounts = ones(kBig / 10000);
    ExpectInterrupted([&] { return APL_Rotate(nullptr, rowAmounts, m); }, "(10000⍴1)⌽M");
    ExpectInterrupted([&] { return APL_Rotate1(nullptr, columnAmounts, m); }, "(1000⍴1)⊖M");
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
    ExpectInterrupted([] { return APL_Roll(nullptr, APL_Int(kBig), APL_Int(kBig)); }, "1E7?1E7");
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

}  // namespace
