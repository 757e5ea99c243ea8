// longwork_bench: the loops that look at the interrupt flag once a stride,
// run full size with the flag clear: X+X, 1E7⍴X, X[I] and ⍕X on 1E7 elements,
// and the structural copies (catenate, reverse, rotate, take, transpose, the
// grade of rows, membership of REAL data), each beside the plain C++ loop (or
// memcpy, or library sort) that does the same work. Then the latency of
// Ctrl-C: the wall time from the flag going up in the middle of long work to
// the call's return with INTERRUPT ERROR, its clean-up included.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("tree-vectorize")  // as the library's element loops are built
#endif

#include "apl.h"
#include "core/arrays.h"
#include "core/symtab.h"

#include "bench_support.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <thread>
#include <vector>

namespace {

constexpr int32_t kCount = 10000000;

// A linked REAL vector 0.5 1.5 2.5 ...; a linked INTG vector of indices that
// walks the array in a scattered order (origin 1).
struct Data {
    aplarray *reals;
    aplarray *indices;
    Data() {
        reals = APL_Link(APL_Create(1, APL_REAL, &kCount));
        indices = APL_Link(APL_Create(1, APL_INTG, &kCount));
        for (int32_t i = 0; i < kCount; ++i) {
            DataOf<double>(reals)[i] = i + 0.5;
            DataOf<int32_t>(indices)[i] = static_cast<int32_t>((i * 7919LL) % kCount) + 1;
        }
    }
};

Data &Shared() {
    static Data data;
    return data;
}

void Check(aplarray *result, benchmark::State &state) {
    if (!result) state.SkipWithError("error");
    APL_UnLinkTemp(result);
}

void Add(benchmark::State &state) {
    aplarray *x = Shared().reals;
    for (auto _ : state) Check(APL_Add(nullptr, x, x), state);
}

void AddPlainLoop(benchmark::State &state) {
    const double *x = DataOf<const double>(Shared().reals);
    for (auto _ : state) {
        std::vector<double> out(kCount);
        for (int32_t i = 0; i < kCount; ++i) out[i] = x[i] + x[i];
        benchmark::DoNotOptimize(out.data());
    }
}

void Reshape(benchmark::State &state) {
    aplarray *x = Shared().reals;
    for (auto _ : state) Check(APL_Shape(nullptr, APL_Int(kCount), x), state);
}

void ReshapeMemcpy(benchmark::State &state) {
    const double *x = DataOf<const double>(Shared().reals);
    for (auto _ : state) {
        std::vector<double> out(kCount);
        memcpy(out.data(), x, sizeof(double) * kCount);
        benchmark::DoNotOptimize(out.data());
    }
}

void Index(benchmark::State &state) {
    aplarray *x = Shared().reals;
    const int32_t one = 1;
    aplarray *list = APL_Link(APL_Create(1, APL_NESTED, &one));
    ItemsOf(list)[0] = APL_Link(Shared().indices);
    for (auto _ : state) Check(APL_IndexData(x, list, nullptr), state);
    APL_UnLink(list);
}

void IndexPlainLoop(benchmark::State &state) {
    const double *x = DataOf<const double>(Shared().reals);
    const int32_t *index = DataOf<const int32_t>(Shared().indices);
    for (auto _ : state) {
        std::vector<double> out(kCount);
        for (int32_t i = 0; i < kCount; ++i) out[i] = x[index[i] - 1];
        benchmark::DoNotOptimize(out.data());
    }
}

void Format(benchmark::State &state) {
    aplarray *x = Shared().indices;
    for (auto _ : state) Check(APL_Format(nullptr, nullptr, x), state);
}

void FormatPlainLoop(benchmark::State &state) {
    const int32_t *x = DataOf<const int32_t>(Shared().indices);
    for (auto _ : state) {
        std::vector<char> out(static_cast<size_t>(kCount) * 9 + 16);
        char *at = out.data();
        for (int32_t i = 0; i < kCount; ++i) at += snprintf(at, 12, " %d", x[i]);
        benchmark::DoNotOptimize(out.data());
    }
}

// ---- Structural copies ---------------------------------------------------------

void Catenate(benchmark::State &state) {
    aplarray *x = Shared().reals;
    for (auto _ : state) Check(APL_Catenate(nullptr, x, x), state);
}

void CatenateMemcpy(benchmark::State &state) {
    const double *x = DataOf<const double>(Shared().reals);
    for (auto _ : state) {
        std::vector<double> out(2 * static_cast<size_t>(kCount));
        memcpy(out.data(), x, sizeof(double) * kCount);
        memcpy(out.data() + kCount, x, sizeof(double) * kCount);
        benchmark::DoNotOptimize(out.data());
    }
}

void Reverse(benchmark::State &state) {
    aplarray *x = Shared().reals;
    for (auto _ : state) Check(APL_Rotate(nullptr, nullptr, x), state);
}

void ReversePlainLoop(benchmark::State &state) {
    const double *x = DataOf<const double>(Shared().reals);
    for (auto _ : state) {
        std::vector<double> out(kCount);
        std::reverse_copy(x, x + kCount, out.data());
        benchmark::DoNotOptimize(out.data());
    }
}

void RotateAndTake(benchmark::State &state) {
    aplarray *x = Shared().reals;
    for (auto _ : state) {
        Check(APL_Rotate(nullptr, APL_Int(3), x), state);
        Check(APL_Take(nullptr, APL_Int(1 - kCount), x), state);
    }
}

void RotateAndTakeMemcpy(benchmark::State &state) {
    const double *x = DataOf<const double>(Shared().reals);
    for (auto _ : state) {
        std::vector<double> rotated(kCount), taken(kCount - 1);
        memcpy(rotated.data(), x + 3, sizeof(double) * (kCount - 3));
        memcpy(rotated.data() + kCount - 3, x, sizeof(double) * 3);
        memcpy(taken.data(), x + 1, sizeof(double) * (kCount - 1));
        benchmark::DoNotOptimize(rotated.data());
        benchmark::DoNotOptimize(taken.data());
    }
}

constexpr int32_t kSide = 3162;  // a square of about 1E7 elements

aplarray *Square() {
    static aplarray *square = [] {
        const int32_t shape[] = {kSide, kSide};
        return APL_Link(APL_Shape(nullptr, MakeIntVector(shape, 2), Shared().reals));
    }();
    return square;
}

void Transpose(benchmark::State &state) {
    for (auto _ : state) Check(APL_Transpose(nullptr, nullptr, Square()), state);
}

void TransposePlainLoop(benchmark::State &state) {
    const double *x = DataOf<const double>(Square());
    for (auto _ : state) {
        std::vector<double> out(static_cast<size_t>(kSide) * kSide);
        for (int32_t r = 0; r < kSide; ++r)
            for (int32_t c = 0; c < kSide; ++c) out[static_cast<size_t>(c) * kSide + r] = x[r * kSide + c];
        benchmark::DoNotOptimize(out.data());
    }
}

// 1E6 rows of two INTG elements in a scattered order.
constexpr int32_t kRows = 1000000;

aplarray *Rows() {
    static aplarray *rows = [] {
        const int32_t shape[] = {kRows, 2};
        aplarray *r = APL_Link(APL_Create(2, APL_INTG, shape));
        for (int32_t i = 0; i < 2 * kRows; ++i) DataOf<int32_t>(r)[i] = static_cast<int32_t>((i * 7919LL) % 1000);
        return r;
    }();
    return rows;
}

void GradeRows(benchmark::State &state) {
    for (auto _ : state) Check(APL_GradeUp(nullptr, nullptr, Rows()), state);
}

void GradeRowsStableSort(benchmark::State &state) {
    const int32_t *x = DataOf<const int32_t>(Rows());
    for (auto _ : state) {
        std::vector<int32_t> order(kRows);
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(), [x](int32_t a, int32_t b) {
            return x[2 * a] != x[2 * b] ? x[2 * a] < x[2 * b] : x[2 * a + 1] < x[2 * b + 1];
        });
        benchmark::DoNotOptimize(order.data());
    }
}

void MemberReals(benchmark::State &state) {
    aplarray *x = Shared().reals;
    for (auto _ : state) Check(APL_Element(nullptr, x, x), state);
}

void MemberRealsSortAndSearch(benchmark::State &state) {
    const double *x = DataOf<const double>(Shared().reals);
    for (auto _ : state) {
        std::vector<double> sorted(x, x + kCount);
        std::sort(sorted.begin(), sorted.end());
        std::vector<int32_t> out(kCount);
        for (int32_t i = 0; i < kCount; ++i) out[i] = std::binary_search(sorted.begin(), sorted.end(), x[i]);
        benchmark::DoNotOptimize(out.data());
    }
}

// ---- Ctrl-C latency ------------------------------------------------------------
// Each iteration starts the work, raises the flag from another thread 20 ms
// in (as the console's signal handler does) and times from the flag to the
// return; that span is the iteration's time. A machine shared with other work
// stretches it: the figure is a measurement, never a bound.
template <class Work>
void InterruptLatency(benchmark::State &state, Work work) {
    using Clock = std::chrono::steady_clock;
    for (auto _ : state) {
        APL_interrupted = 0;
        Clock::time_point raised;
        std::thread flag([&raised] {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            raised = Clock::now();
            APL_interrupted = 1;
        });
        aplarray *result = work();
        const Clock::time_point returned = Clock::now();
        flag.join();
        if (result || aplerrno != APL_ERR_INTERRUPT) {
            state.SkipWithError("the work ended before the flag went up");
            APL_UnLinkTemp(result);
            break;
        }
        aplerrno = 0;
        state.SetIterationTime(std::chrono::duration<double>(returned - raised).count());
    }
    APL_interrupted = 0;
}

// The enclosed pair ⊂1 2, a temporary.
aplarray *EnclosedPair() {
    const int32_t two = 2;
    aplarray *pair = APL_Create(1, APL_INTG, &two);
    DataOf<int32_t>(pair)[0] = 1;
    DataOf<int32_t>(pair)[1] = 2;
    return APL_Enclose(nullptr, nullptr, pair);
}

// X+X on 1E8 INTG elements.
void InterruptAdd(benchmark::State &state) {
    aplarray *x = APL_Link(APL_Shape(nullptr, APL_Int(100000000), APL_Int(3)));
    InterruptLatency(state, [x] { return APL_Add(nullptr, x, x); });
    APL_UnLink(x);
}

// 1E7/⊂1 2: a nested result whose items are linked as they are copied.
void InterruptNestedReplicate(benchmark::State &state) {
    InterruptLatency(state, [] { return APL_Replicate(nullptr, APL_Int(10000000), EnclosedPair()); });
}

// ⍕3E6⍴⊂1 2: the format of a long nested vector.
void InterruptNestedFormat(benchmark::State &state) {
    aplarray *pairs = APL_Link(APL_Shape(nullptr, APL_Int(3000000), EnclosedPair()));
    InterruptLatency(state, [pairs] { return APL_Format(nullptr, nullptr, pairs); });
    APL_UnLink(pairs);
}

}  // namespace

BENCHMARK(CatenateMemcpy)->Unit(benchmark::kMillisecond);
BENCHMARK(Catenate)->Unit(benchmark::kMillisecond);
BENCHMARK(ReversePlainLoop)->Unit(benchmark::kMillisecond);
BENCHMARK(Reverse)->Unit(benchmark::kMillisecond);
BENCHMARK(RotateAndTakeMemcpy)->Unit(benchmark::kMillisecond);
BENCHMARK(RotateAndTake)->Unit(benchmark::kMillisecond);
BENCHMARK(TransposePlainLoop)->Unit(benchmark::kMillisecond);
BENCHMARK(Transpose)->Unit(benchmark::kMillisecond);
BENCHMARK(GradeRowsStableSort)->Unit(benchmark::kMillisecond);
BENCHMARK(GradeRows)->Unit(benchmark::kMillisecond);
BENCHMARK(MemberRealsSortAndSearch)->Unit(benchmark::kMillisecond);
BENCHMARK(MemberReals)->Unit(benchmark::kMillisecond);
BENCHMARK(AddPlainLoop)->Unit(benchmark::kMillisecond);
BENCHMARK(Add)->Unit(benchmark::kMillisecond);
BENCHMARK(ReshapeMemcpy)->Unit(benchmark::kMillisecond);
BENCHMARK(Reshape)->Unit(benchmark::kMillisecond);
BENCHMARK(IndexPlainLoop)->Unit(benchmark::kMillisecond);
BENCHMARK(Index)->Unit(benchmark::kMillisecond);
BENCHMARK(FormatPlainLoop)->Unit(benchmark::kMillisecond);
BENCHMARK(Format)->Unit(benchmark::kMillisecond);
BENCHMARK(InterruptAdd)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(InterruptNestedReplicate)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(InterruptNestedFormat)->UseManualTime()->Unit(benchmark::kMillisecond);

int main(int argc, char **argv) { return bench_support::RunInProgramMode(argc, argv); }
