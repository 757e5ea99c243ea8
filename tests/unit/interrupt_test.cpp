// Ctrl-C reaching long primitives: a timer thread sets the host's interrupt
// flag while 1E8-element work runs; the work stops with INTERRUPT ERROR,
// frees what it built and leaves linked arguments as they were.
#include "support.h"

#include "core/errors.h"
#include "core/symtab.h"

#include <pthread.h>
#include <time.h>

#include <chrono>
#include <thread>
#include <vector>

namespace {

constexpr int32_t kBig = 100000000;  // 1E8 elements

// Seconds of CPU time that a thread has used, read through its clock from
// any thread.
double CpuSeconds(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Sets APL_interrupted from another thread a few milliseconds from now, as
// the console's signal handler does; the flag is left set for the test to
// see (only the session clears it). The working thread's CPU clock is read
// when the flag goes up, so that the time to stop is measured in work done,
// whatever else the machine is running.
class InterruptSoon {
public:
    explicit InterruptSoon(int milliseconds) {
        pthread_getcpuclockid(pthread_self(), &worker_);
        thread_ = std::thread([this, milliseconds] {
            std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
            atFlag_ = CpuSeconds(worker_);
            APL_interrupted = 1;
        });
    }
    InterruptSoon(const InterruptSoon &) = delete;
    InterruptSoon &operator=(const InterruptSoon &) = delete;
    ~InterruptSoon() {
        if (thread_.joinable()) thread_.join();
    }
    // CPU seconds that the calling thread spent after the flag went up.
    double SecondsAfterFlag() {
        const double now = CpuSeconds(worker_);
        thread_.join();
        return now - atFlag_;
    }

private:
    clockid_t worker_{};
    double atFlag_ = 0;
    std::thread thread_;
};

// Work interrupted must stop within this much CPU time of the flag, its
// clean-up included.
constexpr double kPromptStop = 0.1;

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

    // 1E8 INTG elements 1 2 3 1 2 3 ..., held by the test (one link); made
    // before any timer starts.
    aplarray *Big() { return big_; }
    void MakeBig() {
        const int32_t steps[] = {1, 2, 3};
        big_ = APL_LinkEx(APL_Shape(nullptr, APL_Int(kBig), MakeIntVector(steps, 3)), HERE);
        ASSERT_NE(big_, nullptr) << "error " << aplerrno;
    }

    // Runs the call with the flag raised some milliseconds in; expects
    // INTERRUPT ERROR and nothing returned, and the flag still set.
    template <class Call>
    void ExpectInterrupted(Call call, const char *what, int milliseconds = 5) {
        aplerrno = 0;
        aplarray *result;
        double late;
        {
            InterruptSoon timer(milliseconds);
            result = call();
            late = timer.SecondsAfterFlag();
        }
        EXPECT_EQ(result, nullptr) << what;
        EXPECT_LT(late, kPromptStop) << what << ": seconds from the flag to the stop";
        EXPECT_EQ(aplerrno, APL_ERR_INTERRUPT) << what;
        EXPECT_EQ(APL_interrupted, 1) << what << ": only the session clears the flag";
        APL_UnLinkTempEx(result, HERE);
        aplerrno = 0;
        APL_interrupted = 0;
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
    for (int milliseconds : {5, 25, 60})
        ExpectInterrupted([&] { return APL_Replicate(nullptr, APL_Int(10000000), enclosedPair()); }, "1E7/⊂1 2",
                          milliseconds);
    aplarray *pairs = APL_LinkEx(APL_Shape(nullptr, APL_Int(3000000), enclosedPair()), HERE);
    ASSERT_NE(pairs, nullptr);
    held_.push_back(pairs);
    ExpectInterrupted([&] { return APL_Format(nullptr, nullptr, pairs); }, "⍕3E6⍴⊂1 2");
    EXPECT_EQ(pairs->lnkcnt, 1);
    ExpectUnchanged(m);
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

}  // namespace
